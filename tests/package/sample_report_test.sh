#!/usr/bin/env bash
# Keeps README.md's sample reports true: each fenced block after the marker line below starts
# with "$ twtrim32 ARGS"; in order, on one fresh mkboard sample board at the first /HOME= path,
# each run prints the block (times and backup names masked).
#   sample_report_test.sh TWTRIM32 MKBOARD README.md
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Block N of the README goes to ${work}/expected.N, without its fences.
awk -v marker='<!-- sample report: checked by tests/package/sample_report_test.sh -->' -v dir="${work}" '
  $0 == marker { armed = 1; next }
  armed && /^```/ { if (inside) armed = 0; else n++; inside = !inside; next }
  inside { print > (dir "/expected." n) }' "$3"
blocks=$(find "${work}" -name 'expected.*' | wc -l)
[ "${blocks}" -gt 0 ] || fail "no checked sample report in $3"

# The program runs as an operator runs it: by name, from the directory the commands run in.
mkdir "${work}/bin" "${work}/run"
ln -s "$(realpath "$1")" "${work}/bin/twtrim32"
board="$(head -n 1 "${work}/expected.1" | sed -n 's|.* /HOME=\([^ ]*\).*|\1|p')"
mkdir -p "$(dirname "${work}/run/${board}")"
"$2" sample "${work}/run/${board}" >/dev/null || fail "mkboard sample failed"

mask() {
  sed -E -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}/YYYY-MM-DD hh:mm:ss/g' \
    -e 's/TWTRIM32-[0-9]{8}-[0-9]{6}/TWTRIM32-YYYYMMDD-HHMMSS/g' "$1"
}
for n in $(seq 1 "${blocks}"); do
  command="$(head -n 1 "${work}/expected.${n}")"
  read -r -a args <<<"${command#\$ twtrim32 }"
  { echo "${command}"; (cd "${work}/run" && PATH="${work}/bin:${PATH}" twtrim32 "${args[@]}" | tr -d '\r') || true; } \
    >"${work}/actual.${n}"
  diff -u <(mask "${work}/expected.${n}") <(mask "${work}/actual.${n}") >&2 ||
    fail "README sample report ${n} (${command}) differs from a fresh run"
done
echo "sample_report: OK (${blocks} report(s))"
