#!/usr/bin/env bash
# Builds the carrier fuzz target with clang (preset fuzz) and runs it briefly
# over the committed corpus. New inputs go to a scratch directory, so the
# corpus stays as committed; a crashing input is kept in build/fuzz/artifacts
# and the fuzzer's log in build/fuzz/fuzz.log.
# FUZZ_RUNS sets the number of runs (default 20000).
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target carrier_fuzz
mkdir -p build/fuzz/artifacts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The target's scratch area goes under $work too (TMPDIR).
if ! TMPDIR="$work" build/fuzz/tests/fuzz/carrier_fuzz -runs="${FUZZ_RUNS:-20000}" -max_len=4096 \
    -artifact_prefix=build/fuzz/artifacts/ "$work" tests/fuzz/corpus >build/fuzz/fuzz.log 2>&1; then
  tail -n 40 build/fuzz/fuzz.log >&2
  echo "carrier fuzz target failed; input kept in build/fuzz/artifacts" >&2
  exit 1
fi
grep -E '^Done [0-9]+ runs' build/fuzz/fuzz.log
