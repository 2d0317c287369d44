#!/usr/bin/env bash
# check_package.sh SOURCE_DIR BUILD_DIR DRIVER_DIR WORK_DIR
# Builds the Debian package from the build tree, judges it (lintian, desktop-file-validate,
# appstreamcli), installs it into this system, uses what was installed (numbrel --batch from PATH,
# the window offscreen, the manual page, the bash completion), removes it again and checks that
# nothing of it is left. It changes the system, so it runs only as root and only when no numbrel
# package is installed already; whatever it installed is purged on every way out.
set -euo pipefail
source_dir=$1 build=$2 driver=$3 work=$4
skip=77

if [[ $(id -u) -ne 0 ]]; then
    echo "SKIPPED: installing the package needs root (this test installs into the real system)"
    exit $skip
fi
if dpkg-query -W -f='${Status}' numbrel 2>/dev/null | grep -q installed; then
    echo "REFUSED: a numbrel package is installed already; this test installs and removes its own" >&2
    exit 1
fi
for tool in lintian desktop-file-validate appstreamcli apt-get man pdftotext; do
    command -v $tool >/dev/null || { echo "missing tool: $tool (scripts/deps.sh installs it)" >&2; exit 1; }
done
[[ -f /usr/share/bash-completion/bash_completion ]] || { echo "missing bash-completion" >&2; exit 1; }
# Nothing of ours may be in the system's paths before we start (a cmake --install into /usr, say).
for p in /usr/bin/numbrel /usr/lib/numbrel /usr/share/man/man1/numbrel.1.gz; do
    if [[ -e $p || -L $p ]]; then echo "REFUSED: $p exists but belongs to no package" >&2; exit 1; fi
done

started=$SECONDS
rm -rf "$work" && mkdir -p "$work"
installed=
cleanup() {
    if [[ -n $installed ]] && dpkg-query -W numbrel >/dev/null 2>&1; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq numbrel >/dev/null 2>&1 || dpkg --purge numbrel
    fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== building the package"
deb=$("$source_dir/packaging/make-deb.sh" "$build" "$work")
dpkg-deb -I "$deb" | sed -n 's/^ \(Depends\|Installed-Size\):/\1:/p'
echo "size: $(stat -c %s "$deb") bytes"

echo "== lintian"
lintian_out=$(lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "${lintian_out:-(nothing)}"
if grep -q '^E:' <<<"$lintian_out"; then fail "lintian reports errors"; fi
# The one warning we expect: the package is not an upload to Debian, so it closes no ITP bug.
if grep '^W:' <<<"$lintian_out" | grep -vq initial-upload-closes-no-bugs; then fail "lintian warns"; fi

echo "== contents"
contents="$work/contents"
mkdir -p "$contents"
dpkg-deb -x "$deb" "$contents"
desktop-file-validate "$contents/usr/share/applications/numbrel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
for size in 16 22 24 32 48 64 128 256; do
    png="$contents/usr/share/icons/hicolor/${size}x${size}/apps/numbrel.png"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "no ${size}x${size} icon"
done
[[ -s $contents/usr/share/icons/hicolor/scalable/apps/numbrel.svg ]] || fail "no scalable icon"

# Minimal Debian images keep dpkg from unpacking manual pages (path-exclude in dpkg.cfg.d); the
# page is then let through for this install only, as a user who wants it would.
dpkg_options=()
if grep -qsE '^path-exclude[= ]+/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "(dpkg excludes /usr/share/man here: installing with --path-include for the page)"
    dpkg_options=(-o "DPkg::Options::=--path-include=/usr/share/man/man1/numbrel.1.gz")
fi

echo "== installing"
# Which of the package's directories are there before, so that those may stay afterwards.
existed="$work/existed"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | while read -r p; do
    if [[ -n $p && ( -e $p || -L $p ) ]]; then echo "$p"; fi
done >"$existed"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${dpkg_options[@]}" "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install"; }
dpkg -L numbrel >"$work/files"
[[ $(command -v numbrel) == /usr/bin/numbrel ]] || fail "numbrel is not on the PATH"

echo "== numbrel --batch from the PATH"
pdfs="$work/pdfs"
mkdir -p "$pdfs/in"
cp /usr/lib/numbrel/Samples/Sample-Letter.pdf "$pdfs/in/letter.pdf"
(cd "$pdfs" && numbrel --batch --quiet -o batch-out --first 7 in/letter.pdf) || fail "numbrel --batch"
pdftotext -l 1 "$pdfs/batch-out/letter.pdf" - | grep -qx 7 || fail "the batch copy's first page shows no 7"

echo "== the installed window, offscreen"
mkdir "$pdfs/window-out" # the window numbers into an existing folder only
(cd "$pdfs" && QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$driver" QT_QPA_GENERIC_PLUGINS=numbreldriver \
    NUMBREL_DRIVE_OUT="$pdfs/window-out" timeout 150 numbrel in/letter.pdf) ||
    fail "the window did not number the file and close"
pdftotext -l 1 "$pdfs/window-out/letter.pdf" - | grep -qx 1 || fail "the window's copy's first page shows no 1"

echo "== manual page"
page=$(man -w numbrel) || fail "man -w numbrel finds no page"
echo "$page"
MANWIDTH=80 man -P cat numbrel 2>/dev/null | grep -q -- "--position" || fail "the page lacks --position"

echo "== bash completion"
completion=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/numbrel
    try() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
                 COMPREPLY=(); _numbrel numbrel "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"; echo "${COMPREPLY[*]}"; }
    try numbrel --batch --pos
    try numbrel --batch --position b
    try numbrel --ver
')
echo "$completion"
mapfile -t lines <<<"$completion"
[[ ${lines[0]} == --position ]] || fail "numbrel --batch --pos completes to '${lines[0]}'"
[[ ${lines[1]} == "bottom-left bottom bottom-right" ]] || fail "--position b completes to '${lines[1]}'"
[[ ${lines[2]} == --version ]] || fail "numbrel --ver completes to '${lines[2]}'"

echo "== removing"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq numbrel >/dev/null 2>&1 || fail "apt-get remove"
# A package without configuration files is forgotten at its removal; one that kept some is purged.
if dpkg-query -W numbrel >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq numbrel >/dev/null 2>&1 || fail "apt-get purge"
fi
installed=
left=()
while read -r p; do
    [[ $p != /. ]] || continue
    [[ -e $p || -L $p ]] || continue
    grep -qxF "$p" "$existed" || left+=("$p")
done <"$work/files"
[[ ${#left[@]} -eq 0 ]] || fail "left behind: ${left[*]}"
dpkg-query -W numbrel >/dev/null 2>&1 && fail "dpkg still knows numbrel"
echo "== done in $((SECONDS - started)) s"
