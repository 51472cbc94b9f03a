#!/bin/bash
# The windowed packager driven as a user drives it, with the real mouse and keyboard
# (xdotool through the X server), under Wine's virtual desktop on xvfb-run. Every
# check is an outcome the user sees: a window that appears or goes, a file written.
#   1. typing: click into the address box and type, click into the output box and type;
#   2. the tab order: after N Tabs (or Shift+Tabs) Space presses the expected button;
#      View URL on an empty address answers with the Zip command's message;
#   3. the Zip command's progress dialog is in front: its Cancel is clicked where it
#      shows, and no executable appears;
#   4. Alt+U and Alt+P type into their boxes, Enter zips;
#   5. the done dialog is in front and the main window stays disabled under it (a
#      click on Zip starts nothing); the executables hold the page;
#   6. after the Zip the box shows the zipped address, not a longer history entry:
#      Zip again packs the same page;
#   7. View URL opens the address as Zip normalises it; Alt+B, Alt+A and Alt+C do what
#      their underlined letters say.
# With an OUTPUT_DIR it also leaves the screenshots of docs/ there.
# Usage: tests/gui/gui_session.sh BUILD_BIN_DIR [OUTPUT_DIR]
# Exit status: 0 passed, 1 failed, 77 skipped (no X server or tools).
set -u
BIN=$1
OUT=${2:-}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
for tool in xdotool xwininfo cabextract wine python3 import; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "skipped: no X server (run under xvfb-run -a)"; exit 77; }
WORK=$(mktemp -d /tmp/qb-gui-XXXXXX)
# A prefix of its own: the session ends with wineserver -k, which must not touch others.
export WINEPREFIX=${QB_GUI_WINEPREFIX:-$WORK/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WORK/app" "$WORK/site"
cp "$BIN/quillbox.exe" "$BIN/ExtractQLBX_Lite.exe" "$WORK/app/" || exit 1
cp "$SRC"/tests/fetch/sites/images/1.gif "$SRC"/tests/fetch/sites/images/2.gif "$WORK/site/"
# Pictures that do not compress: the cabinet must carry them byte for byte.
BIGS="big1.bmp big2.bmp"
for b in $BIGS; do
    python3 -c "import random,sys; sys.stdout.buffer.write(random.Random('$b').randbytes(1 << 20))" \
        >"$WORK/site/$b"
done
cat >"$WORK/site/page.htm" <<HTML
<html><head><title>Quillbox sample page</title></head>
<body><h1>Sample</h1><img src="1.gif"><img src="2.gif">$(for b in $BIGS; do echo "<img src=\"$b\">"; done)</body></html>
HTML
# An older history entry that begins with the page's address.
cat >"$WORK/site/page.htmx" <<'HTML'
<html><body><h1>Other</h1></body></html>
HTML
# A picture that comes slowly (10 s), so that the progress dialog stays up.
cat >"$WORK/site/cancel.htm" <<'HTML'
<html><body><h1>Cancel me</h1><img src="1.gif"><img src="/_/slow?gap=0.4&count=25"></body></html>
HTML
. "$SRC/tests/gui/session_lib.sh"
start_server 400
SITE="127.0.0.1:$PORT"

note() { echo "-- $*"; }
shot() { [ -n "$OUT" ] && mkdir -p "$OUT" && import -window root "$OUT/$1"; }
# A click at client point (x, y) of the main window.
click() { xdotool mousemove $((CX + $1)) $((CY + $2)) click 1; sleep 0.4; }
# Presses a key and expects a window with this caption to appear, then closes it with $3.
expect_window() {
    local key=$1 caption=$2 close=$3 what=$4
    xdotool key "$key"
    if wait_for '[ "$(count "$caption")" -ge 1 ]' 100; then
        sleep 0.5
        [ -n "${5:-}" ] && shot "$5"
        xdotool key "$close"
        wait_for '[ "$(count "$caption")" = 0 ]' 50 || fail "$what: \"$caption\" stayed after $close"
    else
        fail "$what: no \"$caption\" window"
    fi
    sleep 0.5
}
# The Zip command's dialog, the builder's and the done dialog have the same caption;
# the done dialog is the wider one.
progress_dialogs() {
    local w
    for w in $(visible 'Quillbox Lite!'); do
        geometry "$w"
        [ -n "$WIDTH" ] && [ "$WIDTH" -le 340 ] && echo "$w"
    done
}
progress_count() { progress_dialogs | wc -l; }
done_dialog() {
    local w
    for w in $(visible 'Quillbox Lite!'); do
        geometry "$w"
        [ -n "$WIDTH" ] && [ "$WIDTH" -gt 340 ] && echo "$w" && return 0
    done
    return 1
}

wineboot -i >/dev/null 2>&1
# History: one older entry that begins with the address zipped below.
KEY='HKCU\Software\Tarnwick\quillbox\URL History'
wine reg add "$KEY" /v number /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$KEY" /v last /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$KEY" /v 0 /t REG_SZ /d "http://$SITE/page.htmx" /f >/dev/null 2>&1
# The "browser": whatever address the shell is asked to open is written to a file.
wine reg add 'HKCR\http\shell\open\command' /ve /f \
    /d "C:\\windows\\system32\\cmd.exe /c echo %1> $(winpath "$WORK/opened.txt")" >/dev/null 2>&1
(cd "$WORK/app" && wine explorer /desktop=qb,1024x768 quillbox.exe >/dev/null 2>&1 &)
wait_for '[ "$(count "Quillbox!")" = 1 ]' 600 || { echo "FAIL: no main window"; exit 1; }
sleep 3
MAIN=$(visible 'Quillbox!' | head -1)
geometry "$MAIN"
# Client origin: inside the 3-pixel frame and below the caption.
CX=$((X + 3)) CY=$((Y + 22))
# The first click only activates the window (no window manager here).
xdotool mousemove $((X + 150)) $((Y + 10)) click 1
sleep 1

note "1, 2: typing, tab order, View on an empty address"
click 150 150                                 # into the address box
retype ""
# Tab 1: View (index 1); Space presses it: the address is empty, so Zip's message.
xdotool key Tab
expect_window space quillbox Return "View on an empty address" quillbox-message.png
# The message put the keyboard back into the address box: typing lands there.
xdotool type --delay 15 "$SITE/cancel.htm"
click 150 205                                 # into the output box
retype "$(winpath "$WORK/cancel.exe")"
# Tabs 2, 3: output box, Browse; Tab 4: About; Tabs 5, 6, 7: Close, Zip, address box.
xdotool key Tab Tab
expect_window space Browse Escape "Tab to Browse" quillbox-browse.png
xdotool key Tab
expect_window space 'About Quillbox!' Return "Tab to About"
xdotool key Tab Tab Tab
# Shift+Tab from the address box is Zip: Space zips what was typed into the boxes.

note "3: the Zip command's progress dialog in front, Cancel clicked where it shows"
xdotool key shift+Tab space
wait_for '[ "$(progress_count)" = 1 ]' 100 || fail "Space on Zip after Tab order: no progress dialog"
sleep 2
DLG=$(progress_dialogs | head -1)
if [ -n "$DLG" ]; then
    geometry "$DLG"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) click 1
    wait_for '[ "$(progress_count)" = 0 ]' 150 || fail "the progress dialog stayed after its Cancel was clicked (behind the main window?)"
fi
sleep 2
[ -e "$WORK/cancel.exe" ] && fail "Cancel left an executable"

note "4: Alt+U, Alt+P, Enter zips"
xdotool key alt+u
retype "$SITE/page.htm"
xdotool key alt+p
retype "$(winpath "$WORK/out.exe")"
xdotool key Return
wait_for '[ "$(progress_count)" -ge 1 ]' 100 || fail "Enter did not zip"
wait_for '[ -n "$(done_dialog)" ]' 1800 || fail "no done dialog after Enter"
sleep 0.5
xdotool key Return
wait_for '[ -z "$(done_dialog)" ]' 50 || fail "Return did not close the done dialog"
sleep 2

note "5: the done dialog in front, the main window disabled under it"
xdotool key alt+p
retype "$(winpath "$WORK/done.exe")"
xdotool key Return
wait_for '[ "$(progress_count)" -ge 1 ]' 100 || fail "Enter did not zip again (window still disabled?)"
sleep 1
[ "$(progress_count)" = 1 ] && shot quillbox-progress.png
if wait_for '[ -n "$(done_dialog)" ]' 1800; then
    sleep 0.5
    shot quillbox-done.png
    click 478 55                              # Zip on the main window: must do nothing
    sleep 1.5
    [ "$(progress_count)" = 0 ] || fail "a click on Zip started a command under the done dialog"
    xdotool key Return                        # the done dialog has the keyboard
    wait_for '[ -z "$(done_dialog)" ]' 50 || fail "Return did not close the done dialog"
else
    fail "no done dialog"
fi
sleep 1

note "6: Zip again packs the same page"
xdotool key alt+p
retype "$(winpath "$WORK/again.exe")"
xdotool key Return
wait_for '[ -n "$(done_dialog)" ]' 1800 || fail "no done dialog after the second Zip"
sleep 0.5
xdotool key Return
sleep 1

note "7: View URL normalised; Alt+B, Alt+A, Alt+C"
rm -f "$WORK/opened.txt"
xdotool key alt+u
retype "$SITE/view.htm"
xdotool key alt+v
wait_for '[ -s "$WORK/opened.txt" ]' 100
OPENED=$(tr -d '\r\n ' <"$WORK/opened.txt" 2>/dev/null)
[ "$OPENED" = "http://$SITE/view.htm" ] || fail "View opened \"$OPENED\", expected http://$SITE/view.htm"
# The shell started a program for the address: a click on the caption brings the
# keyboard back, as a user would do.
xdotool mousemove $((CX + 150)) $((CY - 12)) click 1
sleep 1
shot quillbox-main.png
expect_window alt+b Browse Escape "Alt+B"
expect_window alt+a 'About Quillbox!' Return "Alt+A" quillbox-about.png
xdotool key alt+c
wait_for '[ "$(count "Quillbox!")" = 0 ]' 100 || fail "Alt+C did not close the window"

# The executables: the extractor template, its length at offset 124, the cabinet
# behind it, holding the zipped page (not the longer history entry) and its pictures.
check_exe() {
    local exe=$1 x="$WORK/x-$(basename "$1")"
    [ -s "$exe" ] || { fail "no executable at $exe"; return; }
    local L AT124 SIG
    L=$(stat -c %s "$WORK/app/ExtractQLBX_Lite.exe")
    AT124=$(od -An -tu4 -j124 -N4 "$exe" | tr -d ' ')
    [ "$AT124" = "$L" ] || fail "$exe: offset 124 holds $AT124, the template has $L bytes"
    SIG=$(dd if="$exe" bs=1 skip="$L" count=4 2>/dev/null)
    [ "$SIG" = "MSCF" ] || fail "$exe: no cabinet signature at $L"
    mkdir -p "$x"
    cabextract -q -d "$x" "$exe" >/dev/null 2>&1 || fail "$exe: cabextract rejects the cabinet"
    [ "$(ls "$x" | grep -ci '\.htm$')" = 1 ] || fail "$exe: not one page: $(ls "$x" | tr '\n' ' ')"
    grep -q '<h1>Sample</h1>' "$x"/*.htm || fail "$exe: the page is not the zipped one"
    grep -qi 'img src="QBT' "$x"/*.htm || fail "$exe: the pictures are not rewritten to local names"
    local served found
    for served in 1.gif 2.gif $BIGS; do
        found=0
        for f in "$x"/*; do cmp -s "$f" "$WORK/site/$served" && found=1; done
        [ "$found" = 1 ] || fail "$exe: $served is missing"
    done
}
check_exe "$WORK/out.exe"
check_exe "$WORK/done.exe"
check_exe "$WORK/again.exe"
[ "$FAILED" = 0 ] && echo "gui session passed"
exit "$FAILED"
