#!/usr/bin/env bash
# Photographs spillet.exe's three windows under Wine in a virtual X server: the splash, the
# password dialog (with a password being typed) and the progress dialog. Writes
# extractor-splash.png, extractor-password.png and extractor-progress.png into OUTPUT_FOLDER.
#
# Usage: tests/extractor/screenshots.sh SPILLET_EXE OUTPUT_FOLDER
set -euo pipefail
exe=$(realpath "$1")
dest=$(realpath "$2")
work=$(mktemp -d /tmp/qb-shots.XXXXXX)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Two self-extracting files: many stored files (slow enough to watch the progress) and one
# whose header reserve holds the digit string of "abc".
here=$(cd "$(dirname "$0")" && pwd)
python3 "$here/stored_sfx.py" "$exe" "$work/big.exe" many
python3 "$here/stored_sfx.py" "$exe" "$work/secret.exe" secret

wineboot -i >/dev/null 2>&1 || true
cat >"$work/shoot.sh" <<'EOF'
#!/usr/bin/env bash
# Runs inside the virtual X server.
set -u
cd "$1"
exe=$2
desktop="explorer /desktop=qb,800x600"
wine $desktop "$exe" 'Z:'"$1"'/big.exe' 'Z:'"$1"'/out' >/dev/null 2>&1 &
runner=$!
for i in $(seq -w 1 60); do
    import -window root "frame$i.png" 2>/dev/null
    sleep 0.05
done
wait $runner
wine $desktop "$exe" 'Z:'"$1"'/secret.exe' 'Z:'"$1"'/out2' >/dev/null 2>&1 &
runner=$!
sleep 6
xdotool type --delay 80 secret 2>/dev/null || true
sleep 1
import -window root password.png
wineserver -k
wait $runner 2>/dev/null || true
EOF
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 800x600x24" "$work/shoot.sh" "$work" "$exe"

# The splash is the first frame rich in colours; the progress dialog is on the last frame.
mkdir -p "$dest"
crop=(-crop 480x320+160+140 +repage)
splash=
for f in "$work"/frame*.png; do
    if [ "$(convert "$f" -format '%k' info:)" -gt 100 ]; then splash=$f; break; fi
done
[ -n "$splash" ] || { echo "no frame shows the splash" >&2; exit 1; }
last=$(ls "$work"/frame*.png | tail -1)
convert "$splash" "${crop[@]}" "$dest/extractor-splash.png"
convert "$last" "${crop[@]}" "$dest/extractor-progress.png"
convert "$work/password.png" "${crop[@]}" "$dest/extractor-password.png"
echo "wrote $dest/extractor-{splash,progress,password}.png"
