#!/usr/bin/env bash
# Runs the fuzzer for a while at the lowest priority with one worker, seeded from the real-world
# corpus and the small seeds kept here. New inputs go to a scratch folder, crashes to build/fuzz/artifacts.
#   fuzz/run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${NUMBREL_FUZZ_DIR:-$here/../build/fuzz}
seconds=${1:-600}
mkdir -p "$out/corpus" "$out/artifacts"
exec nice -n 19 "$out/fuzz_stamper" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -malloc_limit_mb=1024 -max_len=65536 -artifact_prefix="$out/artifacts/" -print_final_stats=1 \
    "$out/corpus" "$here/seeds" "$here/../tests/data/corpus/qpdf" "$here/../tests/data/corpus/py-pdf-sample-files"
