#!/usr/bin/env bash
# The lamps on the hosts users have, under Xvfb with a session bus of its own: first no tray
# host at all (a notification daemon, dunst, runs), then xfce4-panel's tray, a
# StatusNotifierItem host, started later.
#   tests/e2e/tray_hosts.sh <TallowLAMP executable> [folder for the screenshots]
# Without a host a log-on start (-startup) leaves the dialog on screen, and one notification
# says no notification area was found; the lamps appear when the panel starts, and from then
# on hiding hides. In the panel: one click shows or hides the dialog, a double click toggles
# it once, the menu's "Show/Hide window" toggles it, "Quit" ends the program; each lamp has
# its own item id, the same in the next run; a lamp change sends one D-Bus signal for the
# part that changed, an idle pass none.
set -euo pipefail

for tool in Xvfb xfce4-panel dunst dbus-daemon dbus-monitor dbus-send xdotool xwininfo import convert; do
    command -v "$tool" > /dev/null || { echo "skipped: $tool is missing (scripts/install-deps installs it)"; exit 77; }
done

source "$(dirname "$0")/harness.bash" "$@"

source "$(dirname "$0")/desktop.bash" systray

# Every item signal and every notification on the bus, for counting.
dbus-monitor --session "type='signal',interface='org.kde.StatusNotifierItem'" \
    "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" > "$work/bus.log" 2>&1 &
pids+=($!)

dunst > "$work/dunst.log" 2>&1 &
pids+=($!)

notices() { grep -c 'member=Notify' "$work/bus.log" || true; }
notice_says_no_area() { grep -A8 'member=Notify' "$work/bus.log" | grep -q 'No notification area was found'; }
signals() { # signals <unique name> <member>: how many the item sent so far
    grep -c "sender=$1 .*member=$2\$" "$work/bus.log" || true
}

# --- No host: the dialog stays reachable, one notification says why ------------------------
"$work/app/TallowLAMP" -startup > "$work/program.log" 2>&1 &
program=$!
pids+=($program)
check "no host: the started dialog comes back to the screen" wait_for 15 dialog_reachable
sleep 2
check "and stays there" dialog_reachable
check "one notification was sent" test "$(notices)" -eq 1
check "saying that no notification area was found" notice_says_no_area
shot_notice() {
    [[ -n $shots ]] || return 0
    mkdir -p "$shots"
    import -window root "$shots/no-tray-host.png"
}
shot_notice

# --- The panel starts: the lamps appear in it ----------------------------------------------
start_panel
check "xfce4-panel's tray is a StatusNotifierItem host" wait_for 20 host_up
check "both lamps register with it" wait_for 15 two_items
check "no second notification" test "$(notices)" -eq 1
wait_for 10 test -n "$(lamp_x 0,64,128)" || true
lamp=$(lamp_x 0,64,128)
check "the drive's lamp shows in the panel (dark blue)" test -n "$lamp"
[[ -n $lamp ]] || exit 1
check "and the RAM meter beside it" test -n "$(lamp_x 64,0,64)"

# --- Pictures of the lamps in the panel ------------------------------------------------------
if [[ -n $shots ]]; then
    panel_shot() { import -window root "$work/screen.png"; convert "$work/screen.png" -crop 120x40+0+0 +repage "$shots/$1.png"; }
    panel_shot panel-idle
    for how in r w rw; do
        move "$how"
        sleep 0.5
        panel_shot "panel-$how"
    done
    stop_moving
    convert "$shots/panel-idle.png" "$shots/panel-r.png" "$shots/panel-w.png" "$shots/panel-rw.png" \
        -bordercolor white -border 6x0 +append -filter point -resize 200% "$shots/xfce4-panel-lamps.png"
fi

# --- Clicks in the panel ---------------------------------------------------------------------
# The dialog came back uncounted (as a plain start shows it): the first toggle brings it up.
click 1
after_double_click_time
check "a click brings the dialog up" wait_for 5 dialog_shown
click 1
check "the next one hides it, now that a host shows the lamps" wait_for 5 not dialog_shown
after_double_click_time
click 1 2
check "a double click shows it" wait_for 5 dialog_shown
sleep 1
check "once: the second click of the pair is no second toggle" dialog_shown
click 1 2
check "another double click hides it" wait_for 5 not dialog_shown
after_double_click_time
menu 1
check "the menu's \"Show/Hide window\" shows it" wait_for 5 dialog_shown
menu 1
check "and hides it" wait_for 5 not dialog_shown

# --- Each lamp its own id ------------------------------------------------------------------
ids() { for service in $(items); do item_property "$service" Id | awk -F'"' '/string/ { print $2 }'; done | sort; }
first_ids=$(ids)
say "     item ids: $(echo $first_ids)"
check "every lamp has an id of its own" test "$(uniq <<< "$first_ids" | grep -c '^TallowLAMP-[0-9]*$')" -eq 2

# --- Signals: one for the part that changed, none when idle ---------------------------------
drive=$(item_with_tip 'Drive: ')
meter=$(item_with_tip 'RAM:')
drive_bus=$(owner_of "$drive")
meter_bus=$(owner_of "$meter")
count_all() { echo "$(signals "$drive_bus" NewIcon) $(signals "$drive_bus" NewToolTip) $(signals "$meter_bus" NewIcon) $(signals "$meter_bus" NewToolTip)"; }
before=$(count_all)
sleep 2
check "two idle seconds (20 passes) send no signal" test "$(count_all)" = "$before"

lamp_is() { [[ -n $(lamp_x "$1") ]]; }
move r
check "reading lights the lamp green" wait_for 5 lamp_is 0,255,0
stop_moving
check "idle: dark blue again" wait_for 5 lamp_is 0,64,128
sleep 0.5
# One read: the lamp lights for one pass and goes out at the next, two changes of its picture.
tip_before=$(item_property "$drive" ToolTip | grep -a 'string "')
read -r icons tips _ < <(count_all)
read -r reads _ _ _ writes _ < "$stat"
reads=$((reads + 1))
counters
sleep 1
read -r icons_after tips_after _ < <(count_all)
# The free space in the tip is the real root's: if it moved meanwhile, that is one tip more.
tips_expected=$tips
[[ $(item_property "$drive" ToolTip | grep -a 'string "') == "$tip_before" ]] || tips_expected=$((tips + 1))
check "one read: two lamp changes, two NewIcon (got $((icons_after - icons)))" test $((icons_after - icons)) -eq 2
check "and no NewToolTip (got $((tips_after - tips)))" test "$tips_after" -eq "$tips_expected"

read -r _ _ meter_icons meter_tips < <(count_all)
memory 3040000 # 37 % to 62 %: the picture and the tip change
meter_moved() { item_property "$meter" ToolTip | grep -aq 'Usage: 62%'; }
check "the meter follows the memory load" wait_for 5 meter_moved
sleep 0.5
read -r _ _ meter_icons_after meter_tips_after < <(count_all)
check "the meter change sent one NewIcon and one NewToolTip (got $((meter_icons_after - meter_icons)) and $((meter_tips_after - meter_tips)))" \
    test "$((meter_icons_after - meter_icons)) $((meter_tips_after - meter_tips))" = "1 1"

# --- "Quit", then the same ids in the next run -----------------------------------------------
program_alive() { kill -0 "$program" 2> /dev/null; }
menu 2
check "the menu's \"Quit\" ends the program" wait_for 10 not program_alive
status=0
wait "$program" || status=$?
check "with exit code 0" test "$status" -eq 0
check "and its lamps leave the panel" wait_for 10 not two_items
"$work/app/TallowLAMP" > "$work/program2.log" 2>&1 &
program=$!
pids+=($program)
check "the next run's lamps register" wait_for 15 two_items
check "with the same ids" test "$(ids)" = "$first_ids"
kill -TERM "$program"
wait "$program" || true

finish
