#!/usr/bin/env bash
# Checks a built Debian package of twtrim32: control fields, contents (the
# install rules cpack ran), and that the packaged program runs.
#   check_deb.sh PACKAGE.deb BUILD_DIR
set -euo pipefail

deb="$1"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT

fail() {
  echo "FAIL: $(basename "${deb}"): $*" >&2
  exit 1
}

dpkg-deb --contents "${deb}" >"${work}/contents" || fail "dpkg-deb --contents failed"

field() { dpkg-deb --field "${deb}" "$1"; }
[ "$(field Package)" = twtrim32 ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is '$(field Architecture)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
  fail "Maintainer is not 'Name <address>': '$(field Maintainer)'"
[[ "$(field Depends)" == *libc6* ]] || fail "Depends lacks libc6: '$(field Depends)'"
description="$(field Description)"
[ "$(echo "${description}" | head -n 1)" = \
  "safeguarded message packer for Tarnwick BBS message bases" ] ||
  fail "Description synopsis is '$(echo "${description}" | head -n 1)'"
[ "$(echo "${description}" | wc -l)" -ge 3 ] || fail "Description has no long text"

# Contents: the programs, the compressed page and the documentation, owned by root.
files="$(awk '$1 !~ /^d/ {print $6}' "${work}/contents" | sort)"
expected="$(printf '%s\n' ./usr/bin/twtrim32 ./usr/bin/mkboard ./usr/share/doc/twtrim32/README.md \
  ./usr/share/doc/twtrim32/copyright ./usr/share/man/man1/twtrim32.1.gz | sort)"
[ "${files}" = "${expected}" ] || fail "files are:
${files}
expected:
${expected}"
awk '$2 != "root/root" {exit 1}' "${work}/contents" || fail "entries not owned by root/root"
grep -Eq '^-rwxr-xr-x .* \./usr/bin/twtrim32$' "${work}/contents" || fail "twtrim32 is not mode 755"
grep -Eq '^-rw-r--r-- .* \./usr/share/man/man1/twtrim32\.1\.gz$' "${work}/contents" ||
  fail "the manual page is not mode 644"

# The packaged files themselves, and the checksums dpkg will verify them by.
dpkg-deb --extract "${deb}" "${work}/root"
dpkg-deb --control "${deb}" "${work}/control"
(cd "${work}/root" && md5sum --quiet -c "${work}/control/md5sums") >/dev/null ||
  fail "md5sums do not match the packaged files"
zcat "${work}/root/usr/share/man/man1/twtrim32.1.gz" | cmp -s - "${build}/twtrim32.1" ||
  fail "packaged manual page differs from ${build}/twtrim32.1"
rc=0
version="$("${work}/root/usr/bin/twtrim32" /VERSION)" || rc=$?
[ "${rc}" -eq 0 ] || fail "packaged twtrim32 /VERSION exited with ${rc}"
[[ "${version}" =~ ^TWTRIM32\ ([0-9]+\.[0-9]+\.[0-9]+[^ ]*)\ -\ Safeguarded\ Tarnwick\ Message\ Packer$'\r'$ ]] ||
  fail "packaged /VERSION printed '${version}'"
# The package carries the program's own version (a "-" as "~").
version_text="${BASH_REMATCH[1]}"
[ "$(field Version)" = "${version_text//-/\~}" ] ||
  fail "Version is '$(field Version)', expected '${version_text//-/\~}'"
echo "deb: OK ($(basename "${deb}"))"
