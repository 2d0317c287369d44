#!/usr/bin/env bash
# Times mbtPdfAsm.exe side by side with peers doing the same work, in one run, and prints ratios:
#   plain `qpdf in out` rewrite, pikepdf (python3-pikepdf), PyMuPDF (python3-fitz), Ghostscript.
# Files: generated 5,000 pages compressed with object streams, 500 pages uncompressed, and the corpus.
# The peers are for this bench only:
#   sudo apt-get install python3-pikepdf python3-fitz ghostscript time
#   bench/stamper/bench_stamper.sh [build-folder, default build]
# With BEFORE=/path/to/an/older/mbtPdfAsm.exe that build runs too, as the peer "before".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
build=${1:-$root/build}
tool=$build/bin/mbtPdfAsm.exe
out=$root/bench/out/stamper
corpus=$root/tests/data/corpus
py=/usr/bin/python3
mkdir -p "$out"
[[ -x $tool ]] || { echo "build mbtPdfAsm first: $tool" >&2; exit 1; }

big=$out/large-5000-objstm.pdf
plain=$out/large-500-plain.pdf
if [[ ! -f $big ]]; then
    $py "$here/make_large_pdf.py" 5000 "$out/gen5000.pdf"
    qpdf --object-streams=generate --compress-streams=y "$out/gen5000.pdf" "$big"
    rm -f "$out/gen5000.pdf"
fi
if [[ ! -f $plain ]]; then
    $py "$here/make_large_pdf.py" 500 "$out/gen500.pdf"
    qpdf --object-streams=disable --stream-data=uncompress "$out/gen500.pdf" "$plain"
    rm -f "$out/gen500.pdf"
fi

have() { command -v "$1" > /dev/null 2>&1; }
peers=(mbtPdfAsm qpdf-rewrite)
before=${BEFORE:-}
[[ -n $before && -x $before ]] && peers+=(before)
$py -c "import pikepdf" 2> /dev/null && peers+=(pikepdf)
$py -c "import fitz" 2> /dev/null && peers+=(pymupdf)
have gs && peers+=(ghostscript)

gs_number='<< /EndPage { 0 eq { 1 0 0 setrgbcolor /Helvetica findfont 10 scalefont setfont 10 10 moveto
            1 add 20 string cvs show true } { pop false } ifelse } bind >> setpagedevice'

# run PEER IN OUT: the same job for every peer
run() {
    case $1 in
        mbtPdfAsm) "$tool" "-m$2" -n -N01 -Ns10 -Nc255,0,0 -Nx10 -Ny10 "-d$3" ;;
        before) "$before" "-m$2" -n -N01 -Ns10 -Nc255,0,0 -Nx10 -Ny10 "-d$3" ;;
        qpdf-rewrite) qpdf "$2" "$3" || [[ $? -eq 3 ]] ;; # 3: done, with warnings
        pikepdf) $py "$here/number_pikepdf.py" "$2" "$3" ;;
        pymupdf) $py "$here/number_pymupdf.py" "$2" "$3" ;;
        ghostscript) gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -o "$3" -c "$gs_number" -f "$2" ;;
    esac
}

# measure PEER IN OUT -> prints "seconds peak_kb exit cpu_seconds"
measure() {
    local log=$out/time.log
    /usr/bin/time -v -o "$log" bash -c "$(declare -f run); tool='$tool' before='$before' py='$py' \
        here='$here' gs_number='$gs_number' run '$1' '$2' '$3'" > /dev/null 2>&1
    local rc=$?
    local wall kb
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
            for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$log")
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
    # Processor time too: on shared cores wall time swings with the neighbours' load.
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$log")
    echo "$wall $kb $rc $cpu"
}

echo "mbtPdfAsm.exe vs peers, one run, $(date -u +%F), $(nproc) cores shared"
for file in "$big" "$plain"; do
    echo
    echo "== $(basename "$file") ($(stat -c %s "$file") bytes)"
    pages=$(qpdf --show-npages "$file")
    printf '%-14s %9s %9s %10s %8s %12s %14s\n' peer seconds cpu_s peak_MB exit "x mbtPdfAsm" "OUT-IN/page"
    declare -A secs=() mem=() cpus=()
    for peer in "${peers[@]}"; do
        rm -f "$out/out-$peer.pdf"
        read -r s kb rc cpu < <(measure "$peer" "$file" "$out/out-$peer.pdf")
        secs[$peer]=$s mem[$peer]=$kb cpus[$peer]=$cpu
        grow=$(( ($(stat -c %s "$out/out-$peer.pdf" 2> /dev/null || stat -c %s "$file") - $(stat -c %s "$file")) / pages ))
        printf '%-14s %9.2f %9.2f %10.1f %8s %12s %14s\n' "$peer" "$s" "$cpu" "$(echo "$kb / 1024" | bc -l)" "$rc" \
            "$(echo "scale=2; $s / ${secs[mbtPdfAsm]}" | bc -l)" "$grow"
    done
    # Numbers are appended to the input's bytes: the goal is well under a plain qpdf rewrite.
    echo "mbtPdfAsm time / qpdf rewrite time:   $(echo "scale=2; ${secs[mbtPdfAsm]} / ${secs[qpdf-rewrite]}" | bc -l)  (target <= 0.4 on the large compressed file)"
    echo "  in processor time:                  $(echo "scale=2; ${cpus[mbtPdfAsm]} / ${cpus[qpdf-rewrite]}" | bc -l)"
    echo "mbtPdfAsm peak / qpdf rewrite peak:   $(echo "scale=2; ${mem[mbtPdfAsm]} / ${mem[qpdf-rewrite]}" | bc -l)  (target <= 1)"
    [[ -n ${secs[before]:-} ]] &&
        echo "mbtPdfAsm time / before time:         $(echo "scale=2; ${secs[mbtPdfAsm]} / ${secs[before]}" | bc -l)  (target <= 1)"
    [[ -n ${secs[pikepdf]:-} ]] &&
        echo "pikepdf time / mbtPdfAsm time:        $(echo "scale=2; ${secs[pikepdf]} / ${secs[mbtPdfAsm]}" | bc -l)  (target >= 2.5)"
    unset secs mem cpus
done

# One page whose content stream inflates to a gibibyte of zero bytes (a 1 MB file): the tool scans
# content while inflating it, so its peak memory stays near that of a small file.
zeros=$out/zeros-1gib.pdf
[[ -f $zeros ]] || $py "$here/make_zeros_pdf.py" "$zeros" 1024
echo
echo "== $(basename "$zeros") ($(stat -c %s "$zeros") bytes, content inflating to 1 GiB)"
printf '%-14s %9s %10s %8s\n' peer seconds peak_MB exit
for peer in mbtPdfAsm qpdf-rewrite; do
    read -r s kb rc < <(measure "$peer" "$zeros" "$out/out-$peer.pdf")
    printf '%-14s %9.2f %10.1f %8s\n' "$peer" "$s" "$(echo "$kb / 1024" | bc -l)" "$rc"
done

echo
echo "== corpus ($(ls "$corpus"/*/*.pdf | wc -l) files), total seconds, files refused or failed"
printf '%-14s %9s %8s %12s\n' peer seconds failed "x mbtPdfAsm"
base=""
for peer in "${peers[@]}"; do
    start=$(date +%s.%N)
    failed=0
    for f in "$corpus"/*/*.pdf; do
        timeout 60 bash -c "$(declare -f run); tool='$tool' before='$before' py='$py' here='$here' \
            gs_number='$gs_number' run '$peer' '$f' '$out/corpus-out.pdf'" > /dev/null 2>&1 || failed=$((failed + 1))
    done
    s=$(echo "$(date +%s.%N) - $start" | bc -l)
    [[ -z $base ]] && base=$s
    printf '%-14s %9.2f %8s %12.2f\n' "$peer" "$s" "$failed" "$(echo "$s / $base" | bc -l)"
done
rm -f "$out"/out-*.pdf "$out/corpus-out.pdf" "$out/time.log"
