#!/usr/bin/env bash
# Installs a build into a scratch DESTDIR the way a packager does and checks
# that the installed program runs and the manual page is where man looks.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build="$1"
source="$2"
dest="$(mktemp -d)"
trap 'rm -rf "${dest}"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

log="$(DESTDIR="${dest}" cmake --install "${build}" --prefix /usr 2>&1)" ||
  fail "cmake --install failed: ${log}"

program="${dest}/usr/bin/twtrim32"
page="${dest}/usr/share/man/man1/twtrim32.1"
[ -x "${program}" ] || fail "usr/bin/twtrim32 missing or not executable"
[ -f "${page}" ] || fail "usr/share/man/man1/twtrim32.1 missing"
cmp -s "${page}" "${source}/man/twtrim32.1" || fail "installed manual page differs from man/twtrim32.1"
[ -f "${dest}/usr/share/doc/twtrim32/README.md" ] || fail "usr/share/doc/twtrim32/README.md missing"

# Nothing but the programs, the page and the documentation.
unexpected="$(cd "${dest}" && find . -type f | sort |
  { grep -v -x -e ./usr/bin/twtrim32 -e ./usr/bin/mkboard -e ./usr/share/man/man1/twtrim32.1 \
    -e ./usr/share/doc/twtrim32/README.md -e ./usr/share/doc/twtrim32/copyright || true; })"
[ -z "${unexpected}" ] || fail "unexpected files installed: ${unexpected}"

# The installed copy answers /VERSION with the banner and exit status 0,
# from a directory that holds no board at all.
rc=0
version="$(cd "${dest}" && "${program}" /VERSION)" || rc=$?
[ "${rc}" -eq 0 ] || fail "installed twtrim32 /VERSION exited with ${rc}"
expected="$(printf 'TWTRIM32 %s - Safeguarded Tarnwick Message Packer\r' \
  "$(sed -n 's/.*kVersionText\[\] = "\([^"]*\)".*/\1/p' "${source}/src/app/options.h")")"
[ "${version}" = "${expected}" ] ||
  fail "installed /VERSION printed '${version}', expected '${expected}'"

# man finds and formats the installed page by name.
if command -v man >/dev/null; then
  MANPATH="${dest}/usr/share/man" MANWIDTH=80 man twtrim32 2>/dev/null | grep -q 'SAFETY MODEL' ||
    fail "man twtrim32 does not show the installed page"
fi
echo "install: OK (${program#"${dest}"}, ${page#"${dest}"})"
