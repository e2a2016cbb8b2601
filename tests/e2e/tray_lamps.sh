#!/usr/bin/env bash
# The lamps end to end on Linux: the program on a machine in a folder, while the machine's
# disk counters move, in three trays: XEmbed (trayer under Xvfb), StatusNotifierItem (a
# stand-in watcher, TALLOW_SNI_WATCHER, driven with dbus-send) and the console tray.
#   tests/e2e/tray_lamps.sh <TallowLAMP executable> [folder for the screenshots]
# Shows green on read, red on write, yellow on both and the idle lamp after; the RAM meter
# with its number; a double click (or a panel's activation) showing and hiding the dialog;
# the lamps back after the tray restarts; "Quit" from a lamp's menu ending the program; the
# lamps docking in a tray that starts after the program.
# Needs Xvfb, trayer, xdotool, xwininfo, ImageMagick, dbus-daemon, dbus-send and script.
set -euo pipefail

for tool in Xvfb trayer xdotool xwininfo import convert dbus-daemon script; do
    command -v "$tool" > /dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

source "$(dirname "$0")/harness.bash" "$@"

# --- Helpers for the X display -----------------------------------------------------------
# The icon windows docked in the tray: "x y width height" each, in tray order.
tray_icons() {
    xwininfo -root -tree 2>/dev/null | awk '/"TallowLAMP": \("TallowLAMP"/ {
        split($(NF-1), size, /[x+]/); split($NF, at, /\+/); print at[2], at[3], size[1], size[2] }'
}
two_icons() { [[ $(tray_icons | wc -l) -eq 2 ]]; }
# The commonest colour of an icon's square (the lamp's fill, or a meter's larger part), as
# "r,g,b", from a fresh screenshot.
lamp_colour() { # lamp_colour <x> <y> <w> <h>
    local size=$(($3 < $4 ? $3 : $4))
    import -window root "$work/now.png"
    convert "$work/now.png" -crop "${size}x${size}+$1+$(($2 + ($4 - size) / 2))" +repage -depth 8 \
        -format %c histogram:info:- | sort -rn | head -1 | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+)\).*/\1,\2,\3/;s/ //g'
}
lamp_is() { # lamp_is <r,g,b> <x> <y> <w> <h>
    local want=$1
    shift
    [[ $(lamp_colour "$@") == "$want" ]]
}
# How much of an icon's square has the colour, in per cent, from a fresh screenshot.
share_of() { # share_of <r,g,b> <x> <y> <w> <h>
    local size=$(($4 < $5 ? $4 : $5))
    import -window root "$work/now.png"
    convert "$work/now.png" -crop "${size}x${size}+$2+$(($3 + ($5 - size) / 2))" +repage -depth 8 \
        -format %c histogram:info:- |
        awk -v hex="$(printf '#%02X%02X%02X' ${1//,/ })" -v total=$((size * size)) \
            'index($0, hex) { n += $1 } END { print int(100 * n / total) }'
}
lamp_becomes() { wait_for 5 lamp_is "$@" || { say "     (the lamp shows $(lamp_colour "${@:2}"))"; return 1; }; }
no_icons() { [[ -z $(tray_icons) ]]; }
shot() { # shot <name>: the tray, four times as large, into the screenshot folder
    [[ -n $shots ]] || return 0
    mkdir -p "$shots"
    import -window root "$work/$1-screen.png"
    convert "$work/$1-screen.png" -crop "${tray_width}x${tray_height}+0+0" +repage -filter point \
        -resize 400% "$shots/$1.png"
}

# --- In a real tray ----------------------------------------------------------------------
exec {displayfd}<> <(:)
# Room for the dialog at its default place, below the tray: on a smaller screen it would be
# brought onto it, over the lamps.
Xvfb -displayfd "$displayfd" -screen 0 640x480x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 -u "$displayfd" number || { say "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=:$number
start_tray() {
    trayer --edge top --align left --widthtype request --height 40 --expand false --SetDockType false \
        --SetPartialStrut false --transparent false --tint 0x303030 > "$work/trayer.log" 2>&1 &
    tray=$!
    pids+=($tray)
}
start_tray
# A session bus of its own (no StatusNotifierItem host on it: the lamps dock by XEmbed).
read -r DBUS_SESSION_BUS_ADDRESS bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS
pids+=($bus_pid)
"$work/app/TallowLAMP" -startup > "$work/program.log" 2>&1 &
program=$!
check "two lamps docked in the tray" wait_for 15 two_icons
if ! two_icons; then # what there was instead, for a failure seen once on a fresh root
    say "     lamps found: $(tray_icons | wc -l); program $(kill -0 $program 2>/dev/null && echo running || echo gone)"
    say "     tray: $(xwininfo -root -tree 2>/dev/null | grep -c -i trayer) trayer windows"
    sed 's/^/     program: /' "$work/program.log" | tail -n 20
fi
# The drive's idle lamp is dark blue; the meter shows its purple background above the bar,
# however much of it the digits cover (their font is whatever fontconfig has for "Tahoma").
# A tray that has just docked them may not have painted them yet.
find_lamps() {
    lamp=() meter=()
    while read -r x y w h; do
        if [[ $(lamp_colour "$x" "$y" "$w" "$h") == 0,64,128 ]]; then
            lamp=("$x" "$y" "$w" "$h")
        elif (($(share_of 64,0,64 "$x" "$y" "$w" "$h") >= 15)); then
            meter=("$x" "$y" "$w" "$h")
        fi
    done < <(tray_icons)
    [[ -n ${lamp[*]:-} && -n ${meter[*]:-} ]]
}
wait_for 5 find_lamps || true
check "the drive's lamp is idle (dark blue)" test -n "${lamp[*]:-}"
check "the RAM meter shows its background" test -n "${meter[*]:-}"
[[ -n ${lamp[*]:-} && -n ${meter[*]:-} ]] || exit 1
read -r tray_width tray_height < <(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ { split($(NF-1), s, /[x+]/); print s[1], s[2] }')
shot tray-idle

move r
check "reading lights the lamp green" lamp_becomes 0,255,0 "${lamp[@]}"
shot tray-read
move w
check "writing lights it red" lamp_becomes 255,0,0 "${lamp[@]}"
shot tray-write
move rw
check "reading and writing light it yellow" lamp_becomes 255,255,0 "${lamp[@]}"
shot tray-readwrite
stop_moving
check "idle again: dark blue" lamp_becomes 0,64,128 "${lamp[@]}"

bar=$(share_of 64,64,255 "${meter[@]}")
memory 3040000 # 62 % in use: the blue bar grows by a quarter of the height, less the digits
bar_grown() { (($(share_of 64,64,255 "${meter[@]}") >= bar + 5)); }
check "the meter follows the memory load" wait_for 5 bar_grown
shot tray-meter

# A double click on a lamp shows the hidden dialog; a second one hides it again.
dialog_shown() { xdotool search --onlyvisible --name '^TallowLAMP V1\.05' > /dev/null 2>&1; }
check "the dialog starts hidden (start-up switch)" not dialog_shown
xdotool mousemove $((lamp[0] + lamp[2] / 2)) $((lamp[1] + lamp[3] / 2)) click --repeat 2 --delay 80 1
check "a double click on the lamp shows the dialog" wait_for 5 dialog_shown
xdotool mousemove $((lamp[0] + lamp[2] / 2)) $((lamp[1] + lamp[3] / 2)) click --repeat 2 --delay 80 1
check "another double click hides it" wait_for 5 not dialog_shown

# The tray restarts: the lamps come back by themselves.
kill "$tray"
wait "$tray" 2>/dev/null || true
check "the lamps leave with the tray" wait_for 5 no_icons
start_tray
check "and are back when it returns" wait_for 15 two_icons

# The menu: "Show/Hide window" acts as the double click; "Quit" ends the program, and no lamp
# stays behind.
read -r x y w h < <(tray_icons | head -1)
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 3
sleep 0.5
[[ -z $shots ]] || import -window root "$shots/xembed-menu.png"
xdotool key Down Return
check "\"Show/Hide window\" in a lamp's menu shows the dialog" wait_for 5 dialog_shown
xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 3
sleep 0.5
xdotool key Down Down Return
program_alive() { kill -0 "$program" 2>/dev/null; }
check "\"Quit\" in a lamp's menu ends the program" wait_for 10 not program_alive
program_alive && kill "$program"
status=0
wait "$program" || status=$?
check "with exit code 0" test "$status" -eq 0
check "no lamp stays in the tray" no_icons

if [[ -n $shots ]]; then
    # Idle, read, write, both: side by side.
    convert "$shots/tray-idle.png" "$shots/tray-read.png" "$shots/tray-write.png" "$shots/tray-readwrite.png" \
        -bordercolor white -border 6x0 +append +repage "$shots/tray-lamps.png"
fi
kill "$tray" 2>/dev/null || true
wait "$tray" 2>/dev/null || true

# A tray that starts after the program, as a panel may at log-on: the program looked for one,
# found none, and must notice it by itself.
"$work/app/TallowLAMP" > "$work/late.log" 2>&1 &
late=$!
pids+=($late)
wait_for 15 dialog_shown || say "     (the dialog did not show)"
sleep 0.5
check "no tray yet, no lamp docked" no_icons
start_tray
check "the lamps dock in a tray that starts after the program" wait_for 10 two_icons
kill "$late" "$tray" 2>/dev/null || true
wait "$late" "$tray" 2>/dev/null || true

# --- With a StatusNotifierItem host: the lamps as D-Bus items ---------------------------
# The stand-in watcher (tests/e2e/sni_watcher.cpp) says a host is registered, so Qt chooses
# StatusNotifierItem; the test reads and drives the items as a panel would, with dbus-send.
watcher_tool=${TALLOW_SNI_WATCHER:-}
if [[ -x $watcher_tool ]] && command -v dbus-send > /dev/null; then
    start_watcher() {
        "$watcher_tool" > "$work/watcher.log" 2>&1 &
        watcher=$!
        pids+=($watcher)
        wait_for 5 grep -q watching "$work/watcher.log"
    }
    registered_twice() { (($(grep -c '^registered' "$work/watcher.log" 2> /dev/null) >= 2)); }
    item_property() { # item_property <service> <name>
        dbus-send --session --print-reply --dest="$1" /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
            string:org.kde.StatusNotifierItem "string:$2" 2> /dev/null
    }
    # The item whose tooltip begins with the text: its service.
    item_with_tip() {
        local service
        for service in $(awk '/^registered/ { print $2 }' "$work/watcher.log"); do
            if item_property "$service" ToolTip | grep -aq "string \"$1"; then echo "$service"; return; fi
        done
    }
    # How many pixels of the item's picture have the colour (ARGB bytes, "ff 00 ff 00").
    pixels_of() { item_property "$1" IconPixmap | tr -s ' \n' ' ' | grep -o "$2" | wc -l; }
    lit() { (($(pixels_of "$1" "$2") > 100)); }

    start_watcher
    "$work/app/TallowLAMP" -startup > "$work/program-sni.log" 2>&1 &
    program=$!
    check "both lamps register as StatusNotifierItems" wait_for 15 registered_twice
    wait_for 5 test -n "$(item_with_tip 'Drive: ')" || true
    item=$(item_with_tip 'Drive: ')
    drive_tooltip() {
        local tip
        tip=$(item_property "$item" ToolTip)
        grep -q 'Drive: \\\\.\\C:' <<< "$tip" && grep -q 'Volume: SYSTEM' <<< "$tip" &&
            grep -q 'Filesystem: ext4' <<< "$tip" && grep -q 'Free capacity: ' <<< "$tip"
    }
    check "the drive's item has its four-line tooltip" drive_tooltip
    doubled() { # the first size's width, then twice it
        local widths
        widths=$(item_property "$item" IconPixmap | grep -A1 'struct {' | awk '$1 == "int32" { print $2 }')
        [[ $(wc -l <<< "$widths") -eq 2 && $(tail -1 <<< "$widths") -eq $((2 * $(head -1 <<< "$widths"))) ]]
    }
    check "its picture comes at twice its size too, for high-DPI panels" doubled
    move r
    check "reading: the item's picture turns green" wait_for 5 lit "$item" "ff 00 ff 00"
    move w
    check "writing: red" wait_for 5 lit "$item" "ff ff 00 00"
    stop_moving
    check "idle: dark blue" wait_for 5 lit "$item" "ff 00 40 80"
    # A panel activates an item with a single click: that is the double click here, once per
    # double-click time (a panel reports a double click as two activations).
    dbus-send --session --type=method_call --dest="$item" /StatusNotifierItem org.kde.StatusNotifierItem.Activate int32:0 int32:0
    check "an activation shows the dialog" wait_for 5 dialog_shown
    sleep 0.6
    dbus-send --session --type=method_call --dest="$item" /StatusNotifierItem org.kde.StatusNotifierItem.Activate int32:0 int32:0
    check "a second one hides it" wait_for 5 not dialog_shown
    # A host without menus of its own asks the item to show its menu.
    # (The dialog is hidden now: a window of the program on screen is that menu.)
    popup_shown() { xdotool search --onlyvisible --class TallowLAMP > /dev/null 2>&1; }
    dbus-send --session --type=method_call --dest="$item" /StatusNotifierItem org.kde.StatusNotifierItem.ContextMenu int32:20 int32:20
    wait_for 5 popup_shown || true
    sleep 0.3
    xdotool key Down Return
    check "the menu an item shows itself has \"Show/Hide window\"" wait_for 5 dialog_shown
    # The watcher restarts: the items register with the new one by themselves.
    kill "$watcher"
    wait "$watcher" 2> /dev/null || true
    start_watcher
    check "the lamps register again with a restarted watcher" wait_for 15 registered_twice
    # "Quit" in the item's menu (com.canonical.dbusmenu): the program ends.
    item=$(awk '/^registered/ { last = $2 } END { print last }' "$work/watcher.log")
    menu=$(item_property "$item" Menu | awk '/object path/ { gsub(/"/, "", $NF); print $NF }' || true)
    quit=$(dbus-send --session --print-reply --dest="$item" "$menu" com.canonical.dbusmenu.GetLayout \
        int32:0 int32:-1 array:string: 2> /dev/null | tr -s ' \n' ' ' |
        grep -o 'int32 [0-9]* array \[[^]]*"label" variant string "Quit"' | awk '{ print $2 }' || true)
    dbus-send --session --type=method_call --dest="$item" "$menu" com.canonical.dbusmenu.Event int32:"${quit:-0}" string:clicked \
        variant:int32:0 uint32:0
    check "\"Quit\" in an item's menu ends the program" wait_for 10 not program_alive
    program_alive && kill "$program"
    status=0
    wait "$program" || status=$?
    check "with exit code 0" test "$status" -eq 0
    kill "$watcher" 2> /dev/null || true
else
    say "skip the StatusNotifierItem checks: TALLOW_SNI_WATCHER names no program"
fi

# --- On the console: no graphical tray, standard output a terminal -------------------------
# The program's terminal is script's; the lamps are read back from what was drawn there.
memory 5040000
(
    export QT_QPA_PLATFORM=offscreen
    unset DISPLAY
    exec script -qfec "echo \$\$ > '$work/console.pid'; exec '$work/app/TallowLAMP' -startup" "$work/console.log" \
        > /dev/null 2>&1 < /dev/null
) &
console=$!
console_lamp() { # the colours of C:'s lamp as the terminal shows it last, "fg/bg"
    tr '\r' '\n' 2>/dev/null < "$work/console.log" | grep -a 'Drive: ' | tail -1 |
        grep -ao $'\e\\[38;2;[0-9;]*m\e\\[48;2;[0-9;]*m\xe2\x96\x80\xe2\x96\x80\e\\[0m Drive: ' |
        sed -E 's/.*38;2;([0-9;]+)m.*48;2;([0-9;]+)m.*/\1\/\2/'
}
console_is() { [[ $(console_lamp) == "$1" ]]; }
console_has() { tr '\r' '\n' 2>/dev/null < "$work/console.log" | tail -1 | grep -aq "$1"; }
check "the console shows the idle lamp" wait_for 15 console_is "0;64;128/0;64;128"
check "and the meter with its load" console_has "RAM: Usage: 37%"
move r
check "reading: green on the console" wait_for 5 console_is "0;255;0/0;255;0"
move w
check "writing: red" wait_for 5 console_is "255;0;0/255;0;0"
move rw
check "both: yellow" wait_for 5 console_is "255;255;0/255;255;0"
stop_moving
check "idle again" wait_for 5 console_is "0;64;128/0;64;128"
memory 3040000
check "the meter's new load" wait_for 5 console_has "RAM: Usage: 62%"
kill -TERM "$(cat "$work/console.pid")"
wait "$console" || true
console_ended() { # the program ended with 0 and left the terminal's line empty
    grep -aq 'COMMAND_EXIT_CODE="0"' "$work/console.log" &&
        [[ $(grep -aoE $'\r\e\\[(K|38)' "$work/console.log" | tail -1) == $'\r\e[K' ]]
}
check "SIGTERM ends it with 0 and the console line is cleared" console_ended

finish
