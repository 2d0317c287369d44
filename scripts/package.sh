#!/usr/bin/env bash
# Builds the Debian package build/numbrel_<version>_<arch>.deb (install it with
# `sudo apt-get install ./build/numbrel_*.deb`, remove it with `sudo apt-get remove numbrel`).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
# The program folder goes to /usr/lib/numbrel, not into the multiarch library folder.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
cmake --build build -j"$(nproc)" --target numbrel mbtPdfAsm numbrel-batch numbrel_program_files numbrel_manual
packaging/make-deb.sh build build
