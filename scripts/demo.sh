#!/usr/bin/env bash
# Builds the native release program and shows what it does.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
# shellcheck source=scripts/packages.sh
. "${ROOT}/scripts/packages.sh"

install_missing_packages cmake ninja-build g++ libgtest-dev

targets=(twtrim32)
[ -f tools/mkboard.cc ] && targets+=(mkboard)
cmake --preset release
cmake --build --preset release -j "${TWTRIM_JOBS:-2}" --target "${targets[@]}"

# show COMMAND...: echoes a command, runs it and shows its exit code (1 is a normal dry-run
# result, so a non-zero code does not stop the demo).
show() {
  echo
  echo "\$ $*"
  local rc=0
  "$@" || rc=$?
  echo "[exit code ${rc}]"
}

BOARD=build/sample-board

show build/twtrim32 /VERSION

# The bundled sample board, made afresh: five conferences (clean, repairs, a pack, one
# blocked by overlapping bodies, one with validation errors), an idle caller table and the
# test-copy marker that lets /WRITE /TESTCOPY rehearse on it.
rm -rf "$BOARD"
show build/mkboard sample "$BOARD"

# What a nightly preview shows: concise, then the full diagnostic report.
show build/twtrim32 /ALL /DRYRUN "/HOME=$BOARD"
show build/twtrim32 /ALL /DRYRUN /V "/HOME=$BOARD"

# /ALL would be refused (conference 4 is blocked, 5 has validation errors), so rehearse a
# real pack of the three writable conferences on this marked test copy.
show build/twtrim32 /CONF1..3 /WRITE /TESTCOPY "/HOME=$BOARD"
echo
echo "Verified backup made by the write:"
find "$BOARD/TWTRIM32-BACKUPS" -type f 2>/dev/null | sort || true
echo
echo "Every run above was also appended to $BOARD/TWTRIM32_REPORT.TXT."
