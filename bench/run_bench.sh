#!/usr/bin/env bash
# Benchmark of the dry run and of the whole-file fingerprint, run by hand:
#
#   bench/run_bench.sh
#
# Builds a Release tree in build-bench, writes two boards with mkboard (kept
# between runs in build-bench/data), and reports wall time, records per
# second and peak memory of concise dry runs, then the fingerprint figures.
#
#   1. one conference of 2,000,000 records (PTR 512 MiB), /CONF1 /DRYRUN
#      targets: at least 3 million records per second, peak memory below 200 MiB
#   2. 100 conferences x 20,000 records with bodies, /ALL /DRYRUN
#   3. FingerprintFile against a bare FNV-1a loop over the 512 MiB PTR file
#      target: at least 95 % of the bare loop's throughput
#
# Smaller runs for trying the script: LARGE_RECORDS, CONFERENCES and
# CONFERENCE_RECORDS override the sizes; BENCH_DATA moves the boards.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-bench"
DATA="${BENCH_DATA:-$BUILD/data}"
LARGE_RECORDS="${LARGE_RECORDS:-2000000}"
LARGE_DELETED="${LARGE_DELETED:-10}"
CONFERENCES="${CONFERENCES:-100}"
CONFERENCE_RECORDS="${CONFERENCE_RECORDS:-20000}"
BOARD_DELETED="${BOARD_DELETED:-10}"
BOARD_MAX_BLOCKS="${BOARD_MAX_BLOCKS:-4}"

if [ ! -x /usr/bin/time ]; then
  echo "Installing GNU time (package 'time')..."
  apt-get install -y time >/dev/null || { apt-get update >/dev/null && apt-get install -y time >/dev/null; }
fi

BENCH_CXX_FLAGS="${BENCH_CXX_FLAGS:-}"

echo "== Release build in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTWTRIM_BUILD_TESTS=OFF \
  -DTWTRIM_SANITIZE=OFF -DTWTRIM_BENCH=ON "-DCMAKE_CXX_FLAGS=${BENCH_CXX_FLAGS:-}" >/dev/null
cmake --build "$BUILD" -j2 --target twtrim32 mkboard fingerprint_bench >/dev/null

mkdir -p "$DATA"

field() {  # /usr/bin/time -v field name, file
  sed -n "s/^[[:space:]]*$1: //p" "$2"
}

wall_seconds() {  # h:mm:ss or m:ss.cc -> seconds
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }' <<<"$1"
}

run_dry() {  # title, records, home, selector
  local title="$1" records="$2" home="$3" selector="$4"
  local out="$DATA/run.out" timing="$DATA/run.time"
  local code=0
  /usr/bin/time -v -o "$timing" "$BUILD/twtrim32" "$selector" /DRYRUN "/HOME=$home" /NOLOG \
    >"$out" || code=$?
  local wall rss seconds user sys cpu
  wall="$(field 'Elapsed (wall clock) time (h:mm:ss or m:ss)' "$timing")"
  user="$(field 'User time (seconds)' "$timing")"
  sys="$(field 'System time (seconds)' "$timing")"
  cpu="$(field 'Percent of CPU this job got' "$timing")"
  rss="$(field 'Maximum resident set size (kbytes)' "$timing")"
  seconds="$(wall_seconds "$wall")"
  echo
  echo "== $title: $selector /DRYRUN, $records records"
  { grep -E '^(PREVIEW RESULT|Exit code):' "$out" || true; } | sed 's/^/   /'
  echo "   wall time:          $seconds s"
  awk -v r="$records" -v s="$seconds" \
    'BEGIN { if (s > 0) printf "   records per second: %.0f\n", r / s; else print "   records per second: (too fast to time)" }'
  awk -v r="$records" -v u="$user" -v y="$sys" -v p="$cpu" 'BEGIN {
    t = u + y; printf "   processor time:     %.2f s (user %.2f, system %.2f; %s of a CPU)\n", t, u, y, p
    if (t > 0) printf "   records per processor second: %.0f\n", r / t }'
  awk -v k="$rss" 'BEGIN { printf "   peak memory:        %.1f MiB\n", k / 1024 }'
  # A dry run fingerprints every scanned file twice (snapshot, verification);
  # taking that out at the measured fingerprint speed leaves the scan itself.
  local bytes
  bytes="$(find "$home" -maxdepth 2 -type f \( -name 'TWMSG*.PTR' -o -name 'TWMSG*.IDX' \
    -o -name 'TWMSG*.DAT' -o -name TWMCONF.DAT \) -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
  awk -v r="$records" -v u="$user" -v y="$sys" -v b="$bytes" -v m="$PRINT_MIBS" 'BEGIN {
    h = 2 * b / (m * 1048576); t = u + y
    printf "   integrity passes:   %.2f s (2 x %.0f MiB at %.0f MiB/s, estimated)\n", h, b / 1048576, m
    if (t - h > 0) printf "   scan alone:         %.0f records per processor second (estimated)\n", r / (t - h) }'
}

echo
echo "== Boards"
write_board() {  # name, stamp, mkboard command, options...
  local name="$1" stamp="$2" command="$3"
  shift 3
  local home="$DATA/$name"
  if [ -f "$home.stamp" ] && [ "$(cat "$home.stamp")" = "$stamp" ]; then
    echo "   reusing $home"
    return
  fi
  rm -rf "$home" "$home.stamp"
  "$BUILD/mkboard" "$command" "$home" "$@" | sed 's/^/   /'
  echo "$stamp" >"$home.stamp"
}
write_board large "$LARGE_RECORDS/$LARGE_DELETED" large \
  --records "$LARGE_RECORDS" --deleted "$LARGE_DELETED"
write_board board "$CONFERENCES/$CONFERENCE_RECORDS/$BOARD_DELETED/$BOARD_MAX_BLOCKS" random \
  --seed 1 --conferences "$CONFERENCES" --records "$CONFERENCE_RECORDS" \
  --deleted "$BOARD_DELETED" --max-blocks "$BOARD_MAX_BLOCKS"

echo
echo "== Fingerprint"
"$BUILD/bench/fingerprint_bench" "$DATA/large/MESSAGE/TWMSG01.PTR" 5 | tee "$DATA/fingerprint.out" |
  sed 's/^/   /'
PRINT_MIBS="$(sed -n 's/^ *FingerprintFile: *\([0-9.]*\) MiB.*/\1/p' "$DATA/fingerprint.out")"

run_dry "Large conference" "$LARGE_RECORDS" "$DATA/large" /CONF1
run_dry "Board of $CONFERENCES conferences" "$((CONFERENCES * CONFERENCE_RECORDS))" \
  "$DATA/board" /ALL


# A packing write of the whole board on a scratch copy (the board itself is kept for the
# next run). Its floor is the fingerprint passes the safeguards demand: the snapshot and four
# verifications of every listed file, the staged-file proof, the two proofs of every backup
# copy and the compare-mode proof after the commit; the rest is the rebuild and the copies.
echo
echo "== Write: /ALL /WRITE /TESTCOPY on a copy of the $CONFERENCES-conference board"
scratch="$DATA/write-copy"
rm -rf "$scratch"
cp -r "$DATA/board" "$scratch"
: >"$scratch/TWTRIM32_TESTCOPY.OK"
listed_bytes() {  # home -> bytes of TWMCONF.DAT and every conference file
  find "$1" -maxdepth 2 -type f \( -name 'TWMSG*.PTR' -o -name 'TWMSG*.IDX' \
    -o -name 'TWMSG*.DAT' -o -name TWMCONF.DAT \) -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'
}
before_bytes="$(listed_bytes "$scratch")"
code=0
/usr/bin/time -v -o "$DATA/write.time" "$BUILD/twtrim32" /ALL /WRITE /TESTCOPY \
  "/HOME=$scratch" /NOLOG >"$DATA/write.out" || code=$?
after_bytes="$(listed_bytes "$scratch")"
{ grep -E '^(WRITE RESULT|Exit code):' "$DATA/write.out" || true; } | sed 's/^/   /'
wall="$(wall_seconds "$(field 'Elapsed (wall clock) time (h:mm:ss or m:ss)' "$DATA/write.time")")"
awk -v w="$wall" -v b="$before_bytes" -v a="$after_bytes" -v m="$PRINT_MIBS" 'BEGIN {
  mib = 1048576
  # snapshot and three verifications (after the scan, before backup, before commit): 4 b;
  # the staged proof, the compare-mode proof and the after-write check: 3 a;
  # every backup copy proven against its source: 2 b
  hashed = 6 * b + 3 * a
  printf "   wall time:          %.2f s\n", w
  printf "   bytes hashed:       %.0f MiB (listed files %.0f MiB before, %.0f MiB after)\n", hashed / mib, b / mib, a / mib
  printf "   fingerprint floor:  %.2f s at %.0f MiB/s\n", hashed / (m * mib), m
  if (w > 0) printf "   share of the write spent proving files: %.0f %%\n", 100 * hashed / (m * mib) / w }'
echo "   (exit code $code)"
rm -rf "$scratch"
