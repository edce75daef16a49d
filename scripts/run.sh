#!/usr/bin/env bash
# Sets up, builds and starts Lumbra with the configuration of the current user
# (the built-in default on first start).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec build/lumbra "$@"
