#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build with sanitizers, the
# shipped i686 Windows launcher (inspected), and the x86_64 Windows build
# whose tests run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
ensure_packages

cmake --workflow --preset win32
cmake --workflow --preset host
cmake --workflow --preset win64
