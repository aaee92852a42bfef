#!/usr/bin/env bash
# Builds the Debian package of a built tree with CPack, into a scratch directory, and checks it;
# exits 77 (skipped) where dpkg-deb or cpack is missing.   deb_test.sh BUILD_DIR
set -euo pipefail
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "${tool}" >/dev/null || { echo "SKIP: ${tool} is not installed"; exit 77; }
done
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
(cd "$1" && cpack -G DEB -B "${work}" >"${work}/log" 2>&1) || { cat "${work}/log" >&2; exit 1; }
bash "$(dirname "$0")/check_deb.sh" "${work}"/*.deb "$1"
