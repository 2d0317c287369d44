#!/usr/bin/env bash
# Times the numbering tool on the 5,000-page file with today's options against the same run placed
# bottom-right with a background box and page labels, and prints the medians and their ratio.
#   bench/stamper/bench_features.sh [build-folder, default build] [runs, default 9]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
build=${1:-$root/build}
runs=${2:-9}
tool=$build/bin/mbtPdfAsm.exe
out=$root/bench/out/stamper
mkdir -p "$out"
big=$out/large-5000-objstm.pdf
if [[ ! -f $big ]]; then
    /usr/bin/python3 "$here/make_large_pdf.py" 5000 "$out/gen5000.pdf"
    qpdf --object-streams=generate --compress-streams=y "$out/gen5000.pdf" "$big"
    rm -f "$out/gen5000.pdf"
fi
today=(-N01 -Ns10 -Nc255,0,0 -Nx10 -Ny10)
features=(-N01 -Ns10 -Nc255,0,0 --position=bottom-right --margin=10,10 --page-labels --background=#FFFF00)

# median seconds of RUNS runs, the two kinds taking turns so that a busy moment hits both alike
declare -a a b
for ((k = 0; k < runs; ++k)); do
    for kind in today features; do
        declare -n opts=$kind
        start=$(date +%s.%N)
        "$tool" "-m$big" -n "${opts[@]}" "-d$out/features-$kind.pdf"
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [[ $kind == today ]]; then a+=("$t"); else b+=("$t"); fi
    done
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ma=$(median "${a[@]}")
mb=$(median "${b[@]}")
printf 'today options: %.3f s   bottom-right + labels + background: %.3f s   ratio %.3f\n' \
    "$ma" "$mb" "$(echo "$mb / $ma" | bc -l)"
printf 'sizes: %s and %s bytes\n' "$(stat -c %s "$out/features-today.pdf")" "$(stat -c %s "$out/features-features.pdf")"
