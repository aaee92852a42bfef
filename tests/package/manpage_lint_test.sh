#!/usr/bin/env bash
# The manual page formats without a single groff warning and describes the program the help
# text describes: the same switches, each exit status opening with the help text's line, and
# the program's version in its title.
#   manpage_lint_test.sh MAN_PAGE TWTRIM32
set -uo pipefail

page="$1"
program="$2"
if ! command -v groff >/dev/null; then
  echo "FAIL: groff is not installed (scripts/test.sh installs groff-base)" >&2
  exit 1
fi
warnings="$(groff -man -ww -z "${page}" 2>&1)"
rc=$?
if [ "${rc}" -ne 0 ] || [ -n "${warnings}" ]; then
  echo "FAIL: groff -man -ww -z ${page} (exit ${rc}):" >&2
  echo "${warnings}" >&2
  exit 1
fi

# Switches as an operator types them, numbers shown as '#': "/CONF1..6" is "/CONF#..#",
# "/HOME=dir" is "/HOME="; a file name such as /TWTRIM32_REPORT.TXT is none.
switches() {
  sed -E 's/[][ \t({|]/\n/g' |
    grep -oE '^/[A-Z?]+(=|([0-9#]+(\.\.[0-9#]+)?)?([^A-Za-z0-9_=#]|$))' |
    sed -E 's#[^A-Z?=0-9]$##; s#[0-9#]+#\##g' | sort -u
}

text="$(groff -man -Tascii -P-cbou -rHY=0 -rLL=300n "${page}" 2>/dev/null)"
help="$("${program}" /HELP | tr -d '\r')"
status=0
diff <(switches <<<"${help}") <(switches <<<"${text}") >&2 ||
  { echo "FAIL: switches of the help text (<) and the manual page (>) differ" >&2; status=1; }
for name in /ALL '/CONF#..#' /HOME= /NOBACKUP; do
  switches <<<"${help}" | grep -qxF -- "${name}" ||
    { echo "FAIL: ${name} not read from the help text" >&2; status=1; }
done

exits="$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"${text}")"
while read -r code line; do
  grep -qE "^ +${code} +" < <(grep -F -- "${line}." <<<"${exits}") ||
    { echo "FAIL: exit status ${code} does not open with: ${line}." >&2; status=1; }
done < <(sed -n '/^EXIT CODES/,$p' <<<"${help}" | sed -n 's/^  \([0-9]\)  /\1 /p')
[ "$(sed -n '/^EXIT CODES/,$p' <<<"${help}" | grep -c '^  [0-9]  ')" -eq 5 ] ||
  { echo "FAIL: the help text's five exit codes were not read" >&2; status=1; }

version="$("${program}" /VERSION | tr -d '\r' | sed -n 's/^TWTRIM32 \([^ ]*\) .*/\1/p')"
grep -q "^\.TH .*\"twtrim32 ${version}\"" "${page}" ||
  { echo "FAIL: the title line lacks version ${version}" >&2; status=1; }
[ "${status}" -eq 0 ] && echo "manpage_lint: OK (${page})"
exit "${status}"
