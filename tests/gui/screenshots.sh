#!/bin/bash
# Screenshots of the windowed packager for docs/ that the GUI session does not take:
#   quillbox-compressing.png  the archive builder's "Compressing..." dialog while a page
#                             of large pictures that do not compress is packed;
#   quillbox-failure.png      the message box of a Zip whose server refuses the
#                             connection, with its cause line.
# Runs quillbox.exe under Wine's virtual desktop on the current X server (xvfb-run -a)
# with a prefix of its own, and checks what it shoots: the shot is only taken when the
# window is there.
# Usage: tests/gui/screenshots.sh BUILD_BIN_DIR OUTPUT_DIR
# Exit status: 0 both taken, 1 failed, 77 skipped (no X server or tools).
set -u
BIN=$1
OUT=$2
SRC=$(cd "$(dirname "$0")/../.." && pwd)
for tool in xdotool xwininfo wine python3 import; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "skipped: no X server (run under xvfb-run -a)"; exit 77; }
WORK=$(mktemp -d /tmp/qb-shots-XXXXXX)
export WINEPREFIX=${QB_GUI_WINEPREFIX:-$WORK/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WORK/app" "$WORK/site" "$OUT"
cp "$BIN/quillbox.exe" "$BIN/ExtractQLBX_Lite.exe" "$WORK/app/" || exit 1
# Pictures that do not compress, enough of them for the builder's dialog to stay up.
IMGS=""
for i in 1 2 3 4 5 6 7 8; do
    python3 -c "import random,sys; sys.stdout.buffer.write(random.Random($i).randbytes(4 << 20))" \
        >"$WORK/site/photo$i.bmp"
    IMGS="$IMGS<img src=\"photo$i.bmp\">"
done
echo "<html><body><h1>Photos</h1>$IMGS</body></html>" >"$WORK/site/photos.htm"
. "$SRC/tests/gui/session_lib.sh"
start_server 300
# A port nobody listens on: bound and closed again.
CLOSED=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')


wineboot -i >/dev/null 2>&1
(cd "$WORK/app" && wine explorer /desktop=qb,1024x768 quillbox.exe >/dev/null 2>&1 &)
wait_for '[ "$(count "Quillbox!")" = 1 ]' 600 || { echo "FAIL: no main window"; exit 1; }
sleep 3
geometry "$(visible 'Quillbox!' | head -1)"
xdotool mousemove $((X + 150)) $((Y + 10)) click 1
sleep 1

# The Zip command's dialog and the builder's have the same caption: the builder's is
# the second one on screen.
xdotool key alt+u
retype "127.0.0.1:$PORT/photos.htm"
xdotool key alt+p
retype "$(winpath "$WORK/photos.exe")"
xdotool key Return
if wait_for '[ "$(count "Quillbox Lite!")" -ge 2 ]' 1200; then
    sleep 0.3
    shot quillbox-compressing.png
else
    fail "no builder dialog"
fi
# The done dialog: closed with Return.
wait_for '[ -s "$WORK/photos.exe" ] && [ "$(count "Quillbox Lite!")" -ge 1 ]' 1200
sleep 2
xdotool key Return
sleep 2
[ -s "$WORK/photos.exe" ] || fail "no executable written"

xdotool key alt+u
retype "http://127.0.0.1:$CLOSED/"
xdotool key alt+p
retype "$(winpath "$WORK/failure.exe")"
xdotool key Return
if wait_for '[ "$(count quillbox)" -ge 1 ]' 600; then
    sleep 0.5
    shot quillbox-failure.png
    xdotool key Return
else
    fail "no failure message"
fi
sleep 1
[ "$FAILED" = 0 ] && echo "screenshots taken"
exit "$FAILED"
