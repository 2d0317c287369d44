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
    -DPOINTERHOLDER_TRANSITION=4 -I"$src" -I"$src/quick" -I"$src/qpdfway" -I"$src/common" -I"$here/../tests/stamper" \
    "$here/fuzz_stamper.cpp" "$src/NumberPdfFile.cpp" "$src/common/OutputFile.cpp" "$src/quick/CleanFileUpdate.cpp" "$src/quick/CleanPdf.cpp" \
    "$src/quick/PageCount.cpp" "$src/common/NumberDrawing.cpp" "$src/common/NumberText.cpp" "$src/common/SeededRandom.cpp" "$src/common/XrefSection.cpp" "$src/common/ContentReader.cpp" \
    "$src/common/ContentScan.cpp" "$src/common/PageGeometry.cpp" "$src/qpdfway/IncrementalUpdate.cpp" \
    "$src/qpdfway/UpdateEncryption.cpp" "$src/qpdfway/PageContentScans.cpp" "$src/qpdfway/PageStamper.cpp" \
    "$src/qpdfway/PageTree.cpp" "$src/qpdfway/Recovery.cpp" "$here/../tests/stamper/CopyCompare.cpp" \
    -lqpdf -lz -o "$out/fuzz_stamper"
echo "$out/fuzz_stamper"

# The embedded font: loading, shaping and subsetting any bytes.
fontsrc=$src/font
clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$src/common" -I"$fontsrc" "$here/fuzz_font.cpp" "$fontsrc/EmbeddedFont.cpp" \
    $(pkg-config --cflags --libs harfbuzz harfbuzz-subset fribidi) -lz -o "$out/fuzz_font"
echo "$out/fuzz_font"
