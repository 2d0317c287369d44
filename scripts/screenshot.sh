#!/usr/bin/env bash
# Takes docs/numbrel-window.png: the real window under Xvfb, started with empty settings.
# Needs xvfb, x11-utils and imagemagick (not needed to build or test).
set -euo pipefail
cd "$(dirname "$0")/.."
home=$(mktemp -d)
mkdir -p "$home/Desktop"
cat > "$home/shot" <<SHOT
#!/usr/bin/env bash
HOME="$home" XDG_CONFIG_HOME="$home/.config" "$PWD/build/bin/numbrel" &
pid=\$!
sleep 3
geometry=\$(xwininfo -root -tree | awk '/"Numbrel": \("numbrel"/ {print \$5}')
import -window root "$home/root.png"
kill \$pid
convert "$home/root.png" -crop "\${geometry%%+*}+\${geometry#*+}" +repage docs/numbrel-window.png
SHOT
chmod +x "$home/shot"
xvfb-run -a -s "-screen 0 1024x768x24" "$home/shot"
rm -rf "$home"
