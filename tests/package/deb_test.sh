#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree with CPack, into
# a scratch directory, and checks it. Exits 77 (skipped) where dpkg-deb or
# cpack is missing.
#   deb_test.sh BUILD_DIR
set -euo pipefail

build="$1"
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  if ! command -v "${tool}" >/dev/null; then
    echo "SKIP: ${tool} is not installed"
    exit 77
  fi
done
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT

if ! log="$(cd "${build}" && cpack -G DEB -B "${work}" 2>&1)"; then
  echo "FAIL: cpack -G DEB failed:" >&2
  echo "${log}" >&2
  exit 1
fi
debs=("${work}"/*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: cpack made no single .deb:" >&2
  echo "${log}" >&2
  exit 1
fi
bash "$(dirname "${BASH_SOURCE[0]}")/check_deb.sh" "${debs[0]}" "${build}"
