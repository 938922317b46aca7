#!/usr/bin/env bash
# The benchmark: the launcher's extraction against cp and two self-extractors,
# its peak memory, its start-up and the size of the shipped image. Prints the
# table that README.md's "Measured figures" carries. Not part of CI: it takes
# minutes and about 6 GiB of disk.
#
#   bash bench/run.sh             # 11 timed runs per contender
#   RUNS=5 bash bench/run.sh      # quicker, noisier
#
# The files go to a new directory under BENCH_DIR (default /var/tmp), removed
# afterwards. BUILD_ROOT chooses where the host-release and win32 builds go
# (default: build/).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
ensure_packages makeself 7zip time

build_root=${BUILD_ROOT:-build}
cmake --preset host-release -B "$build_root/host-release" >/dev/null
cmake --build "$build_root/host-release" --target launcher carrier
cmake --preset win32 -B "$build_root/win32" >/dev/null
cmake --build "$build_root/win32" --target launcher

sevenzip=$(command -v 7z || command -v 7zz)
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/launcher-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
  "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) memory," \
  "$(df -T "$work" | awk 'NR == 2 {print $2}') file system, kernel $(uname -r)"
echo

python3 bench/bench.py \
  --launcher "$build_root/host-release/launcher/launcher" \
  --tool "$build_root/host-release/tools/carrier/carrier" \
  --exe "$build_root/win32/launcher/launcher.exe" \
  --sevenzip "$sevenzip" \
  --dir "$work" \
  --runs "${RUNS:-11}"
