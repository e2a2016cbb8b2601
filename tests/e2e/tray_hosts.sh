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

# --- A desktop session of its own: display, bus, settings folders -------------------------
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
panel_config=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
mkdir -p "$panel_config"
# One panel along the top holding the notification area (systray: XEmbed and
# StatusNotifierItem), 32-pixel icons.
cat > "$panel_config/xfce4-panel.xml" << 'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="40"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="icon-size" type="int" value="32"/>
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
EOF

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 640x480x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 -u "$displayfd" number || { say "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=:$number
read -r DBUS_SESSION_BUS_ADDRESS bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS
pids+=($bus_pid)
# Every item signal and every notification on the bus, for counting.
dbus-monitor --session "type='signal',interface='org.kde.StatusNotifierItem'" \
    "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" > "$work/bus.log" 2>&1 &
pids+=($!)

dunst > "$work/dunst.log" 2>&1 &
pids+=($!)

# --- Helpers -----------------------------------------------------------------------------
dialog() { xdotool search --name '^TallowLAMP V1\.05' 2>/dev/null | head -1; }
dialog_shown() { xdotool search --onlyvisible --name '^TallowLAMP V1\.05' > /dev/null 2>&1; }
# On screen, or minimised on the task bar (a window manager keeps an iconic one unmapped).
dialog_reachable() {
    local id
    id=$(dialog)
    [[ -n $id ]] || return 1
    dialog_shown || xprop -id "$id" WM_STATE 2> /dev/null | grep -q 'window state: Iconic'
}
notices() { grep -c 'member=Notify' "$work/bus.log" || true; }
notice_says_no_area() { grep -A8 'member=Notify' "$work/bus.log" | grep -q 'No notification area was found'; }
watcher_property() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher "string:$1" 2> /dev/null
}
items() { watcher_property RegisteredStatusNotifierItems | awk -F'"' '/string/ { sub(/\/.*/, "", $2); print $2 }'; }
two_items() { [[ $(items | wc -l) -eq 2 ]]; }
host_up() { watcher_property IsStatusNotifierHostRegistered | grep -q 'boolean true'; }
item_property() { # item_property <service> <name>
    dbus-send --session --print-reply --dest="$1" /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierItem "string:$2" 2> /dev/null
}
item_with_tip() { # the item whose tooltip title begins with the text
    local service
    for service in $(items); do
        if item_property "$service" ToolTip | grep -aq "string \"$1"; then echo "$service"; return; fi
    done
}
owner_of() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner "string:$1" |
        awk -F'"' '/string/ { print $2 }'
}
signals() { # signals <unique name> <member>: how many the item sent so far
    grep -c "sender=$1 .*member=$2\$" "$work/bus.log" || true
}
start_panel() {
    xfce4-panel > "$work/panel.log" 2>&1 &
    panel=$!
    pids+=($panel)
}
# The lamp's middle in the panel: the columns of row 20 in its idle colour.
lamp_x() { # lamp_x <r,g,b>
    import -window root "$work/now.png"
    convert "$work/now.png" -crop 640x1+0+20 +repage txt:- |
        awk -F'[,:() ]+' -v want="$1" '$3 "," $4 "," $5 == want { if (first == "") first = $1; last = $1 }
            END { if (first != "") print int((first + last) / 2) }'
}
click() { xdotool mousemove "$lamp" 20 click --repeat "${2:-1}" --delay 80 "$1"; }
after_double_click_time() { sleep 0.6; }
menu() { # menu <entries down>: right click, then the entry by keyboard
    click 3
    sleep 1
    local keys=()
    for ((i = 0; i < $1; i++)); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
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
