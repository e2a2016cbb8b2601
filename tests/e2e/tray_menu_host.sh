#!/usr/bin/env bash
# The lamps on a menu-only host, under Xvfb with a session bus of its own: xfce4-panel's
# indicator plug-in with Ayatana's application indicators (ayatana-indicator-application, as
# MATE and Ubuntu MATE have it), which show each item's picture, by file name, and its menu,
# and never activate it.
#   tests/e2e/tray_menu_host.sh <TallowLAMP executable>
# The lamps show their colours; a click opens the menu, whose "Show/Hide window" shows and
# hides the dialog; "Quit" ends the program and its picture files go with it.
set -euo pipefail

service=/usr/libexec/ayatana-indicator-application/ayatana-indicator-application-service
for tool in Xvfb xfce4-panel dbus-daemon dbus-send xdotool import convert "$service"; do
    command -v "$tool" > /dev/null || { echo "skipped: $tool is missing (scripts/install-deps installs it)"; exit 77; }
done
[[ -e /usr/lib/x86_64-linux-gnu/xfce4/panel/plugins/libindicator-plugin.so ]] ||
    { echo "skipped: xfce4-indicator-plugin is missing (scripts/install-deps installs it)"; exit 77; }

source "$(dirname "$0")/harness.bash" "$@"
source "$(dirname "$0")/desktop.bash" indicator

"$service" > "$work/service.log" 2>&1 &
pids+=($!)
start_panel
check "the indicator host is up" wait_for 20 host_up
"$work/app/TallowLAMP" -startup > "$work/program.log" 2>&1 &
program=$!
pids+=($program)
check "both lamps register with it" wait_for 15 two_items
wait_for 10 test -n "$(lamp_x 0,64,128)" || true
lamp=$(lamp_x 0,64,128)
check "the drive's lamp shows in the panel (dark blue)" test -n "$lamp"
[[ -n $lamp ]] || exit 1
check "and the RAM meter beside it" test -n "$(lamp_x 64,0,64)"
pictures=$XDG_RUNTIME_DIR/TallowLAMP-$program
lamp_is() { [[ -n $(lamp_x "$1") ]]; }
move w
check "writing lights the lamp red" wait_for 5 lamp_is 255,0,0
stop_moving
check "idle: dark blue again" wait_for 5 lamp_is 0,64,128

check "the dialog starts hidden (start-up switch)" not dialog_shown
menu 1 1
check "the menu's \"Show/Hide window\" shows the dialog" wait_for 5 dialog_shown
menu 1 1
check "and hides it" wait_for 5 not dialog_shown

program_alive() { kill -0 "$program" 2> /dev/null; }
check "the lamps' pictures lie in the runtime folder" test -d "$pictures"
menu 2 1
check "the menu's \"Quit\" ends the program" wait_for 10 not program_alive
status=0
wait "$program" || status=$?
check "with exit code 0" test "$status" -eq 0
check "and leaves no picture behind" test ! -e "$pictures"
finish
