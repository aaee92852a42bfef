#!/usr/bin/env bash
# The manual page must format without a single groff warning.
#   manpage_lint_test.sh MAN_PAGE
set -uo pipefail

page="$1"
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
echo "manpage_lint: OK (${page})"
