#!/usr/bin/env bash
# The dialog under a real reparenting window manager (openbox, in Xvfb): with no settings it
# opens at the default rectangle 100,100,630,510, frame included, with every control inside;
# Apply, quit and start again, three times, and the saved rectangle stays the same; a saved
# rectangle off every screen, or one of no size, still gives a whole window on the screen.
#   tests/e2e/openbox_dialog.sh <TallowLAMP executable> [folder for a screenshot]
# Needs Xvfb, openbox, xdotool, xwininfo, xprop and ImageMagick's import (scripts/install-deps).
set -euo pipefail

for tool in Xvfb openbox xdotool xwininfo xprop import; do
    command -v "$tool" > /dev/null || { echo "FAIL $tool is missing: run scripts/install-deps"; exit 1; }
done

source "$(dirname "$0")/harness.bash" "$@"
export XDG_CONFIG_HOME=$work/config
ini=$work/app/TallowLAMP.ini
rm -f "$ini"

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 -u "$displayfd" number || { say "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=:$number
openbox > "$work/openbox.log" 2>&1 &
pids+=($!)
managed() { xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id'; }
wait_for 10 managed || { say "FAIL openbox did not start"; exit 1; }

dialog=
start() {
    "$work/app/TallowLAMP" > "$work/program.log" 2>&1 &
    pid=$!
    dialog=
    found() { dialog=$(xdotool search --onlyvisible --name '^TallowLAMP V1\.05' 2> /dev/null | head -1) && [[ -n $dialog ]]; }
    wait_for 20 found || { say "FAIL the dialog did not show"; return 1; }
    framed() { [[ $(xprop -id "$dialog" _NET_FRAME_EXTENTS 2> /dev/null) == *=* ]]; }
    wait_for 5 framed
    sleep 4 # the frame is watched for up to three seconds after the first paint
}
# The client's place and size, "x y width height".
client() {
    xwininfo -id "$dialog" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}
# The window with its frame as Windows counts it: "left top right bottom".
outer() {
    local x y w h left right top bottom
    read -r x y w h < <(client)
    IFS=', ' read -r left right top bottom < <(xprop -id "$dialog" _NET_FRAME_EXTENTS | sed 's/.*= //')
    echo "$((x - left)) $((y - top)) $((x + w + right)) $((y + h + bottom))"
}
# Clicks a button of the dialog at its place in dialog units (6 x 13 pixels each 4 x 8).
press() { # press <x> <y> (the button's centre, in dialog units)
    local x y w h
    read -r x y w h < <(client)
    xdotool mousemove $((x + $1 * 6 / 4)) $((y + $2 * 13 / 8)) click 1
}
apply() { # each key is written whole, one after another: Bottom is the last of the four
    rm -f "$ini"
    press 317 187
    wait_for 5 grep -q WindowPosBottom "$ini" 2> /dev/null && sleep 0.5
}
alive() { kill -0 "$pid" 2> /dev/null; }
quit() { # "Quit"; a window out of reach is ended by SIGTERM, after its checks have failed
    [[ -n $dialog ]] && press 317 219
    wait_for 10 not alive || kill "$pid"
    wait "$pid" || true
}
saved() { tr -d '\r' < "$ini" | awk -F= '/^WindowPos(Left|Top|Right|Bottom)=/ { v[$1] = $2 }
    END { print v["WindowPosLeft"], v["WindowPosTop"], v["WindowPosRight"], v["WindowPosBottom"] }'; }
# The whole template (348 x 232 dialog units) inside the client.
whole() { local x y w h; read -r x y w h < <(client); ((w >= 522 && h >= 377)); }
on_screen() { local l t r b; read -r l t r b < <(outer); ((l >= 0 && t >= 0 && r <= 1024 && b <= 768)); }
is() { [[ $("$1") == "$2" ]] || { say "     ($1: $("$1"), not $2)"; return 1; }; }

# --- No settings: the default rectangle, kept across Apply and restarts ---------------------
start
check "the window opens at 100,100,630,510, frame included" is outer "100 100 630 510"
check "and holds the whole dialog" whole
if [[ -n $shots ]]; then mkdir -p "$shots"; import -window root "$shots/openbox-dialog.png"; fi
check "Apply saves that rectangle" apply
check "  as 100 100 630 510" is saved "100 100 630 510"
quit
for round in 2 3; do
    start
    check "start $round: the same window" is outer "100 100 630 510"
    apply
    check "  and Apply saves the same rectangle" is saved "100 100 630 510"
    quit
done

# --- A rectangle off every screen comes back into the work area, its size kept --------------
printf '[GENERALOPTIONS]\r\nWindowPosLeft=3000\r\nWindowPosTop=-2000\r\nWindowPosRight=3530\r\nWindowPosBottom=-1590\r\n' > "$ini"
start
check "a window saved off the screen opens on it" on_screen
size() { local l t r b; read -r l t r b < <(outer); echo "$((r - l)) $((b - t))"; }
check "  at its saved size" is size "530 410"
quit

# --- A rectangle of no size, or turned inside out, keeps the dialog whole ---------------------
for rectangle in "200 150 200 150" "400 300 100 100"; do
    read -r left top right bottom <<< "$rectangle"
    printf '[GENERALOPTIONS]\r\nWindowPosLeft=%s\r\nWindowPosTop=%s\r\nWindowPosRight=%s\r\nWindowPosBottom=%s\r\n' \
        "$left" "$top" "$right" "$bottom" > "$ini"
    start
    check "saved $left,$top,$right,$bottom: the whole dialog on the screen" whole
    check "  and on the screen" on_screen
    quit
done

finish
