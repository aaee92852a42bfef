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

show build/twtrim32 /VERSION
show build/twtrim32 /HELP

# ---- SAMPLE BOARD: not yet shown ---------------------------------------------------------
# Here the bundled sample board is generated into the build tree and dry-run twice:
#   show build/mkboard sample build/sample-board
#   show build/twtrim32 /ALL /DRYRUN /HOME=build/sample-board /NOLOG
#   show build/twtrim32 /ALL /DRYRUN /V /HOME=build/sample-board /NOLOG
# -------------------------------------------------------------------------------------------
