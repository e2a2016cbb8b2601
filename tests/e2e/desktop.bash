# A desktop session for the end-to-end tests, sourced after harness.bash with the plug-in that
# holds the lamps: systray (XEmbed and StatusNotifierItem) or indicator (Ayatana indicators,
# which show an item's menu and nothing else).
#   source desktop.bash <panel plug-in>
# Xvfb, a session bus and settings folders of its own; xfce4-panel along the top, started by
# start_panel; helpers that find the dialog and the lamps on screen (the items on the bus in
# items.bash).

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
source "$(dirname "${BASH_SOURCE[0]}")/items.bash"

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
menu() { # menu <entries down> [mouse button that opens it, 3]: the entry chosen by keyboard
    click "${2:-3}"
    sleep 1
    xdotool mousemove 600 400 # off the menu, so the keys alone choose
    local keys=()
    for ((i = 0; i < $1; i++)); do keys+=(Down); done
    xdotool key "${keys[@]}" Return
}
