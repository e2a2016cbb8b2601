#!/usr/bin/env bash
# The lamps in a Wayland session: sway's headless backend (one virtual 800x600 output, no
# input devices, no XWayland) with waybar's tray along the top, a session bus of its own, and
# the program on Qt's Wayland plugin. sway refuses to run as root: as root the test runs
# again as "nobody", from a copy in a public folder of its own under /tmp.
#   tests/e2e/wayland_session.sh <TallowLAMP executable> [folder for the screenshot]
# Both lamps register with waybar's watcher and show in its tray; Activate, as waybar sends
# it on a click, toggles the dialog (which starts shown) as a double click does;
# the menu's "Show/Hide window" toggles it and "Quit" ends the program with exit code 0.
# The screenshot: the lamps in waybar with the dialog shown.
set -euo pipefail

for tool in sway swaymsg waybar grim jq convert dbus-daemon dbus-send; do
    command -v "$tool" > /dev/null || { echo "skipped: $tool is missing (scripts/install-deps installs it)"; exit 77; }
done

here=$(dirname "$(realpath "$0")")
if [[ $(id -u) -eq 0 ]]; then
    differs() { echo "SKIPPED, this machine differs: $*; sway cannot run as root" >&2; exit 77; }
    command -v setpriv > /dev/null || differs "no setpriv to run the session as \"nobody\""
    getent passwd 65534 > /dev/null || differs "no user 65534 (\"nobody\") to run the session as"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    public=$(mktemp -d /tmp/tallow-wayland.XXXXXX)
    trap 'rm -rf "$public"' EXIT
    chmod 755 "$public"
    mkdir -m 700 "$public/home"
    chown 65534:65534 "$public/home"
    # The checkout may lie where that user cannot look (a root's home): the script, what it
    # sources, the program and the leak suppressions are copied where it can.
    mkdir -m 755 "$public/tree" "$public/tree/e2e" "$public/tree/support"
    cp "$0" "$here/harness.bash" "$here/items.bash" "$public/tree/e2e/"
    cp "$here/../support/waiting.bash" "$public/tree/support/"
    install -m 755 "$1" "$public/tree/TallowLAMP"
    suppressions=$(grep -o 'suppressions=[^:]*' <<< "${LSAN_OPTIONS:-}" | cut -d= -f2) || true
    if [[ -n $suppressions ]]; then
        cp "$suppressions" "$public/tree/lsan.supp"
        export LSAN_OPTIONS=${LSAN_OPTIONS//$suppressions/$public/tree/lsan.supp}
    fi
    chmod -R a+rX "$public/tree"
    status=0
    HOME=$public/home XDG_CONFIG_HOME=$public/home/.config TMPDIR=$public/home \
        "${as_user[@]}" bash "$public/tree/e2e/$(basename "$0")" "$public/tree/TallowLAMP" "${2:+$public/home/shots}" ||
        status=$?
    if [[ -n ${2:-} && -d $public/home/shots ]]; then
        mkdir -p "$2" && cp "$public"/home/shots/* "$2"/ && echo "screenshot copied to $2"
    fi
    exit "$status"
fi

source "$here/harness.bash" "$@"
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
source "$here/items.bash"

tell() { # what the session said, when something failed
    local log
    for log in sway waybar program; do
        [[ -s $work/$log.log ]] && { say "--- $log.log:"; tail -25 "$work/$log.log"; }
    done
    [[ -s $work/bar.txt ]] && { say "--- the bar's colours last seen on its row 16, pixels:"; awk 'NR > 1 { print $2 }' "$work/bar.txt" | sort | uniq -c; }
    return 0
}
trap 'status=$?; ((failures == 0 && status == 0)) || tell; cleanup' EXIT

# --- sway and waybar ---------------------------------------------------------------------
cat > "$work/sway.conf" << 'EOF'
xwayland disable
output HEADLESS-1 mode 800x600 bg #3a6ea5 solid_color
EOF
WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=1 WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$work/sway.conf" > "$work/sway.log" 2>&1 &
pids+=($!)
sway_up() { # finds its sockets, and it answers on the one for swaymsg
    local socket
    for socket in "$XDG_RUNTIME_DIR"/sway-ipc.*.sock "$XDG_RUNTIME_DIR"/wayland-*; do
        [[ -S $socket ]] || continue
        [[ $socket == *.sock ]] && export SWAYSOCK=$socket || export WAYLAND_DISPLAY=${socket##*/}
    done
    [[ -n ${SWAYSOCK:-} && -n ${WAYLAND_DISPLAY:-} ]] && swaymsg -t get_version > /dev/null 2>&1
}
check "sway runs headless" wait_for 20 sway_up
((failures == 0)) || exit 1

cat > "$work/waybar.json" << 'EOF'
{ "layer": "top", "position": "top", "height": 32, "modules-right": ["tray"],
  "tray": { "icon-size": 24, "spacing": 6 } }
EOF
echo 'window#waybar { background: #202020; }' > "$work/waybar.css"
# No accessibility bridge: it would start an at-spi bus that outlives the test.
NO_AT_BRIDGE=1 waybar -c "$work/waybar.json" -s "$work/waybar.css" > "$work/waybar.log" 2>&1 &
pids+=($!)
check "waybar's tray is the StatusNotifierItem host" wait_for 20 host_up

# --- The program on Qt's Wayland plugin ----------------------------------------------------
QT_QPA_PLATFORM=wayland "$work/app/TallowLAMP" > "$work/program.log" 2>&1 &
program=$!
pids+=($program)
# The dialog as sway has it: a window of the tree with the dialog's title.
dialog_node() {
    swaymsg -t get_tree -r | jq -c 'first(.. | objects | select(.pid? != null and
        ((.name // "") | startswith("TallowLAMP V1.05")))) | {shell, visible}'
}
dialog_shown() { [[ $(dialog_node) == *'"visible":true'* ]]; }
check "both lamps register with waybar's watcher" wait_for 15 two_items
check "the dialog starts shown" wait_for 15 dialog_shown
check "as a Wayland window, not through XWayland ($(dialog_node))" grep -q '"shell":"xdg_shell"' <<< "$(dialog_node)"

# The lamps in the bar: the drive's idle dark blue and the meter's purple on its row 16.
bar_has() { grim -g '0,0 800x32' - | convert png:- -crop 800x1+0+16 txt:- > "$work/bar.txt" && grep -q "($1)" "$work/bar.txt"; }
check "the drive's lamp shows in waybar (dark blue)" wait_for 10 bar_has 0,64,128
check "and the RAM meter beside it (purple)" wait_for 10 bar_has 64,0,64

drive=$(item_with_tip 'Drive: ')
check "the drive's lamp is an item with the drive's tooltip" test -n "$drive"
[[ -n $drive ]] || exit 1
# A plain start shows the dialog without counting it as shown, so the first double click
# only brings it to the front; the second hides it.
activate "$drive"
after_double_click_time
check "the first Activate (waybar's click) leaves the started dialog shown" dialog_shown
activate "$drive"
check "the second hides it" wait_for 5 not dialog_shown
after_double_click_time
activate "$drive"
check "the third shows it" wait_for 5 dialog_shown
after_double_click_time
activate "$drive"
check "and the fourth hides it again" wait_for 5 not dialog_shown
after_double_click_time
check "for good" not dialog_shown

show_hide=$(menu_entry "$drive" 'Show/Hide window')
quit=$(menu_entry "$drive" Quit)
check "the menu has \"Show/Hide window\" ($show_hide) and \"Quit\" ($quit)" test -n "$show_hide" -a -n "$quit"
after_double_click_time
menu_click "$drive" "$show_hide"
check "the menu's \"Show/Hide window\" shows the dialog" wait_for 5 dialog_shown
if [[ -n $shots ]] && dialog_shown; then
    mkdir -p "$shots"
    grim "$shots/wayland-sway-waybar.png" && say "screenshot: $shots/wayland-sway-waybar.png"
fi
after_double_click_time
menu_click "$drive" "$show_hide"
check "and hides it" wait_for 5 not dialog_shown

program_alive() { kill -0 "$program" 2> /dev/null; }
menu_click "$drive" "$quit"
check "the menu's \"Quit\" ends the program" wait_for 10 not program_alive
status=0
program_alive || wait "$program" || status=$?
check "with exit code 0 (got $status)" test "$status" -eq 0
check "and its lamps leave the tray" wait_for 10 test -z "$(items)"
finish
