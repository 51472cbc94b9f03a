#!/bin/bash
# The windowed packager driven like a user, under Wine's virtual desktop (which draws
# frames and captions) on an X server (xvfb-run):
#   1. Tab, Tab from the address box to the output-path box, the path typed there;
#      Zip with a slow picture on the page, then Cancel in the progress dialog: no
#      executable may appear;
#   2. Zip again (Enter only works if the window was enabled again): the progress
#      dialog, the done dialog, and a valid executable at the output path whose
#      cabinet holds the page and its pictures;
#   3. the About box.
# With an OUTPUT_DIR it also leaves the four screenshots of docs/ there.
# Usage: tests/gui/gui_session.sh BUILD_BIN_DIR [OUTPUT_DIR]
# Exit status: 0 passed, 1 failed, 77 skipped (no X server or tools).
set -u
BIN=$1
OUT=${2:-}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
for tool in xdotool xwininfo cabextract wine python3; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "skipped: no X server (run under xvfb-run -a)"; exit 77; }
WORK=$(mktemp -d /tmp/qb-gui-XXXXXX)
# A prefix of its own: the session ends with wineserver -k, which must not touch others.
export WINEPREFIX=${QB_GUI_WINEPREFIX:-$WORK/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WORK/app" "$WORK/site"
cp "$BIN/quillbox.exe" "$BIN/ExtractQLBX_Lite.exe" "$WORK/app/" || exit 1
cp "$SRC"/tests/fetch/sites/images/1.gif "$SRC"/tests/fetch/sites/images/2.gif "$WORK/site/"
# Two pictures come at once, the third one slowly (10 s), so that the progress dialog stays.
cat >"$WORK/site/page.htm" <<'HTML'
<html><head><title>Quillbox sample page</title></head>
<body><h1>Sample</h1><img src="1.gif"><img src="2.gif"><img src="/_/slow?gap=0.4&count=25"></body></html>
HTML
# The server runs while its standard input stays open: a pipe held by this script.
mkfifo "$WORK/stdin"
python3 "$SRC/tests/fixtures/server/server.py" --root "$WORK/site" --port-file "$WORK/port" \
    --lifetime 240 <"$WORK/stdin" >/dev/null 2>&1 &
SERVER=$!
exec 3>"$WORK/stdin"
cleanup() {
    exec 3>&-
    kill "$SERVER" 2>/dev/null
    wineserver -k 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
PORT=$(grep -o '[0-9][0-9]*' "$WORK/port" | tail -1)
[ -n "$PORT" ] || { echo "FAIL: fixture server did not start"; exit 1; }

FAILED=0
fail() { echo "FAIL: $*"; FAILED=1; }
shot() { [ -n "$OUT" ] && mkdir -p "$OUT" && import -window root "$OUT/$1"; }
dialog() { xdotool search --name '^Quillbox Lite!$' 2>/dev/null | head -1; }
mapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
# Waits up to $2 tenths of a second for the command $1 to succeed.
# Absolute position and size of an X window: X, Y, WIDTH, HEIGHT.
geometry() {
    local info
    info=$(xwininfo -id "$1")
    X=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
    Y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
    WIDTH=$(echo "$info" | awk '/Width:/ {print $2}')
    HEIGHT=$(echo "$info" | awk '/Height:/ {print $2}')
}
wait_for() { for _ in $(seq "$2"); do eval "$1" && return 0; sleep 0.1; done; return 1; }

wineboot -i >/dev/null 2>&1
# The address box starts with the fixture page, the one entry of the history.
# (Keys typed into the drop-down combo box do not reach it under Wine without a
# window manager; the output-path box takes typing.)
KEY='HKCU\Software\Tarnwick\quillbox\URL History'
wine reg add "$KEY" /v number /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$KEY" /v last /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$KEY" /v 0 /t REG_SZ /d "http://127.0.0.1:$PORT/page.htm" /f >/dev/null 2>&1
(cd "$WORK/app" && wine explorer /desktop=qb,1024x768 quillbox.exe >/dev/null 2>&1 &)
wait_for 'xdotool search --name "^Quillbox!$" >/dev/null 2>&1' 600 || { echo "FAIL: no main window"; exit 1; }
sleep 4
MAIN=$(xdotool search --name '^Quillbox!$' | head -1)
geometry "$MAIN"
MX=$X MY=$Y
# The first click only activates the window (no window manager here).
xdotool mousemove $((MX + 150)) $((MY + 10)) click 1
sleep 1
# Into the address box (client 28, 141 - 328, 162); then Tab, Tab must reach the
# output-path box (address box, View, output path), where the path is typed: the
# executable appears there only if the tab order is right.
xdotool mousemove $((MX + 130)) $((MY + 3 + 19 + 150)) click 1
sleep 0.3
xdotool key Tab Tab Home shift+End
WINOUT='Z:'$(echo "$WORK" | tr / '\\')'\out.exe'
xdotool type --delay 20 "$WINOUT"

# 1. Zip, then Cancel while the slow picture comes.
xdotool key Return
wait_for '[ -n "$(dialog)" ] && mapped "$(dialog)"' 100 || fail "no progress dialog after Enter"
sleep 2
DLG=$(dialog)
if [ -n "$DLG" ]; then
    geometry "$DLG"
    xdotool windowraise "$DLG"
    # Cancel sits centred near the bottom of the dialog.
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) click 1
    wait_for '! mapped "$DLG"' 150 || fail "the progress dialog stayed after Cancel"
fi
sleep 1
[ -e "$WORK/out.exe" ] && fail "Cancel left an executable at the output path"

# 2. Zip again to the end.
xdotool key Return
wait_for '[ -n "$(dialog)" ] && mapped "$(dialog)"' 100 || fail "Enter did not start the Zip command again (window still disabled?)"
sleep 2
[ -n "$(dialog)" ] && xdotool windowraise "$(dialog)"
shot quillbox-progress.png
wait_for '[ -s "$WORK/out.exe" ]' 400 || fail "no executable after the grab"
sleep 3
shot quillbox-done.png
xdotool key Return
sleep 2
shot quillbox-main.png
xdotool mousemove $((MX + 3 + 364)) $((MY + 22 + 327)) click 1
wait_for 'xdotool search --name "^About Quillbox!$" >/dev/null 2>&1' 100 || fail "no About box"
sleep 1
shot quillbox-about.png
xdotool key Return

# The executable: the extractor template, its length at offset 124, the cabinet behind it.
if [ -s "$WORK/out.exe" ]; then
    L=$(stat -c %s "$WORK/app/ExtractQLBX_Lite.exe")
    AT124=$(od -An -tu4 -j124 -N4 "$WORK/out.exe" | tr -d ' ')
    [ "$AT124" = "$L" ] || fail "offset 124 holds $AT124, the template has $L bytes"
    SIG=$(dd if="$WORK/out.exe" bs=1 skip="$L" count=4 2>/dev/null)
    [ "$SIG" = "MSCF" ] || fail "no cabinet signature at $L"
    cabextract -q -t "$WORK/out.exe" >/dev/null 2>&1 || fail "cabextract rejects the cabinet"
    mkdir -p "$WORK/x"
    cabextract -q -d "$WORK/x" "$WORK/out.exe" >/dev/null 2>&1
    HTM=$(ls "$WORK/x" | grep -ci '\.htm$')
    GIF=$(ls "$WORK/x" | grep -ci '\.gif$')
    [ "$HTM" = 1 ] || fail "the cabinet holds $HTM pages, expected 1"
    [ "$GIF" = 2 ] || fail "the cabinet holds $GIF GIF pictures, expected 2"
    for g in "$WORK"/x/*.gif; do
        cmp -s "$g" "$WORK/site/1.gif" || cmp -s "$g" "$WORK/site/2.gif" || fail "$(basename "$g") differs from the served pictures"
    done
    [ "$(ls "$WORK/x" | wc -l)" = 4 ] || fail "expected the page and three pictures: $(ls "$WORK/x" | tr '\n' ' ')"
    grep -qi 'img src="QBT' "$WORK"/x/*.htm || fail "the page's pictures are not rewritten to local names"
fi
[ "$FAILED" = 0 ] && echo "gui session passed"
exit "$FAILED"
