#!/usr/bin/env bash
# Makes sure the Debian packages that building, running and testing Numbrel need are present.
# As root the missing ones are installed; otherwise the exact install line is printed and we stop.
# (parallel: GNU parallel, which the batch test runs parts of one batch through; python3 writes the
# manual page and the completion; dpkg-dev, lintian, appstream, man-db, bash-completion and file
# build the Debian package and check it installed.)
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev libqpdf-dev libdeflate-dev qpdf poppler-utils mupdf-tools
          libharfbuzz-dev libfontconfig-dev libfribidi-dev fonts-dejavu-core fonts-wqy-microhei
          xvfb xauth fonts-liberation2 desktop-file-utils parallel python3-fitz
          python3 dpkg-dev lintian appstream man-db bash-completion file)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Numbrel needs these Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
