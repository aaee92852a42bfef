#!/usr/bin/env bash
# Checks a built Debian package of twtrim32: control fields, contents (the install rules cpack
# ran), and that the packaged program runs.   check_deb.sh PACKAGE.deb BUILD_DIR
set -euo pipefail
deb="$1"
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
fail() { echo "FAIL: $(basename "${deb}"): $*" >&2; exit 1; }
field() { dpkg-deb --field "${deb}" "$1"; }

# The version the build was configured with; the package carries it with "-" as "~".
version="$(sed -n 's/^#define TWTRIM_VERSION_TEXT "\(.*\)"$/\1/p' "$2/generated/version.h")"
[ -n "${version}" ] || fail "cannot read the version from $2/generated/version.h"
[ "$(field Package)/$(field Version)/$(field Architecture)" = \
  "twtrim32/${version//-/\~}/$(dpkg --print-architecture)" ] ||
  fail "Package/Version/Architecture are $(field Package)/$(field Version)/$(field Architecture)"
[[ "$(field Depends)" == *libc6* ]] || fail "Depends lacks libc6: '$(field Depends)'"

# The programs, the compressed page and the documentation, owned by root.
dpkg-deb --contents "${deb}" | awk '$1 !~ /^d/ {print $1, $2, $6}' | LC_ALL=C sort -k3 >"${work}/contents"
diff - "${work}/contents" >&2 <<'LIST' || fail "contents differ (< expected, > packaged)"
-rwxr-xr-x root/root ./usr/bin/mkboard
-rwxr-xr-x root/root ./usr/bin/twtrim32
-rw-r--r-- root/root ./usr/share/doc/twtrim32/README.md
-rw-r--r-- root/root ./usr/share/doc/twtrim32/copyright
-rw-r--r-- root/root ./usr/share/man/man1/twtrim32.1.gz
LIST

# The packaged files themselves.
dpkg-deb --extract "${deb}" "${work}/root"
zcat "${work}/root/usr/share/man/man1/twtrim32.1.gz" | cmp -s - "$2/twtrim32.1" ||
  fail "packaged manual page differs from $2/twtrim32.1"
printed="$("${work}/root/usr/bin/twtrim32" /VERSION)" || fail "packaged twtrim32 /VERSION failed"
[ "${printed}" = "$(printf 'TWTRIM32 %s - Safeguarded Tarnwick Message Packer\r' "${version}")" ] ||
  fail "packaged /VERSION printed '${printed}'"
echo "deb: OK ($(basename "${deb}"))"
