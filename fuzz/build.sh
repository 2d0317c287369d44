#!/usr/bin/env bash
# Builds the libFuzzer target over the numbering engine (clang-14, address sanitizer; qpdf from Debian
# is linked as it is). Not part of the normal build or test run.
#   fuzz/build.sh [build-folder]        then   fuzz/run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../build/fuzz}
mkdir -p "$out"
src=$here/../stamper
# qpdf 11.3's headers trip clang-14 in C++20 mode (incomplete JSON in a constexpr vector).
clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DPOINTERHOLDER_TRANSITION=4 -I"$src" \
    "$here/fuzz_stamper.cpp" "$src/CleanFileUpdate.cpp" "$src/CleanPdf.cpp" "$src/NumberDrawing.cpp" "$src/NumberText.cpp" "$src/XrefSection.cpp" "$src/ContentReader.cpp" "$src/ContentScan.cpp" "$src/IncrementalUpdate.cpp" "$src/UpdateEncryption.cpp" "$src/PageContentScans.cpp" "$src/PageGeometry.cpp" "$src/PageStamper.cpp" \
    "$src/PageTree.cpp" "$src/Recovery.cpp" \
    -lqpdf -lz -o "$out/fuzz_stamper"
echo "$out/fuzz_stamper"
