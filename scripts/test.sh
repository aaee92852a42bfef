#!/usr/bin/env bash
# shellcheck disable=SC2317  # the step functions are called through step()
# Builds and runs every test of TWTRIM32:
#   1. native build with AddressSanitizer and UndefinedBehaviorSanitizer, all CTest suites;
#   2. the Windows 32-bit product TWTRIM32.EXE, compiled and linked;
#   3. the Windows 64-bit build, its test programs run under Wine;
#   4. the 32-bit POSIX build (g++ -m32), its test programs run under qemu-i386;
#   5. a short bounded run of every libFuzzer target on its seed corpus.
# Test programs run as GoogleTest shards side by side, fuzzers TWTRIM_JOBS at a time.
# Installs what a fresh Debian machine lacks. Ends with "N passed, N failed, N skipped" (steps
# passed and failed, GoogleTest cases that skipped themselves: named apart, never counted as
# passes); exits non-zero when anything failed.
#
# Environment: TWTRIM_JOBS (parallel jobs, default 2), TWTRIM_FUZZ_SECONDS (time per fuzz
# target, default 10; raise it for a long fuzzing session).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT" || exit 1

JOBS="${TWTRIM_JOBS:-2}"
FUZZ_SECONDS="${TWTRIM_FUZZ_SECONDS:-10}"
PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 groff-base dpkg-dev
  g++-multilib qemu-user)
WINE=/usr/lib/wine/wine64
# shellcheck source=scripts/packages.sh
. "${ROOT}/scripts/packages.sh"

# Repeated runs recompile little when ccache is installed (read by CMake at first configure).
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi

passed=0
failed=0
failures=()
skipped=0
skips=()

# count_skips LABEL LOG...: the GoogleTest cases the logs show as skipped.
count_skips() {
  local label="$1" name
  shift
  while read -r name; do
    skipped=$((skipped + 1))
    skips+=("${label}: ${name}")
  done < <(cat "$@" 2>/dev/null | tr -d '\r' |
    sed -n 's/^\[  SKIPPED \] \([^ ]*\.[^ ]*\) ([0-9]* ms)$/\1/p')
}

# step NAME COMMAND...: runs one counted step and records its outcome.
step() {
  local name="$1" start=$SECONDS
  shift
  echo
  echo "=== ${name}"
  if "$@"; then
    passed=$((passed + 1))
    echo "--- PASS: ${name} ($((SECONDS - start)) s)"
    return 0
  fi
  failed=$((failed + 1))
  failures+=("${name}")
  echo "--- FAIL: ${name} ($((SECONDS - start)) s)"
  return 1
}

finish() {
  echo
  local f
  for f in "${skips[@]+"${skips[@]}"}"; do
    echo "SKIPPED: ${f}"
  done
  for f in "${failures[@]+"${failures[@]}"}"; do
    echo "FAILED: ${f}"
  done
  # Steps passed and failed; test cases skipped.
  echo "${passed} passed, ${failed} failed, ${skipped} skipped"
  [ "${failed}" -eq 0 ]
  exit $?
}

configure_and_build() {
  local preset="$1"
  shift
  # Unity batches compile the headers (GoogleTest's above all) once per batch, not once per
  # file: a cold build takes about a third less. -k 0: every broken file is shown.
  cmake --preset "${preset}" -DCMAKE_UNITY_BUILD=ON &&
    cmake --build --preset "${preset}" -j "${JOBS}" "$@" -- -k 0
}

# fresh BUILD_DIR TARGET: true when TARGET is built and up to date. After a failed full build
# the test programs that still build are run, so one broken file hides no other result.
fresh() {
  cmake --build "$1" -j "${JOBS}" --target "$2" >/dev/null 2>&1
}

# The test program behind each CTest name.
test_program() {
  case "$1" in
    unit) echo twtrim_tests ;;
    e2e) echo twtrim_e2e_tests ;;
    *) echo "$1" ;;
  esac
}

# The names of the tests CTest knows in build directory $1, a sharded program's shards
# (unit.1, unit.2, ...) under one name.
ctest_names() {
  [ -f "$1/CTestTestfile.cmake" ] || return 0
  (cd "$1" && ctest -N) | sed -n 's/^ *Test *#[0-9]*: *//p' | sed 's/\.[0-9]*$//' | uniq
}

# run_ctest BUILD_DIR NAME: the test NAME, its shards side by side.
run_ctest() {
  (cd "$1" && ctest --output-on-failure --no-tests=error -j "${JOBS}" -R "^$2(\.[0-9]+)?\$")
}

# --- native ---------------------------------------------------------------------------------
native() {
  local built=1 names name program ran=0
  step "native build (asan)" configure_and_build asan || built=0
  names="$(ctest_names build-asan)"
  export UBSAN_OPTIONS="print_stacktrace=1:${UBSAN_OPTIONS:-}"
  for name in ${names}; do
    program="$(test_program "${name}")"
    if [ "${built}" -eq 1 ] || fresh build-asan "${program}"; then
      step "native ${name} tests" run_ctest build-asan "${name}"
      count_skips "native ${name}" build-asan/Testing/Temporary/LastTest.log
      ran=1
    else
      echo "(native ${name} tests not run: ${program} does not build)"
    fi
  done
  if [ "${built}" -eq 1 ] && [ "${ran}" -eq 0 ]; then
    step "native tests present" false
  fi
}

# --- Windows --------------------------------------------------------------------------------
wineserver_bin() {
  if command -v wineserver >/dev/null; then
    command -v wineserver
  else
    echo /usr/lib/wine/wineserver64
  fi
}

WINESERVER_STARTED=0

start_wine() {
  export WINEPREFIX="${ROOT}/build-win64/wineprefix"
  export WINEDEBUG=-all
  # No Mono or Gecko installer prompts: console programs need neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "${WINEPREFIX}" || return 1
  "$(wineserver_bin)" -p || return 1
  WINESERVER_STARTED=1
  "${WINE}" wineboot --init >/dev/null 2>&1
  return 0
}

stop_wine() {
  if [ "${WINESERVER_STARTED}" -eq 1 ]; then
    "$(wineserver_bin)" -k >/dev/null 2>&1
    WINESERVER_STARTED=0
  fi
}

# run_shards DIR PROGRAM RUNNER...: PROGRAM's GoogleTest shards, run in DIR by RUNNER, JOBS at a
# time, as CTest runs them natively; each shard's output is shown whole once all have ended.
run_shards() {
  local dir="$1" program="$2" shards=$((JOBS * 4)) shard status=0
  shift 2
  for ((shard = 0; shard < shards; shard++)); do
    if ((shard >= JOBS)); then wait -n || status=1; fi
    (cd "${dir}" && GTEST_TOTAL_SHARDS="${shards}" GTEST_SHARD_INDEX="${shard}" \
      "$@" "./${program}" >"${program}.shard${shard}.log" 2>&1) &
  done
  for ((shard = 0; shard < JOBS && shard < shards; shard++)); do
    wait -n || status=1
  done
  for ((shard = 0; shard < shards; shard++)); do
    cat "${dir}/${program}.shard${shard}.log"
  done
  return "${status}"
}

windows() {
  step "win32 build (TWTRIM32.EXE, the i686 product)" configure_and_build win32 --target twtrim32
  local built=1 program runnable=()
  step "win64 build (x86_64)" configure_and_build win64 || built=0
  for program in twtrim_tests twtrim_e2e_tests; do
    if [ "${built}" -eq 1 ] && [ -f "build-win64/${program}.exe" ]; then
      runnable+=("${program}")
    elif [ "${built}" -eq 0 ] && fresh build-win64 "${program}"; then
      runnable+=("${program}")
    elif [ "${built}" -eq 0 ]; then
      echo "(wine ${program} not run: it does not build)"
    fi
  done
  if [ ${#runnable[@]} -eq 0 ]; then
    [ "${built}" -eq 1 ] && step "wine tests present" false
    return
  fi
  step "wine start" start_wine || return
  # The end-to-end tests start the Windows program by its Windows path.
  export TWTRIM32_BIN="Z:${ROOT//\//\\}\\build-win64\\TWTRIM32.EXE"
  for program in "${runnable[@]}"; do
    step "wine ${program}" run_shards build-win64 "${program}.exe" "${WINE}"
    count_skips "wine ${program}" "build-win64/${program}.exe".shard*.log
  done
  unset TWTRIM32_BIN
}

# --- 32-bit POSIX ----------------------------------------------------------------------------
# The kernel may not run i386 programs itself (no binfmt registration is assumed), so every
# 32-bit program goes through qemu-i386, the end-to-end tests' child included: its wrapper keeps
# the name it was started by as argv[0], which the report shows.
linux32() {
  step "linux32 build (g++ -m32)" configure_and_build linux32 \
    --target twtrim32 twtrim_tests twtrim_e2e_tests || return
  local wrapper="${ROOT}/build-linux32/twtrim32-qemu" program
  printf '#!/bin/sh\nexec qemu-i386 -0 "$0" "%s" "$@"\n' "${ROOT}/build-linux32/twtrim32" \
    >"${wrapper}" && chmod +x "${wrapper}" || return
  export TWTRIM32_BIN="${wrapper}"
  for program in twtrim_tests twtrim_e2e_tests; do
    step "linux32 ${program} (qemu-i386)" run_shards build-linux32 "${program}" qemu-i386
    count_skips "linux32 ${program}" "build-linux32/${program}".shard*.log
  done
  unset TWTRIM32_BIN
}

# --- fuzzing --------------------------------------------------------------------------------
run_fuzzer() {
  local name="$1" work="build-fuzz/fuzz-work/$1" artifacts="build-fuzz/fuzz-artifacts/$1/"
  local seeds="tests/fuzz/corpus/$1"
  mkdir -p "${work}" "${artifacts}"
  # New inputs go to the first (scratch) directory; the seeds in the tree stay untouched.
  local corpora=("${work}")
  [ -d "${seeds}" ] && corpora+=("${seeds}")
  "build-fuzz/${name}" -max_total_time="${FUZZ_SECONDS}" -print_final_stats=1 \
    -artifact_prefix="${artifacts}" "${corpora[@]}"
}

# finish_fuzzer NAME PID: waits for the fuzzer started in the background and shows its output.
finish_fuzzer() {
  local status=0
  wait "$2" || status=1
  cat "build-fuzz/fuzz-work/$1.log"
  return "${status}"
}

fuzz() {
  local sources=(tests/fuzz/*_fuzz.cc)
  [ -e "${sources[0]}" ] || return 0
  step "fuzz build (clang, libFuzzer)" configure_and_build fuzz --target fuzzers || return
  # JOBS targets at a time, each a step of its own.
  local names=() source i j pids=()
  mkdir -p build-fuzz/fuzz-work
  for source in "${sources[@]}"; do names+=("$(basename "${source}" .cc)"); done
  for ((i = 0; i < ${#names[@]}; i += JOBS)); do
    pids=()
    for ((j = i; j < i + JOBS && j < ${#names[@]}; j++)); do
      run_fuzzer "${names[j]}" >"build-fuzz/fuzz-work/${names[j]}.log" 2>&1 &
      pids+=($!)
    done
    for ((j = i; j < i + ${#pids[@]}; j++)); do
      step "fuzz ${names[j]} (${FUZZ_SECONDS} s)" finish_fuzzer "${names[j]}" "${pids[j - i]}"
    done
  done
}

trap stop_wine EXIT
trap 'exit 130' INT TERM

if ! step "install build and test tools" install_missing_packages "${PACKAGES[@]}"; then
  finish
fi
native
windows
stop_wine
linux32
fuzz
finish
