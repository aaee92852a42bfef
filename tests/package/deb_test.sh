#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree with CPack, into
# a scratch directory, and checks it. Exits 77 (skipped) where dpkg-deb or
# cpack is missing.
#   deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "${tool}" >/dev/null || { echo "SKIP: ${tool} is not installed"; exit 77; }
done
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
log="$(cd "$1" && cpack -G DEB -B "${work}" 2>&1)" || { echo "FAIL: cpack -G DEB: ${log}" >&2; exit 1; }
debs=("${work}"/*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single .deb: ${log}" >&2; exit 1; }
bash "$(dirname "${BASH_SOURCE[0]}")/check_deb.sh" "${debs[0]}" "$2"
