#!/bin/bash
# Runs the accelerated day of polling (soak_bench) with a real tray host attached: Xvfb,
# trayer (XEmbed) and a session bus of its own. Not part of the CI run: it takes minutes.
#   bench/soak.sh [BUILD_DIR]      (default build/linux-bench; TALLOW_SOAK_PASSES to shorten)
set -u
source=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source/build/linux-bench}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 800x100x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 -u "$displayfd" number || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$number
trayer --edge top --align left --widthtype request --height 40 --expand false --SetDockType false \
    --SetPartialStrut false --transparent false >"$work/trayer.log" 2>&1 &
pids+=($!)
read -r DBUS_SESSION_BUS_ADDRESS bus_pid < <(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
export DBUS_SESSION_BUS_ADDRESS
pids+=($bus_pid)
sleep 1
docked_before=$(xwininfo -root -tree | grep -c 'TallowLAMP\|qt-tray\|Qt Selection' || true)
bash "$source/tests/isolation/scratch_home.sh" "${TALLOW_SOAK_BINARY:-$build/bench/soak_bench}" --benchmark_counters_tabular=true
status=$?
echo "X windows docked before: $docked_before, after: $(xwininfo -root -tree | grep -c 'TallowLAMP\|qt-tray\|Qt Selection' || true)"
exit $status
