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
python3 - "$exe" "$work" <<'EOF'
import struct, sys
exe, work = sys.argv[1], sys.argv[2]
head = bytearray(open(exe, 'rb').read())
struct.pack_into('<I', head, 124, len(head))

def cabinet(files, reserve=b''):
    data = b''.join(c for _, c in files)
    hsize = 36 + (4 + len(reserve) if reserve else 0)
    entries = b''
    off = 0
    for name, c in files:
        entries += struct.pack('<IIHHHH', len(c), off, 0, 0x5ACF, 0x6000, 0x20) + name + b'\0'
        off += len(c)
    blocks = [data[i:i + 32768] for i in range(0, len(data), 32768)]
    first = hsize + 8 + len(entries)
    body = b''.join(struct.pack('<IHH', 0, len(b), len(b)) + b for b in blocks)
    total = first + len(body)
    h = struct.pack('<4sIIIIIBBHHHHH', b'MSCF', 0, total, 0, hsize + 8, 0, 3, 1, 1, len(files),
                    4 if reserve else 0, 65432, 0)
    if reserve:
        h += struct.pack('<HBB', len(reserve), 0, 0) + reserve
    return h + struct.pack('<IHH', first, len(blocks), 0) + entries + body

many = [(b'page/part%04d.htm' % i, bytes([i % 251]) * 100000) for i in range(400)]
open(work + '/big.exe', 'wb').write(bytes(head) + cabinet(many))
secret = [(b'index.htm', b'<html></html>')]
open(work + '/secret.exe', 'wb').write(bytes(head) + cabinet(secret, b'035306100867\0'))
EOF

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
