#!/bin/bash
# The user's real folders that TallowLAMP writes to, before and after the whole suite: the
# autostart folder, the lock folders, and the settings file's stand-ins in them. "record FILE"
# notes what they hold (names, sizes, times, contents); "compare FILE" fails when anything
# differs. ctest runs the first before every other test and the second after them all.
set -u
mode=$1 record=$2
uid=$(id -u)
config=${XDG_CONFIG_HOME:-$HOME/.config}
[ "${config:0:1}" = / ] || config=$HOME/.config

state() {
    local place places=("$config/autostart" "${XDG_RUNTIME_DIR:-/nonexistent}" "/tmp/tallowlamp-$uid"
        "/tmp/TallowLAMP-$uid.mutex")
    [ -n "${TMPDIR:-}" ] && [ "${TMPDIR%/}" != /tmp ] && places+=("$TMPDIR/tallowlamp-$uid")
    for place in "${places[@]}"; do
        [ -e "$place" ] || { echo "absent $place"; continue; }
        # The runtime folder is the session's: only what TallowLAMP may put there counts.
        if [ "$place" = "${XDG_RUNTIME_DIR:-}" ]; then
            find "$place" -maxdepth 1 -iname '*tallow*' -printf '%p %s %T@ %i\n' 2>/dev/null | sort
            continue
        fi
        # Folders by name only: their times move whenever anything comes and goes, also by
        # other programs of the session; what stays in them is what counts.
        find "$place" -type d -printf '%p/\n' 2>/dev/null | sort
        find "$place" ! -type d -printf '%p %y %s %T@ %i\n' 2>/dev/null | sort
        find "$place" -type f -exec md5sum {} + 2>/dev/null | sort
    done
}

case $mode in
record)
    state >"$record"
    echo "recorded the real folders of $(id -un) (home $HOME):"
    cat "$record"
    ;;
compare)
    if ! diff -u "$record" <(state); then
        echo "FAIL: the tests changed the user's real folders (above: - before, + after)"
        exit 1
    fi
    echo "the real autostart and lock folders are as they were:"
    cat "$record"
    ;;
esac
