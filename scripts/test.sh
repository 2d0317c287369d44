#!/usr/bin/env bash
# Builds Numbrel and runs every test (GUI tests run offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
