# A desktop session for the end-to-end tests, sourced after harness.bash with the plug-in that
# holds the lamps: systray (XEmbed and StatusNotifierItem) or indicator (Ayatana indicators,
# which show an item's menu and nothing else).
#   source desktop.bash <panel plug-in>
# Xvfb, a session bus and settings folders of its own; xfce4-panel along the top, started by
# start_panel; helpers that find the dialog, the items on the bus and the lamps on screen.

export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
panel_config=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
mkdir -p "$panel_config"
# One panel along the top holding the one plug-in, 32-pixel icons.
cat > "$panel_config/xfce4-panel.xml" << EOF
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
    <property name="plugin-1" type="string" value="$1">
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
menu() { # menu <entries down> [mouse button that opens it, 3]: the entry chosen by keyboard
    click "${2:-3}"
    sleep 1
    xdotool mousemove 600 400 # off the menu, so the keys alone choose
    local keys=()
    for ((i = 0; i < $1; i++)); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
}
