#!/usr/bin/env bash
# Runs one fuzz target for a bounded time on a scratch copy of its committed
# seed corpus, so a run never changes committed files.
#   run_fuzzer.sh BINARY SEED_DIR
# ORVANEL_FUZZ_SECONDS   how long (default 5)
# ORVANEL_FUZZ_WORK_DIR  keep the grown corpus in WORK_DIR/<target> across runs
#                        instead of a temporary directory
# A crashing input is saved as <build>/fuzz-artifacts/<target>/crash-<sha1>.
set -euo pipefail
binary=$1
seeds=$2
seconds=${ORVANEL_FUZZ_SECONDS:-5}
target=$(basename "$binary")

if [[ -n ${ORVANEL_FUZZ_WORK_DIR:-} ]]; then
  work=$ORVANEL_FUZZ_WORK_DIR/$target
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/orvanel-fuzz-$target.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
cp -n "$seeds"/* "$work"/ 2>/dev/null || true

artifacts=$(dirname "$binary")/../fuzz-artifacts/$target
mkdir -p "$artifacts"
# No -fork/-jobs: the machine has two cores and CTest runs two targets at once.
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" &
pid=$!
status=0
wait "$pid" || status=$?
# The targets name their shared-memory objects /ompv-fuzz-<kind>-<pid>...; a
# crash leaves them behind.
rm -f /dev/shm/ompv-fuzz-*-"$pid" /dev/shm/ompv-fuzz-*-"$pid"-*
exit "$status"
