#!/usr/bin/env bash
# The manual page formats without a groff warning and describes the program the help text does:
# the same switches, each exit status opening with the help text's line, the version in its
# title.   manpage_lint_test.sh MAN_PAGE TWTRIM32
set -uo pipefail
page="$1"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }
command -v groff >/dev/null || { echo "FAIL: groff is not installed (scripts/test.sh installs groff-base)" >&2; exit 1; }
warnings="$(groff -man -ww -z "${page}" 2>&1)" && [ -z "${warnings}" ] || fail "groff -man -ww -z ${page}: ${warnings}"

# Switches as an operator types them, numbers shown as '#': "/CONF1..6" is "/CONF#..#",
# "/HOME=dir" is "/HOME="; a file name such as /TWTRIM32_REPORT.TXT is none.
switches() {
  sed -E 's/[][ \t({|]/\n/g' | grep -oE '^/[A-Z?]+(=|([0-9#]+(\.\.[0-9#]+)?)?([^A-Za-z0-9_=#]|$))' |
    sed -E 's#[^A-Z?=0-9]$##; s#[0-9#]+#\##g' | sort -u
}
text="$(groff -man -Tascii -P-cbou -rHY=0 -rLL=300n "${page}" 2>/dev/null)"
help="$("$2" /HELP | tr -d '\r')"
diff <(switches <<<"${help}") <(switches <<<"${text}") >&2 ||
  fail "switches of the help text (<) and the manual page (>) differ"
[ "$(switches <<<"${help}" | grep -cxE -- '/ALL|/CONF#\.\.#|/HOME=|/NOBACKUP')" -eq 4 ] ||
  fail "/ALL, /CONF#..#, /HOME= or /NOBACKUP not read from the help text"

codes="$(sed -n '/^EXIT CODES/,$p' <<<"${help}" | sed -n 's/^  \([0-9]\)  /\1 /p')"
[ "$(wc -l <<<"${codes}")" -eq 5 ] || fail "the help text's five exit codes were not read"
exits="$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"${text}")"
while read -r code line; do
  grep -F -- "${line}." <<<"${exits}" | grep -qE "^ +${code} +" || fail "exit status ${code} does not open with: ${line}."
done <<<"${codes}"

version="$("$2" /VERSION | tr -d '\r' | sed -n 's/^TWTRIM32 \([^ ]*\) .*/\1/p')"
grep -q "^\.TH .*\"twtrim32 ${version}\"" "${page}" || fail "the title line lacks version ${version}"
[ "${status}" -eq 0 ] && echo "manpage_lint: OK (${page})"
exit "${status}"
