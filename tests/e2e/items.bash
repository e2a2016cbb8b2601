# The lamps' StatusNotifierItems on a session bus of the test's own, started when this is
# sourced (after harness.bash): the watcher's list, an item's properties, its activation as a
# host sends it on a click, and its dbusmenu menu.
read -r DBUS_SESSION_BUS_ADDRESS bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS
pids+=($bus_pid)

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
# One activation is one double click; the next counts only after the double-click time.
after_double_click_time() { sleep 0.6; }
activate() { # activate <service>: as a host does on a click, at a point on the screen
    dbus-send --session --print-reply --dest="$1" /StatusNotifierItem org.kde.StatusNotifierItem.Activate \
        int32:20 int32:10 > /dev/null
}
menu_path() { item_property "$1" Menu | awk -F'"' '/object path/ { print $2 }'; }
menu_entry() { # menu_entry <service> <label>: the entry's id in the item's menu layout
    dbus-send --session --print-reply --dest="$1" "$(menu_path "$1")" com.canonical.dbusmenu.GetLayout \
        int32:0 int32:-1 array:string: 2> /dev/null |
        awk -F'"' -v want="$2" '/^ *int32 / { id = $0; sub(/.*int32 /, "", id) }
            label && /string "/ { if ($2 == want) print id; label = 0 }
            /string "label"/ { label = 1 }'
}
menu_click() { # menu_click <service> <entry id>
    dbus-send --session --print-reply --dest="$1" "$(menu_path "$1")" com.canonical.dbusmenu.Event \
        "int32:$2" string:clicked variant:int32:0 uint32:0 > /dev/null
}
