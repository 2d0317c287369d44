#!/usr/bin/env bash
# numbrel --batch on 1,000 files of 10 pages, side by side with other ways to number the same files:
#   --jobs 1 against --jobs <all cores>; the window's way (the run script per file, through our .bat
#   interpreter and mbtPdfAsm.exe, without the window's 100 ms polling: a lower bound of its time);
#   mbtPdfAsm.exe started once per file; PyMuPDF and pikepdf looping over the files in one process
#   (bench/stamper's scripts; apt-get install python3-fitz python3-pikepdf).
# Then peak memory of --jobs <all cores> on 100, 1,000 and 3,000 files, which must not grow.
#   bench/batch/bench_batch.sh [build-folder, default build] [files, default 1000]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-1000}
bin=$build/bin
out=$root/bench/out/batch
py=/usr/bin/python3
cores=$(nproc)
mkdir -p "$out"
[[ -x $bin/numbrel && -x $bin/mbtPdfAsm.exe && -x $bin/numbrel-batch ]] || { echo "build first: $bin" >&2; exit 1; }

# FILES files of 10 pages in DIR: one generated file, compressed, copied.
make_files() {
    local dir=$1 n=$2
    [[ -d $dir && $(ls "$dir" | wc -l) -eq $n ]] && return
    rm -rf "$dir"; mkdir -p "$dir"
    $py "$root/bench/stamper/make_large_pdf.py" 10 "$out/gen10.pdf"
    qpdf --object-streams=generate --compress-streams=y "$out/gen10.pdf" "$out/ten.pdf"
    for ((k = 0; k < n; k++)); do cp "$out/ten.pdf" "$dir/$(printf 'f%05d.pdf' $k)"; done
}

# measure NAME COMMAND...: wall seconds, peak resident KB, pages per second
measure() {
    local name=$1; shift
    local log=$out/time.log
    rm -rf "$out/result"; mkdir -p "$out/result"
    /usr/bin/time -f "%e %M" -o "$log" "$@" > /dev/null 2> "$out/stderr-${name// /_}.log"
    local rc=$?
    read -r secs kb < <(tail -1 "$log")
    local done=$(ls "$out/result" | wc -l)
    printf '%-34s %7.2f s %8.0f pages/s %7.1f MB peak  (%d files written, exit %d)\n' "$name" "$secs" \
        "$(echo "$pages / $secs" | bc -l)" "$(echo "$kb / 1024" | bc -l)" "$done" "$rc"
}

window_way() { # the run script per file, as "Start Adding" does it (without its polling)
    local work=$out/work; rm -rf "$work"; mkdir -p "$work"
    for f in "$1"/*.pdf; do
        cp "$f" "$work/temp1.pdf"
        printf '"%s" -mtemp1.pdf -n -N01 -Ns10 -Nc0,0,0 -Nx10 -Ny10 -dtemp2.pdf\r\ndel temp1.pdf\r\n' \
            "$bin/mbtPdfAsm.exe" > "$work/temp.bat"
        (cd "$work" && "$bin/numbrel-batch" temp.bat)
        cp "$work/temp2.pdf" "$2/$(basename "$f")"
        rm -f "$work/temp2.pdf" "$work/temp.bat"
    done
}

tool_per_file() {
    for f in "$1"/*.pdf; do "$bin/mbtPdfAsm.exe" "-m$f" -n -N01 -Ns10 -Nc0,0,0 -Nx10 -Ny10 "-d$2/$(basename "$f")"; done
}
export -f window_way tool_per_file
export bin out

files=$out/in-$count
make_files "$files" "$count"
pages=$((count * 10))
echo "$count files of 10 pages ($pages pages), $cores cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "numbrel --batch --jobs 1" "$bin/numbrel" --batch -o "$out/result" --jobs 1 --quiet "$files"
measure "numbrel --batch --jobs $cores" "$bin/numbrel" --batch -o "$out/result" --jobs "$cores" --quiet "$files"
measure "numbrel --batch --jobs $cores --continue" "$bin/numbrel" --batch -o "$out/result" --continue --jobs "$cores" --quiet "$files"
measure "numbrel --batch --jobs 1 (again)" "$bin/numbrel" --batch -o "$out/result" --jobs 1 --quiet "$files"
measure "the run script per file" bash -c "window_way '$files' '$out/result'"
measure "mbtPdfAsm.exe per file" bash -c "tool_per_file '$files' '$out/result'"
if $py -c 'import fitz' 2> /dev/null; then
    measure "PyMuPDF loop" $py "$here/loop_peer.py" "$root/bench/stamper/number_pymupdf.py" "$files" "$out/result"
fi
if $py -c 'import pikepdf' 2> /dev/null; then
    measure "pikepdf loop" $py "$here/loop_peer.py" "$root/bench/stamper/number_pikepdf.py" "$files" "$out/result"
fi

echo "peak memory against the number of files (--jobs $cores):"
for n in 100 1000 3000; do
    make_files "$out/in-$n" "$n"
    pages=$((n * 10))
    measure "  $n files" "$bin/numbrel" --batch -o "$out/result" --jobs "$cores" --continue --quiet "$out/in-$n"
done
rm -rf "$out/result" "$out/work"
