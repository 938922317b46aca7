#!/usr/bin/env bash
# The carrier's fuzz target, run long (CI runs it only briefly): built with
# clang, AddressSanitizer and UndefinedBehaviorSanitizer (preset fuzz), seeded
# with the committed corpus and every input that ever failed.
#
#   bash bench/fuzz.sh [seconds]        # default 600
#
# Afterwards the inputs that reach code the committed corpus does not are
# merged into tests/fuzz/corpus (judged by edges, not hit counts, and each at
# most 4 KiB, so it stays small); commit them. An input that makes the target fail is
# copied to tests/fuzz/regressions, where evidence_fuzz_inputs_test
# replays it on every CI run; commit it with its fix. BUILD_ROOT chooses
# where the fuzz build goes (default: build/).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
ensure_packages

seconds=${1:-600}
build=${BUILD_ROOT:-build}/fuzz
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target carrier_fuzz
fuzzer=$build/tests/fuzz/carrier_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts" tests/fuzz/regressions
cp tests/fuzz/corpus/* "$work/corpus/"
find tests/fuzz/regressions -type f -exec cp {} "$work/corpus/" \;

echo "fuzzing for $seconds s; log in $work/fuzz.log while it runs"
# The target's scratch area goes under our own directory, out of reach of
# anything that tidies the shared /tmp during a long run.
mkdir -p "$work/scratch"
status=0
TMPDIR=$work/scratch "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/fuzz.log" 2>&1 || status=$?

grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/fuzz.log" || true
found=0
for input in "$work"/artifacts/*; do
  [ -e "$input" ] || continue
  name=$(basename "$input")
  cp "$input" "tests/fuzz/regressions/$name"
  echo "failing input kept: tests/fuzz/regressions/$name"
  found=$((found + 1))
done
if [ "$status" -ne 0 ]; then
  tail -n 40 "$work/fuzz.log" >&2
  echo "the fuzz target failed (exit $status); $found input(s) kept in tests/fuzz/regressions" >&2
  exit 1
fi

before=$(ls tests/fuzz/corpus | wc -l)
TMPDIR=$work/scratch "$fuzzer" -merge=1 -use_counters=0 -max_len=4096 tests/fuzz/corpus "$work/corpus" \
  >"$work/merge.log" 2>&1
after=$(ls tests/fuzz/corpus | wc -l)
echo "corpus: $before inputs before, $after after ($(du -sh tests/fuzz/corpus | cut -f1))"
