#!/usr/bin/env bash
# The 5,000-page file numbered with a Latin footer (Helvetica, nothing embedded) and with a Cyrillic
# and a Chinese one (an embedded subset), side by side: the time of each (best of RUNS) and what the
# copy grew by. Prints one row per text.
#   bench/stamper/bench_fonts.sh [build-folder, default build]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
build=${1:-$root/build}
numbrel=$build/bin/numbrel
out=$root/bench/out/fonts
runs=${RUNS:-5}
mkdir -p "$out"
[[ -x $numbrel ]] || { echo "build numbrel first: $numbrel" >&2; exit 1; }
big=$out/large-5000.pdf
[[ -f $big ]] || /usr/bin/python3 "$here/make_large_pdf.py" 5000 "$big"
size=$(stat -c %s "$big")
export QT_QPA_PLATFORM=offscreen HOME=$out/home XDG_CONFIG_HOME=$out/home/.config
mkdir -p "$HOME"
printf '%-10s %10s %12s %14s\n' text seconds grown-bytes bytes/page
for row in "Latin|Page {n} of {total}" "Cyrillic|Страница {n} из {total}" "Chinese|第{n}页，共{total}页"; do
    name=${row%%|*} format=${row#*|}
    best=
    for ((k = 0; k < runs; k++)); do
        rm -rf "$out/$name"
        t0=$(date +%s.%N)
        "$numbrel" --batch --quiet --jobs 1 -o "$out/$name" --format "$format" "$big" || exit 1
        t=$(echo "$(date +%s.%N) - $t0" | bc)
        [[ -z $best ]] || (($(echo "$t < $best" | bc))) && best=$t
    done
    grown=$(($(stat -c %s "$out/$name/large-5000.pdf") - size))
    printf '%-10s %10.3f %12d %14.1f\n' "$name" "$best" "$grown" "$(echo "$grown / 5000" | bc -l)"
done
