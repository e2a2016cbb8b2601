#!/usr/bin/env bash
# scripts/install for a user whose home is a scratch folder (with a blank in its name): the
# program, its help page and port library in ~/.local/lib/tallowlamp, a launcher link, a
# valid menu entry with the program's icon, and not one file written outside the home; the
# installed program starts from the link and finds its own folder; a second install while it
# runs; --uninstall takes everything away but the settings, and the log-on entry with it.
#   tests/e2e/user_install.sh <TallowLAMP executable>
# Needs unshare (as root), desktop-file-validate and ImageMagick (scripts/install-deps).
set -euo pipefail

for tool in unshare desktop-file-validate identify convert; do
    command -v "$tool" > /dev/null || { echo "FAIL $tool is missing: run scripts/install-deps"; exit 1; }
done

source "$(dirname "$0")/harness.bash" "$@"
source_tree=$(realpath "$(dirname "$0")/../..")
build=$(dirname "$program")

export HOME="$work/home of a user" TMPDIR=$work/tmp
unset XDG_DATA_HOME XDG_CONFIG_HOME
mkdir -p "$HOME" "$TMPDIR"
lib=$HOME/.local/lib/tallowlamp
entry=$HOME/.local/share/applications/org.tallowlamp.TallowLAMP.desktop
icon=$HOME/.local/share/icons/hicolor/32x32/apps/org.tallowlamp.TallowLAMP.png

# The install runs where all but the work folder (the home and TMPDIR in it) is read-only:
# a mount namespace of its own in which / is mounted read-only, so that any write outside
# the home fails the install.
install_it() {
    unshare --mount --propagation private bash -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro / &&
        shift && exec bash "$@"' install "$work" "$source_tree/scripts/install" --build "$build" "$@" \
        > "$work/install.log" 2>&1 || { sed 's/^/     | /' "$work/install.log"; return 1; }
}

check "scripts/install succeeds with everything but the home read-only" install_it
installed() { cmp -s "$program" "$lib/TallowLAMP" && test -x "$lib/TallowLAMP" -a -f "$lib/help.html" -a -f "$lib/libinpout32.so"; }
check "  the program, its help page and port library" installed
check "  a launcher link in ~/.local/bin" test "$(readlink -f "$HOME/.local/bin/tallowlamp")" = "$lib/TallowLAMP"
check "  a menu entry that desktop-file-validate passes" desktop-file-validate "$entry"
exec_line() { grep -qxF "Exec=\"$lib/TallowLAMP\"" "$entry"; }
check "  which starts the installed program (quoted for the blanks)" exec_line
icon_of_32() { [[ $(identify -format '%m %wx%h' "$icon") == "PNG 32x32" ]] && grep -qx 'Icon=org.tallowlamp.TallowLAMP' "$entry"; }
check "  with the program's icon, 32 x 32" icon_of_32

# Started by its link, the program is the installed one and its folder the user's.
QT_QPA_PLATFORM=offscreen "$HOME/.local/bin/tallowlamp" > "$work/program.log" 2>&1 < /dev/null &
pid=$!
pids+=($pid)
running() { [[ $(readlink "/proc/$pid/exe" 2> /dev/null) == "$lib/TallowLAMP" ]]; }
check "the link starts the installed program" wait_for 10 running
# A close signal ends it with 0 once it handles one: one sent while Qt still starts ends the
# process as it ends any (143).
handles_term() { local mask; mask=$(sed -n 's/^SigCgt:\t*//p' "/proc/$pid/status" 2> /dev/null); [[ -n $mask ]] && ((16#$mask >> 14 & 1)); }
check "  and handles a close signal" wait_for 10 handles_term
check "  whose settings folder is writable" test -w "$lib"
check "a second install while it runs" install_it
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
check "  and the program still ends with 0" test "$status" -eq 0

# The settings, and the program's own log-on entry for this copy.
printf '[GENERALOPTIONS]\r\nPollinterval=250\r\n' > "$lib/TallowLAMP.ini"
mkdir -p "$HOME/.config/autostart"
printf '[Desktop Entry]\nType=Application\nName=TallowLAMP\nExec="%s" /STARTUP\n' "$lib/TallowLAMP" \
    > "$HOME/.config/autostart/TallowLAMP.desktop"
check "scripts/install --uninstall succeeds, likewise" install_it --uninstall
gone() { for path in "$@"; do [[ ! -e $path && ! -L $path ]] || { say "     (still there: $path)"; return 1; }; done; }
check "  the program, the link, the menu entry, the icon and the log-on entry are gone" \
    gone "$lib/TallowLAMP" "$lib/help.html" "$lib/libinpout32.so" "$HOME/.local/bin/tallowlamp" "$entry" "$icon" \
    "$HOME/.config/autostart/TallowLAMP.desktop"
check "  the settings stay" grep -q 'Pollinterval=250' "$lib/TallowLAMP.ini"
check "a second --uninstall does no harm" install_it --uninstall

finish
