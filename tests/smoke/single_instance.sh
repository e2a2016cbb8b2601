#!/bin/bash
# The whole program on a real X display: it starts with its titled dialog; a second start
# warns "TallowLAMP is already running!" and exits 5 once the warning is dismissed, leaving
# the first untouched; Esc (command 2, Quit) ends it with 0; then a new start succeeds, and
# on Linux SIGTERM ends it with 0 as well.
#   single_instance.sh PROGRAM      (TALLOW_WINDOWS=1: PROGRAM is the .exe, run under Wine)
set -u

program=$(realpath "$1")
source=${TALLOW_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}
windows=0
[ "${TALLOW_WINDOWS:-0}" = 1 ] && windows=1

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi

# A copy in a folder of its own, so the settings file beside it starts absent.
work=$(mktemp -d)
copy=$work/$(basename "$program")
cp "$program" "$copy"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# What a failure leaves to go on: each start's output, the windows on the display, and
# which starts are still running.
fail() {
    echo "FAIL: $*"
    for log in "$work"/start*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log"):"; tail -20 "$log"; }
    done
    echo "--- windows: $(xdotool search --name . 2>/dev/null | while read -r id; do
        printf '%s ' "\"$(xdotool getwindowname "$id" 2>/dev/null)\""; done)"
    for pid in "${pids[@]}"; do
        kill -0 "$pid" 2>/dev/null && echo "--- start $pid: running" || echo "--- start $pid: ended"
    done
    exit 1
}

if [ $windows = 1 ]; then
    export WINEPREFIX=${WINEPREFIX:-$(dirname "$program")/wineprefix}
    "$source/scripts/wine-run" ${TALLOW_WINE_FLAGS:-} --prepare
    status=$?
    [ $status -eq 0 ] || exit $status
    start() { "$source/scripts/wine-run" ${TALLOW_WINE_FLAGS:-} "$copy" >"$work/start${#pids[@]}.log" 2>&1 & }
else
    [ -f "$source/tests/lsan.supp" ] && export LSAN_OPTIONS=suppressions=$source/tests/lsan.supp
    start() { "$copy" >"$work/start${#pids[@]}.log" 2>&1 & }
fi

# Waits up to 60 s for a visible window whose title matches; prints its id.
window() {
    local id
    for _ in $(seq 600); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# Waits up to 30 s for a process to end; the exit code lands in $ended.
finish() {
    for _ in $(seq 300); do
        kill -0 "$1" 2>/dev/null || { wait "$1"; ended=$?; return 0; }
        sleep 0.1
    done
    return 1
}

press() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    sleep 0.3
    xdotool key "$2"
}

title='^TallowLAMP V1\.05 - '

start; first=$!; pids+=("$first")
dialog=$(window "$title") || fail "no window titled \"TallowLAMP V1.05 - ...\" appeared"
echo "first instance: window $dialog, title \"$(xdotool getwindowname "$dialog")\""

start; second=$!; pids+=("$second")
warning=$(window '^Warning$') || fail "the second start showed no \"Warning\" box"
kill -0 "$second" 2>/dev/null || fail "the second instance ended before its warning was dismissed"
press "$warning" Return
finish "$second" || fail "the second instance did not end after its warning was dismissed"
[ "$ended" -eq 5 ] || fail "the second instance exited with $ended, not 5"
echo "second instance: warned and exited with 5"

kill -0 "$first" 2>/dev/null || fail "the first instance ended along with the second"
[ "$(xdotool search --onlyvisible --name "$title" | head -1)" = "$dialog" ] ||
    fail "the first instance's window is gone"

press "$dialog" Escape
finish "$first" || fail "Esc (Quit) did not end the program"
[ "$ended" -eq 0 ] || fail "Quit ended the program with $ended, not 0"
echo "first instance: Esc ended it with 0"

start; third=$!; pids+=("$third")
dialog=$(window "$title") || fail "a new start after the first ended showed no window"
if [ $windows = 1 ]; then
    press "$dialog" Escape
    finish "$third" || fail "Esc did not end the new instance"
    [ "$ended" -eq 0 ] || fail "the new instance exited with $ended, not 0"
else
    kill -TERM "$third"
    finish "$third" || fail "SIGTERM did not end the program"
    [ "$ended" -eq 0 ] || fail "SIGTERM ended the program with $ended, not 0"
fi
echo "new instance: started after the first had ended, and ended with 0"
echo "PASS"
