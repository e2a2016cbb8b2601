#!/bin/bash
# A start at log-on ("-startup") hides the dialog and waits out the start-up delay (here 60 s)
# before monitoring. SIGTERM (the session ending) or SIGINT (Ctrl+C) during that wait ends the
# program at once with exit code 0, and the settings file stays as it was.
#   delayed_start_signal.sh PROGRAM      (Linux only: Windows has no such signals)
set -u

if [ "${TALLOW_WINDOWS:-0}" = 1 ]; then
    echo "SKIPPED: signals are the Linux build's; the Windows build has no SIGTERM to test"
    exit 77
fi
program=$(realpath "$1")
source=${TALLOW_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi
[ -f "$source/tests/lsan.supp" ] && export LSAN_OPTIONS=suppressions=$source/tests/lsan.supp

work=$(mktemp -d)
copy=$work/$(basename "$program")
cp "$program" "$copy"
pid=
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

printf '[GENERALOPTIONS]\r\nStartwithosdelay=60\r\nPollinterval=250\r\nSingleIconMode=Yes\r\n' >"$work/TallowLAMP.ini"
settings=$(md5sum <"$work/TallowLAMP.ini")
title='^TallowLAMP V1\.05 - '

for signal in TERM INT; do
    "$copy" -startup &
    pid=$!
    # The dialog is made, then hidden by the delayed start, which then waits.
    waiting=0
    for _ in $(seq 600); do
        if [ -n "$(xdotool search --name "$title" 2>/dev/null)" ] &&
            [ -z "$(xdotool search --onlyvisible --name "$title" 2>/dev/null)" ]; then
            waiting=1
            break
        fi
        sleep 0.1
    done
    [ $waiting = 1 ] || fail "the program never reached its delayed start (a hidden dialog)"
    sleep 1
    start=$(date +%s%N)
    kill -"$signal" "$pid"
    ended=
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid"; ended=$?; break; }
        sleep 0.05
    done
    [ -n "$ended" ] || fail "SIG$signal during the delayed start did not end the program within 5 s"
    pid=
    took=$((($(date +%s%N) - start) / 1000000))
    [ "$ended" -eq 0 ] || fail "SIG$signal ended the program with $ended, not 0"
    [ "$(md5sum <"$work/TallowLAMP.ini")" = "$settings" ] || fail "SIG$signal changed the settings file"
    echo "SIG$signal in the 60 s delay: exit 0 after $took ms, settings unchanged"
done
echo "PASS"
