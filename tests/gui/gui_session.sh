#!/bin/bash
# The windowed packager driven as a user drives it, with the real mouse and keyboard
# (xdotool through the X server), under Wine's virtual desktop on xvfb-run. Every
# check is an outcome the user sees: a window that appears or goes, a file written,
# the address the "browser" was handed (which shows what a box holds).
#   1. Tab after a click goes on from the clicked box; Enter on a focused button
#      presses that button, not Zip; a closed dialog gives the keyboard back;
#   2. Tab after an accelerator goes on from the box it focused; typed text lands
#      where the keyboard is;
#   3. after About (Alt+A, closed with Enter) typing goes on in the address box;
#   4. a 2,100-character address: the message box fits on the screen;
#   5. the Zip command's progress dialog is in front: its Cancel is clicked where it
#      shows, and no executable appears;
#   6. Alt+U, Alt+P type into their boxes, Enter zips; the done dialog names the
#      failed picture, is in front, keeps the main window disabled, and Tab reaches
#      its order button;
#   7. after the Zip the box shows the zipped address, not a longer history entry;
#   8. Escape, and a click on Cancel, while the builder compresses: no message, the old
#      executable kept, no unfinished file left;
#   9. View URL opens the address as Zip normalises it; Alt+B, Alt+A and Alt+C do
#      what their underlined letters say;
#  10. an extractor cancelled mid-way leaves nothing in the temporary folder, and the
#      folder an earlier run left for the browser goes once it is a day old.
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
<body><h1>Sample</h1><img src="1.gif"><img src="2.gif"><img src="missing.gif">$(for b in $BIGS; do echo "<img src=\"$b\">"; done)</body></html>
HTML
# Pictures that do not compress, enough for the builder to be caught compressing.
HEAVY=""
for i in 1 2 3 4 5 6; do
    python3 -c "import random,sys; sys.stdout.buffer.write(random.Random($i).randbytes(4 << 20))" \
        >"$WORK/site/photo$i.bmp"
    HEAVY="$HEAVY<img src=\"photo$i.bmp\">"
done
echo "<html><body><h1>Photos</h1>$HEAVY</body></html>" >"$WORK/site/heavy.htm"
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
# A click at client point (x, y) of the main window.
click() { xdotool mousemove $((CX + $1)) $((CY + $2)) click 1; sleep 0.4; }
# A click on the main window's caption: the keyboard comes back after the "browser"
# (a console program) took it.
click_caption() { xdotool mousemove $((CX + 150)) $((CY - 12)) click 1; sleep 0.6; }
# Waits for the "browser" to be handed an address and checks it.
expect_opened() {
    wait_for '[ -s "$WORK/opened.txt" ]' 100
    local opened
    opened=$(tr -d '\r\n ' <"$WORK/opened.txt" 2>/dev/null)
    [ "$opened" = "$1" ] || fail "$2: the browser got \"$opened\", expected $1"
    rm -f "$WORK/opened.txt"
}
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

wineboot -i >/dev/null 2>&1
# History: one older entry that begins with the address zipped below.
KEY='HKCU\Software\Tarnwick\quillbox\URL History'
# A 2,100-character address on a port nobody listens on (bound and closed again), so
# that its Zip fails with a message.
CLOSED=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
LONG="http://127.0.0.1:$CLOSED/long/$(printf 'a%.0s' $(seq 2100)).htm"
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

note "1: Tab after a click, Enter on a focused button, the keyboard back after a dialog"
rm -f "$WORK/opened.txt"
click 150 150                                 # into the address box
retype "$SITE/view.htm"
# Tab from the clicked box: View. Enter presses it (the browser gets the address), no Zip.
xdotool key Tab Return
expect_opened "http://$SITE/view.htm" "Enter on View after Tab from the clicked address box"
[ "$(progress_count)" = 0 ] || fail "Enter on the focused View button started a Zip"
click_caption
click 150 150
retype ""
# View on an empty address answers with the Zip command's message, which gives the
# keyboard back to the address box: typing lands there.
xdotool key Tab
expect_window space quillbox Return "View on an empty address" quillbox-message.png
xdotool type --delay 15 "$SITE/back.htm"
xdotool key alt+v
expect_opened "http://$SITE/back.htm" "typing after the message"
click_caption
# Tab from the clicked output box: Browse; the closed file dialog gives the keyboard
# back to Browse: Tab is About, Enter opens it; then Shift+Tab from About is Browse.
click 150 205
xdotool key Tab
expect_window space Browse Escape "Tab from the clicked output box" quillbox-browse.png
xdotool key Tab
expect_window Return 'About Quillbox!' Return "Enter on About reached with Tab"
[ "$(progress_count)" = 0 ] || fail "Enter on the focused About button started a Zip"
xdotool key shift+Tab
expect_window space Browse Escape "Shift+Tab from About after the About box"

note "2: Tab after an accelerator, typing where the keyboard is"
xdotool key alt+u Tab Tab Tab
expect_window space Browse Escape "Alt+U and three Tabs"
xdotool key alt+u
retype "$SITE/typed.htm"
xdotool key alt+p End
xdotool type --delay 15 "X"
xdotool key Tab
xdotool type --delay 15 "Y"
xdotool key alt+v
expect_opened "http://$SITE/typed.htm" "Y typed after Alt+P and Tab"
click_caption

note "3: after About the keyboard is where it was"
xdotool key alt+u
retype "$SITE/a"
expect_window alt+a 'About Quillbox!' Return "Alt+A"
xdotool type --delay 15 "bout.htm"
xdotool key alt+v
expect_opened "http://$SITE/about.htm" "typing after the About box"
click_caption

note "4: a 2,100-character address fits in its message box"
xdotool key alt+u
retype ""
xdotool type --delay 2 "$LONG"
xdotool key alt+p
retype "$(winpath "$WORK/long.exe")"
xdotool key Return
if wait_for '[ "$(count quillbox)" -ge 1 ]' 300; then
    sleep 0.5
    geometry "$(visible quillbox | head -1)"
    [ -n "$WIDTH" ] && [ "$WIDTH" -le 800 ] || fail "the message of the long address is $WIDTH pixels wide"
    shot quillbox-long-address.png
    # The worker's box comes in front with the keyboard: Enter presses its OK.
    xdotool key Return
    wait_for '[ "$(count quillbox)" = 0 ]' 50 || fail "the long-address message stayed"
else
    fail "no message for the long address"
fi
sleep 1

note "5: the Zip command's progress dialog in front, Cancel clicked where it shows"
xdotool key alt+u
retype "$SITE/cancel.htm"
xdotool key alt+p
retype "$(winpath "$WORK/cancel.exe")"
# Shift+Tab from the address box is Zip: Space zips what was typed into the boxes.
xdotool key alt+u shift+Tab space
wait_for '[ "$(progress_count)" = 1 ]' 100 || fail "Space on Zip after Shift+Tab: no progress dialog"
sleep 2
DLG=$(progress_dialogs | head -1)
if [ -n "$DLG" ]; then
    geometry "$DLG"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) click 1
    wait_for '[ "$(progress_count)" = 0 ]' 150 || fail "the progress dialog stayed after its Cancel was clicked (behind the main window?)"
fi
sleep 2
[ -e "$WORK/cancel.exe" ] && fail "Cancel left an executable"

note "6: Alt+U, Alt+P, Enter zips; the done dialog"
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
    # The done dialog has the keyboard: Tab reaches the order button, Space presses it
    # (the dialog stays), Escape closes it.
    rm -f "$WORK/opened.txt"
    xdotool key Tab space
    expect_opened "http://www.tarnwick.example/order/" "Tab and Space in the done dialog"
    [ -n "$(done_dialog)" ] || fail "the order button closed the done dialog"
    # The "browser" took the keyboard: a click on the dialog's caption brings it back.
    geometry "$(done_dialog)"
    xdotool mousemove $((X + 60)) $((Y + 8)) click 1
    sleep 0.5
    xdotool key Escape
    wait_for '[ -z "$(done_dialog)" ]' 50 || fail "Escape did not close the done dialog"
else
    fail "no done dialog"
fi
sleep 1

note "7: Zip again packs the same page"
xdotool key alt+p
retype "$(winpath "$WORK/again.exe")"
xdotool key Return
wait_for '[ -n "$(done_dialog)" ]' 1800 || fail "no done dialog after the second Zip"
sleep 0.5
xdotool key Return
sleep 1

note "8: Escape, then a click on Cancel, while compressing"
# Zips the heavy page over a copy of an earlier executable and waits until the builder
# compresses (its dialog is the second progress dialog on screen).
zip_heavy() {
    cp "$WORK/done.exe" "$WORK/heavy.exe"
    xdotool key alt+u
    retype "$SITE/heavy.htm"
    xdotool key alt+p
    retype "$(winpath "$WORK/heavy.exe")"
    xdotool key Return
    # The overwrite question: Yes.
    wait_for '[ "$(count quillbox)" -ge 1 ]' 100 && xdotool key Return
    wait_for '[ "$(progress_count)" = 2 ]' 1200
}
# The packing stopped as a cancel: no message, the old executable kept, nothing unfinished.
expect_cancelled() {
    wait_for '[ "$(progress_count)" = 0 ]' 600 || fail "$1 did not end the compressing"
    wait_for '[ "$(count quillbox)" -ge 1 ]' 30 && fail "a message came after $1 while compressing"
    cmp -s "$WORK/done.exe" "$WORK/heavy.exe" || fail "$1 while compressing changed the old executable"
    ls "$WORK" | grep -qi '^qbx' && fail "$1 while compressing left an unfinished file: $(ls "$WORK" | grep -i '^qbx')"
    sleep 1
}
if zip_heavy; then
    sleep 0.5
    xdotool key Escape
    expect_cancelled Escape
else
    fail "the builder's dialog never showed (Escape)"
fi
if zip_heavy; then
    sleep 0.5
    # Both dialogs lie in the middle of the screen: the Cancel clicked is the one in
    # front, the builder's or the Zip command's; either must stop the packing.
    geometry "$(progress_dialogs | tail -1)"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) click 1
    expect_cancelled Cancel
else
    fail "the builder's dialog never showed (Cancel)"
fi

note "9: View URL normalised; Alt+B, Alt+A, Alt+C"
rm -f "$WORK/opened.txt"
xdotool key alt+u
retype "$SITE/view.htm"
xdotool key alt+v
expect_opened "http://$SITE/view.htm" "Alt+V"
click_caption
shot quillbox-main.png
expect_window alt+b Browse Escape "Alt+B"
expect_window alt+a 'About Quillbox!' Return "Alt+A" quillbox-about.png
xdotool key alt+c
wait_for '[ "$(count "Quillbox!")" = 0 ]' 100 || fail "Alt+C did not close the window"

note "10: an extractor cancelled mid-way leaves nothing in the temporary folder; an earlier run's folder goes a day later"
python3 "$SRC/tests/extractor/stored_sfx.py" "$WORK/app/ExtractQLBX_Lite.exe" "$WORK/many.exe" many
TEMPS="$WINEPREFIX/drive_c/users"
# What earlier runs left for the browser: one folder two days old (goes), one an hour old
# (stays, a browser may still read it).
TEMPDIR=$(find "$TEMPS" -maxdepth 5 -type d -name Temp | head -1)
[ -n "$TEMPDIR" ] || { fail "no temporary folder in the prefix"; TEMPDIR=$WORK/notemp; }
mkdir -p "$TEMPDIR/spillet-0LD0LD/sub" "$TEMPDIR/spillet-YOUNG1"
echo page >"$TEMPDIR/spillet-0LD0LD/sub/index.htm"
echo page >"$TEMPDIR/spillet-YOUNG1/index.htm"
touch -d '2 days ago' "$TEMPDIR/spillet-0LD0LD/sub" "$TEMPDIR/spillet-0LD0LD"
touch -d '1 hour ago' "$TEMPDIR/spillet-YOUNG1"
unpacked() { find "$TEMPS" -path '*spillet-*' ! -path '*spillet-YOUNG1*' ! -path '*spillet-0LD0LD*' -type f 2>/dev/null | wc -l; }
(cd "$WORK" && wine explorer /desktop=qb,1024x768 "$(winpath "$WORK/many.exe")" >/dev/null 2>&1 &)
if wait_for '[ "$(unpacked)" -ge 1 ]' 300; then
    xdotool key Escape
    SEEN=$(unpacked)
    wait_for '[ "$(count "Extracting...")" = 0 ]' 300 || fail "Escape did not close the extractor's dialog"
    wait_for '[ -z "$(find "$TEMPS" -path "*spillet-*" ! -path "*spillet-YOUNG1*" 2>/dev/null)" ]' 300
    LEFT=$(find "$TEMPS" -path '*spillet-*' ! -path '*spillet-YOUNG1*' 2>/dev/null)
    [ -z "$LEFT" ] || fail "a cancelled extraction (after $SEEN files) left: $(echo "$LEFT" | head -3)"
    [ "$SEEN" -lt 400 ] || fail "the extraction ended before it was cancelled"
    [ -s "$TEMPDIR/spillet-YOUNG1/index.htm" ] || fail "the extractor removed an hour-old folder of an earlier run"
else
    fail "the extractor unpacked nothing"
fi

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
