# What the scripts that drive quillbox.exe under Wine share: the fixture server on the
# script's work folder, and the ways a user's eyes and hands reach the windows.
# Sourced with SRC (the source tree) and WORK (the script's own folder, removed at the end)
# set; WINEPREFIX is the script's own, which the end shuts down.

FAILED=0
# With QB_GUI_FAILSHOTS naming a folder, every failure leaves a picture of the screen there.
FAILSHOT=0
fail() {
    echo "FAIL: $*"
    FAILED=1
    FAILSHOT=$((FAILSHOT + 1))
    [ -n "${QB_GUI_FAILSHOTS:-}" ] && mkdir -p "$QB_GUI_FAILSHOTS" &&
        import -window root "$QB_GUI_FAILSHOTS/fail-$FAILSHOT.png" 2>/dev/null
}
# Visible top-level windows with exactly this caption.
visible() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null; }
count() { visible "$1" | wc -l; }
# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() {
    local end=$((SECONDS + ($2 + 9) / 10))
    while [ "$SECONDS" -le "$end" ]; do eval "$1" && return 0; sleep 0.1; done
    return 1
}
# Absolute position and size of an X window: X, Y, WIDTH, HEIGHT.
geometry() {
    local info=""
    # (xwininfo without an id would wait for a click)
    [ -n "$1" ] && info=$(xwininfo -id "$1" 2>/dev/null)
    X=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
    Y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
    WIDTH=$(echo "$info" | awk '/Width:/ {print $2}')
    HEIGHT=$(echo "$info" | awk '/Height:/ {print $2}')
}
# The done dialog: the wider of the windows captioned "Quillbox Lite!" (the progress dialogs
# have the same caption).
done_dialog() {
    local w
    for w in $(visible 'Quillbox Lite!'); do
        geometry "$w"
        [ -n "$WIDTH" ] && [ "$WIDTH" -gt 340 ] && echo "$w" && return 0
    done
    return 1
}
# Replaces the text of the box that has the keyboard.
retype() { xdotool key Home shift+End BackSpace; xdotool type --delay 15 "$1"; sleep 0.2; }
# A picture for docs/ into $OUT (when set): the middle of the virtual desktop, where the
# main window is, at the size of the other pictures there.
shot() {
    [ -n "${OUT:-}" ] || return 0
    mkdir -p "$OUT"
    import -window "$(xdotool search --name '^qb - Wine desktop$' | head -1)" \
        -gravity center -crop 600x440+0+0 +repage "$OUT/$1"
}
# A path as the Windows program sees it.
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

cleanup() {
    exec 3>&-
    kill "$SERVER" 2>/dev/null
    wineserver -k 2>/dev/null
    rm -rf "$WORK"
}

# Serves $WORK/site for at most $1 seconds and sets PORT. The server runs while its
# standard input stays open: a pipe held by this script, closed by cleanup at the end.
start_server() {
    mkfifo "$WORK/stdin"
    python3 "$SRC/tests/fixtures/server/server.py" --root "$WORK/site" --port-file "$WORK/port" \
        --lifetime "$1" <"$WORK/stdin" >/dev/null 2>&1 &
    SERVER=$!
    exec 3>"$WORK/stdin"
    trap cleanup EXIT
    for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
    PORT=$(grep -o '[0-9][0-9]*' "$WORK/port" | tail -1)
    [ -n "$PORT" ] || { echo "FAIL: fixture server did not start"; exit 1; }
}
