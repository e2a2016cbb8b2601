#!/bin/bash
# The Windows zip as a user unzips it: into a folder whose name has a blank, TallowLAMP.exe
# starts there under Wine, and Apply writes
# TallowLAMP.ini beside it; Esc then ends it with 0.
#   zip_apply.sh TallowLAMP-<version>-win32.zip
set -u

zip=$(realpath "$1")
source=${TALLOW_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi
export WINEPREFIX=${WINEPREFIX:-$(dirname "$(dirname "$zip")")/wineprefix}
"$source/scripts/wine-run" ${TALLOW_WINE_FLAGS:-} --prepare
status=$?
[ $status -eq 0 ] || exit $status

work=$(mktemp -d)
folder="$work/My Tools/TallowLAMP $(basename "$zip" .zip)"
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    [ -s "$work/wine.log" ] && { echo "--- its output:"; tail -20 "$work/wine.log"; }
    echo "--- the folder: $(ls -A "$folder" 2>/dev/null | tr '\n' ' ')"
    exit 1
}
source "$source/tests/support/waiting.bash"

mkdir -p "$folder"
unzip -q "$zip" -d "$folder" || fail "the zip does not unzip"
for file in TallowLAMP.exe help.html README.txt; do
    [ -f "$folder/$file" ] || fail "the zip holds no $file"
done
grep -q 'inpout32.dll' "$folder/README.txt" || fail "README.txt says nothing of inpout32.dll"

"$source/scripts/wine-run" ${TALLOW_WINE_FLAGS:-} "$folder/TallowLAMP.exe" >"$work/wine.log" 2>&1 &
pid=$!
dialog_window() { xdotool search --onlyvisible --name '^TallowLAMP V1\.05 - ' 2>/dev/null | head -1; }
dialog_up() { [ -n "$(dialog_window)" ]; }
wait_for 60 dialog_up || fail "no dialog appeared"
dialog=$(dialog_window)
[ ! -e "$folder/TallowLAMP.ini" ] || fail "TallowLAMP.ini was there before Apply"
# Apply by keys, as a user may: the focus starts on About; two tabs reach the poll interval's
# box, or Apply itself where the static text before it takes no focus, and Return in either
# presses Apply, the default button.
xdotool windowfocus --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog"
sleep 0.3
xdotool key Tab Tab Return
# The window's rectangle is the last the save writes.
saved() { grep -qs '^WindowPosBottom=' "$folder/TallowLAMP.ini"; }
wait_for 20 saved || fail "Apply wrote no whole TallowLAMP.ini beside the program"
echo "Apply wrote $(grep -c '=' "$folder/TallowLAMP.ini") keys to $folder/TallowLAMP.ini"
xdotool windowfocus "$dialog" 2>/dev/null
xdotool key Escape
running() { kill -0 "$pid" 2>/dev/null; }
wait_for 30 not running || fail "Esc did not end the program"
wait "$pid"
ended=$?
pid=
[ "$ended" -eq 0 ] || fail "the program ended with $ended, not 0"
echo "PASS"
