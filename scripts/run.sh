#!/usr/bin/env bash
# Builds Numbrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
exec build/bin/numbrel "$@"
