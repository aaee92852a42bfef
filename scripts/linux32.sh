#!/usr/bin/env bash
# The 32-bit lane: builds the native program and its test programs for 32-bit
# x86 (preset linux32, g++ -m32) and runs the unit and end-to-end suites under
# qemu-i386, called explicitly (no binfmt registration needed), with the sweeps
# at their reduced counts. Proves the size, position, inode and time
# arithmetic of a 32-bit build. Ends with "linux32: PASS" or "linux32: FAIL";
# exits non-zero on failure.
#
# Environment: TWTRIM_JOBS (parallel jobs, default 2).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT" || exit 1
JOBS="${TWTRIM_JOBS:-2}"
BUILD=build-linux32
# shellcheck source=scripts/packages.sh
. "${ROOT}/scripts/packages.sh"

if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi

verdict() {
  echo "linux32: $1"
  [ "$1" = PASS ]
  exit $?
}

# run_shards PROGRAM: its GoogleTest shards under qemu-i386, JOBS at a time; each shard's
# output is shown once all have ended.
run_shards() {
  local program="$1" shards=$((JOBS * 2)) shard status=0
  for ((shard = 0; shard < shards; shard++)); do
    if ((shard >= JOBS)); then wait -n || status=1; fi
    GTEST_TOTAL_SHARDS="${shards}" GTEST_SHARD_INDEX="${shard}" \
      qemu-i386 "${BUILD}/${program}" >"${BUILD}/${program}.shard${shard}.log" 2>&1 &
  done
  for ((shard = 0; shard < JOBS && shard < shards; shard++)); do
    wait -n || status=1
  done
  for ((shard = 0; shard < shards; shard++)); do
    cat "${BUILD}/${program}.shard${shard}.log"
  done
  return "${status}"
}

install_missing_packages cmake ninja-build g++-multilib qemu-user libgtest-dev || verdict FAIL
cmake --preset linux32 &&
  cmake --build --preset linux32 -j "${JOBS}" --target twtrim32 twtrim_tests twtrim_e2e_tests \
    -- -k 0 || verdict FAIL

# The end-to-end tests start the program as a child process; the kernel may not run i386
# programs itself, so the child goes through qemu-i386 as well, keeping the name it was started
# by as its argv[0] (the report shows the command line).
wrapper="${ROOT}/${BUILD}/twtrim32-qemu"
printf '#!/bin/sh\nexec qemu-i386 -0 "$0" "%s" "$@"\n' "${ROOT}/${BUILD}/twtrim32" >"${wrapper}" &&
  chmod +x "${wrapper}" || verdict FAIL

status=PASS
run_shards twtrim_tests || status=FAIL
TWTRIM32_BIN="${wrapper}" run_shards twtrim_e2e_tests || status=FAIL
verdict "${status}"
