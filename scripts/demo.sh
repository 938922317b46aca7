#!/usr/bin/env bash
# Sets up and builds the launcher and the carrier tool.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
ensure_packages
cmake --workflow --preset host-release
