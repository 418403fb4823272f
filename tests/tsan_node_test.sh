#!/usr/bin/env bash
# Runs a Node test in the thread sanitizer build: the programs it starts (the
# helper) write their ThreadSanitizer reports to files in a scratch
# directory, and any report fails the test, whatever the test saw.
#   tsan_node_test.sh SUPPRESSIONS COMMAND...
set -euo pipefail
suppressions=$1
shift
reports=$(mktemp -d "${TMPDIR:-/tmp}/orvanel-tsan.XXXXXX")
trap 'rm -rf "$reports"' EXIT
status=0
TSAN_OPTIONS="suppressions=$suppressions:log_path=$reports/report:${TSAN_OPTIONS:-}" "$@" || status=$?
if compgen -G "$reports/report*" >/dev/null; then
  echo "ThreadSanitizer reports from the programs this test started:" >&2
  cat "$reports"/report* >&2
  exit 1
fi
exit "$status"
