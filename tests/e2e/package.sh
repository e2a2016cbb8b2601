#!/usr/bin/env bash
# The Debian package as scripts/package makes it: lintian finds no error, its dependencies
# are runtime libraries only, its menu entry and AppStream data validate; unpacked where its
# user cannot write (run as "nobody" when the suite runs as root), the program keeps its
# settings in $XDG_CONFIG_HOME/tallowlamp, and where nothing is writable Apply says so in a
# box captioned "TallowLAMP".
#   tests/e2e/package.sh <TallowLAMP executable> [folder for the screenshot]
# Builds the linux preset (scripts/test has built it already). Needs lintian, appstream,
# desktop-file-utils, dpkg-dev, xdotool, ImageMagick and setpriv (scripts/install-deps).
set -euo pipefail

for tool in lintian appstreamcli desktop-file-validate dpkg-shlibdeps xdotool import setpriv; do
    command -v "$tool" > /dev/null || { echo "FAIL $tool is missing: run scripts/install-deps"; exit 1; }
done
source "$(dirname "$0")/harness.bash" "$@"
source_tree=$(realpath "$(dirname "$0")/../..")
unset TALLOWLAMP_SYSROOT

"$source_tree/scripts/package" --deb --out "$work/packages" > "$work/package.log" 2>&1 ||
    { tail -30 "$work/package.log"; say "FAIL scripts/package failed"; exit 1; }
deb=$(ls "$work"/packages/tallowlamp_*.deb)
say "built $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"

lintian --fail-on error "$deb" > "$work/lintian.log" 2>&1 && lint=0 || lint=$?
sed 's/^/  lintian: /' "$work/lintian.log"
check "lintian reports no error" test "$lint" -eq 0
depends=$(dpkg-deb -f "$deb" Depends)
say "Depends: $depends"
check "it depends on no -dev package and no compiler" \
    not grep -qE -- '-dev\b|(^|[ ,])(g\+\+|gcc|clang|cmake)' <<<"$depends"
check "it depends on Qt's platform plugins, which Qt loads at run time" grep -q qt6-qpa-plugins <<<"$depends"

# Where another user can reach it: the scratch folders above $work are the suite's alone.
public=$(mktemp -d /tmp/tallow-package.XXXXXX)
trap 'cleanup; rm -rf "$public"' EXIT
chmod 755 "$public"
root=$public/root
dpkg-deb -x "$deb" "$root"
check "its menu entry validates" desktop-file-validate "$root"/usr/share/applications/*.desktop
check "its AppStream data validates" appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml
check "/usr/bin/tallowlamp reaches the program" test -x "$root/usr/bin/tallowlamp"

# --- Installed where its user cannot write ------------------------------------------------
# As root, the program runs as "nobody", who can write neither the unpacked tree nor the
# folders made here, but a config folder of its own; as anyone else, the program's folder
# loses its write permission.
lib=$root/usr/lib/tallowlamp
as_user=()
user=$public/user
mkdir -p "$user/config" "$user/runtime" "$user/locked"
chmod 755 "$user"
chmod 700 "$user/runtime"
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$user/config" "$user/runtime"
    chmod 755 "$user/locked"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    cp "${XAUTHORITY:-$HOME/.Xauthority}" "$user/xauth" 2>/dev/null && chmod 644 "$user/xauth" &&
        export XAUTHORITY=$user/xauth
else
    chmod a-w "$lib"
    chmod 555 "$user/locked"
fi
chmod -R a+rX "$root"

start() { # start <XDG_CONFIG_HOME>
    env HOME="$user" XDG_CONFIG_HOME="$1" XDG_RUNTIME_DIR="$user/runtime" \
        "${as_user[@]}" "$root/usr/bin/tallowlamp" > "$work/run.log" 2>&1 &
    pids+=($!)
    wait_for 30 dialog_up || return 0 # the checks below say what is missing
    dialog=$(xdotool search --onlyvisible --name '^TallowLAMP V1\.05' | head -1)
}
apply() { # a click on Apply, at its place in dialog units (6 x 13 pixels each 4 x 8)
    local X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove $((X + 317 * 6 / 4)) $((Y + 187 * 13 / 8)) click 1
}
dialog_up() { xdotool search --onlyvisible --name '^TallowLAMP V1\.05' > /dev/null 2>&1; }
box_up() { xdotool search --onlyvisible --name '^TallowLAMP$' > /dev/null 2>&1; }
ended() { ! kill -0 "${pids[-1]}" 2>/dev/null; }
store=$user/config/tallowlamp/TallowLAMP.ini

start "$user/config"
apply
check "Apply kept the settings in the user's own copy" wait_for 10 test -s "$store"
check "and wrote nothing beside the program" test ! -e "$lib/TallowLAMP.ini"
check "no box said anything" not box_up
xdotool windowfocus "$dialog"; xdotool key Escape
check "Esc ended the installed program" wait_for 20 ended

start "$user/locked"
apply
check "Apply with nowhere to write shows a box captioned \"TallowLAMP\"" wait_for 10 box_up
if [ -n "$shots" ] && box_up; then
    mkdir -p "$shots"
    import -window root "$shots/apply-cannot-save.png" && say "screenshot: $shots/apply-cannot-save.png"
fi
xdotool key Return
check "the box goes with its button" wait_for 10 not box_up
xdotool windowfocus "$dialog"; xdotool key Escape
check "Esc ended it again" wait_for 20 ended
[ "$failures" -eq 0 ] || { say "--- its output:"; tail -20 "$work/run.log"; }
finish
