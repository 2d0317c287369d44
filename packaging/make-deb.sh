#!/usr/bin/env bash
# packaging/make-deb.sh BUILD_DIR OUT_DIR
# Lays out an already built tree as a Debian binary package, OUT_DIR/numbrel_<version>_<arch>.deb,
# and prints its path. Depends come from the binaries (dpkg-shlibdeps); xdg-utils, which opens the
# output folder, is recommended. NUMBREL_MAINTAINER overrides the Maintainer field.
set -euo pipefail
build=$(realpath "$1")
out=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
homepage=$(sed -n 's/^NUMBREL_PROJECT_URL:STRING=//p' "$build/CMakeCache.txt")
[[ -n $version && -n $homepage ]] || { echo "make-deb.sh: $build is not a configured Numbrel build" >&2; exit 1; }
deb_version="$version-1"
arch=$(dpkg --print-architecture)
maintainer=${NUMBREL_MAINTAINER:-Quillane <numbrel@quillane.org>}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root="$stage/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
# Stripped as dh_strip does it: the debug information and the notes nobody reads at run time.
strip --remove-section=.comment --remove-section=.note "$root"/usr/lib/numbrel/{numbrel,mbtPdfAsm.exe,numbrel-batch}
[[ -f $root/usr/share/man/man1/numbrel.1 ]] || { echo "make-deb.sh: the manual page was not built (python3?)" >&2; exit 1; }

# What Debian expects of the files themselves: compressed manual page and changelog, the copyright.
gzip -9n "$root/usr/share/man/man1/numbrel.1"
doc="$root/usr/share/doc/numbrel"
mkdir -p "$doc"
cp "$here/debian/copyright" "$doc/copyright"
sed -e "s/@DEB_VERSION@/$deb_version/" -e "s/@MAINTAINER@/$maintainer/" "$here/debian/changelog" |
    gzip -9n >"$doc/changelog.Debian.gz"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root"/usr/lib/numbrel/{numbrel,mbtPdfAsm.exe,numbrel-batch}

# dpkg-shlibdeps reads the package's name from a debian/control beside the tree.
mkdir -p "$stage/debian"
printf 'Source: numbrel\n\nPackage: numbrel\nArchitecture: any\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O -e root/usr/lib/numbrel/numbrel -e root/usr/lib/numbrel/mbtPdfAsm.exe \
    -e root/usr/lib/numbrel/numbrel-batch 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || { echo "make-deb.sh: dpkg-shlibdeps gave no dependencies" >&2; exit 1; }

mkdir -p "$root/DEBIAN"
(cd "$root" && find usr -type f -printf '%P\n' | sort | sed 's|^|usr/|' | xargs md5sum) >"$root/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s|@DEB_VERSION@|$deb_version|" -e "s|@ARCH@|$arch|" -e "s|@MAINTAINER@|$maintainer|" \
    -e "s|@SIZE@|$size|" -e "s|@DEPENDS@|$depends|" -e "s|@HOMEPAGE@|$homepage|" \
    "$here/debian/control" >"$root/DEBIAN/control"

mkdir -p "$out"
deb="$out/numbrel_${deb_version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
