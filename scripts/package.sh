#!/usr/bin/env bash
# Builds the release artefacts into out/:
#   out/twtrim32_<version>_<arch>.deb     Debian package of the native release build (CPack)
#   out/TWTRIM32-<version>-win32.zip      TWTRIM32.EXE and MKBOARD.EXE (32-bit),
#                                         TWTRIM32_HELP.TXT, MAINTENANCE.TXT, README.TXT
#                                         and LICENSE.TXT, all text CR LF
# and checks both. Installs what a fresh Debian machine lacks.
# Environment: TWTRIM_JOBS (parallel jobs, default 2).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
# shellcheck source=scripts/packages.sh
. "${ROOT}/scripts/packages.sh"

install_missing_packages cmake ninja-build g++ libgtest-dev dpkg-dev g++-mingw-w64-i686-posix

JOBS="${TWTRIM_JOBS:-2}"
OUT="${ROOT}/out"

# lf_to_crlf SOURCE DEST: text files for Windows readers end their lines in CR LF.
lf_to_crlf() {
  sed -e 's/\r$//' -e 's/$/\r/' "$1" >"$2"
}

# all_crlf FILE: every line of FILE ends in CR LF.
all_crlf() {
  [ -s "$1" ] && ! grep -qv $'\r$' "$1"
}

# pe_machine EXE: the machine field of a Windows executable's PE header, in hex
# (014c for i386, 8664 for x86-64).
pe_machine() {
  local pe
  pe="$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')"
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}

mkdir -p "${OUT}"

echo "=== Debian package (release preset, build/)"
cmake --preset release
cmake --build --preset release -j "${JOBS}" --target twtrim32 mkboard
rm -rf "${OUT}/deb-work"
(cd build && cpack -G DEB -B "${OUT}/deb-work")
deb_name="$(cd "${OUT}/deb-work" && ls ./*.deb)"
mv -f "${OUT}/deb-work/${deb_name}" "${OUT}/"
rm -rf "${OUT}/deb-work"
deb="${OUT}/${deb_name#./}"
bash tests/package/check_deb.sh "${deb}" build
dpkg-deb --info "${deb}"
dpkg-deb --contents "${deb}"

echo "=== Windows zip (win32 preset, build-win32/)"
cmake --preset win32
# The version CMake wrote into the program, from project(VERSION ...).
VERSION="$(sed -n 's/^#define TWTRIM_VERSION_TEXT "\(.*\)"$/\1/p' build-win32/generated/version.h)"
[ -n "${VERSION}" ] || { echo "cannot read the version from build-win32/generated/version.h" >&2; exit 1; }
cmake --build --preset win32 -j "${JOBS}" --target twtrim32 mkboard
name="TWTRIM32-${VERSION}-win32"
stage="${OUT}/${name}"
rm -rf "${stage}" "${OUT}/${name}.zip"
mkdir -p "${stage}"
cp build-win32/TWTRIM32.EXE "${stage}/"
i686-w64-mingw32-strip -o "${stage}/MKBOARD.EXE" build-win32/mkboard.exe
lf_to_crlf LICENSE "${stage}/LICENSE.TXT"
# The help text is the same bytes on every platform: the native build writes it.
build/twtrim32 /HELP >"${stage}/TWTRIM32_HELP.TXT"
sed "s/@VERSION@/${VERSION}/g" packaging/README.TXT.in >"${stage}/README.txt.lf"
lf_to_crlf "${stage}/README.txt.lf" "${stage}/README.TXT"
# The maintenance guide of README.md, without the test suite's markers and
# without the lines that only a source tree can use (marked "source build").
awk '/^## Maintenance guide/ {on = 1} on && /^## / && !/^## Maintenance guide/ {on = 0}
     /^<!-- source build -->/ {skip = 1; next} skip && /^<!-- end source build -->/ {skip = 0; next}
     on && !skip && !/^<!-- sample report:/' README.md >"${stage}/guide.lf"
lf_to_crlf "${stage}/guide.lf" "${stage}/MAINTENANCE.TXT"
rm -f "${stage}/README.txt.lf" "${stage}/guide.lf"

for exe in TWTRIM32.EXE MKBOARD.EXE; do
  [ "$(pe_machine "${stage}/${exe}")" = 014c ] ||
    { echo "${exe} is not a 32-bit (i386) Windows program" >&2; exit 1; }
done
[ "$(wc -l <"${stage}/TWTRIM32_HELP.TXT")" -eq 60 ] ||
  { echo "TWTRIM32_HELP.TXT does not hold the 60 help lines" >&2; exit 1; }
if grep -Eq 'cmake|--preset|scripts/' "${stage}/MAINTENANCE.TXT"; then
  echo "MAINTENANCE.TXT shows build steps" >&2; exit 1
fi
for text in TWTRIM32_HELP.TXT README.TXT MAINTENANCE.TXT LICENSE.TXT; do
  all_crlf "${stage}/${text}" || { echo "${text} has lines without CR LF" >&2; exit 1; }
done
(cd "${OUT}" && cmake -E tar cf "${name}.zip" --format=zip "${name}")
rm -rf "${stage}"
unzip -l "${OUT}/${name}.zip" 2>/dev/null || cmake -E tar tvf "${OUT}/${name}.zip"

echo
echo "Release artefacts:"
ls -l "${deb}" "${OUT}/${name}.zip"
