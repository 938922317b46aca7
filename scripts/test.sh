#!/usr/bin/env bash
# Sets up, builds and runs every test: the shipped i686 Windows launcher
# (built first, since the Linux tests inspect it), the Linux build with
# sanitizers, and the x86_64 Windows build whose tests run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
ensure_packages

step() {
  local start=$SECONDS
  echo "== $1"
  cmake --workflow --preset "$1"
  echo "== $1: $((SECONDS - start)) s"
}

step win32
step host
bash tests/fuzz/run.sh
step win64
