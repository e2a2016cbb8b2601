# What the end-to-end tests share, sourced by them with "$@" of the test:
#   <TallowLAMP executable> [folder for the screenshots]
# A work folder removed at the end with the processes in $pids; checks that count failures;
# the machine the program runs on (one disk, vda, mounted at / as C: with the label SYSTEM;
# 8 GB of memory), whose counters and memory load the test sets or keeps moving; and the
# program in a folder of its own, C: and the RAM meter enabled in the settings beside it.
program=$(realpath "$1")
shots=${2:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tallow-e2e.XXXXXX")
pids=()
failures=0

cleanup() {
    stop_moving
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [[ -n ${TALLOW_KEEP_WORK:-} ]] && say "work folder kept: $work" || rm -rf "$work"
}
trap cleanup EXIT

say() { printf '%s\n' "$*"; }
check() { # check <description> <command...>
    local what=$1
    shift
    if "$@"; then say "ok   $what"; else say "FAIL $what"; failures=$((failures + 1)); fi
}
source "$(dirname "${BASH_SOURCE[0]}")/../support/waiting.bash"
finish() { # the summary line and the exit code
    if ((failures)); then
        say "$failures check(s) failed"
        exit 1
    fi
    say "all checks passed"
}

# --- The machine -------------------------------------------------------------------------
machine=$work/machine
mkdir -p "$machine/proc/self" "$machine/sys/block/vda" "$machine/dev/disk/by-label"
echo "254:0" > "$machine/sys/block/vda/dev"
echo 976773168 > "$machine/sys/block/vda/size"
echo 0 > "$machine/sys/block/vda/removable"
ln -s ../../vda "$machine/dev/disk/by-label/SYSTEM"
echo "21 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw" > "$machine/proc/self/mountinfo"
export TALLOWLAMP_SYSROOT=$machine
reads=1000
writes=500

stat=$machine/sys/block/vda/stat
counters() { # the kernel's stat line, replaced whole so that no poll reads half of it
    printf '%8d 0 %8d 0 %8d 0 %8d 0 0 0 0 0 0 0 0\n' "$reads" $((reads * 8)) "$writes" $((writes * 8)) \
        > "$stat.$BASHPID"
    mv "$stat.$BASHPID" "$stat"
}
memory() { # memory <available kB> of 8000000 kB
    printf 'MemTotal:        8000000 kB\nMemFree:         1000000 kB\nMemAvailable:    %8d kB\nSwapTotal:       2000000 kB\nSwapFree:        2000000 kB\n' \
        "$1" > "$machine/proc/meminfo.new"
    mv "$machine/proc/meminfo.new" "$machine/proc/meminfo"
}
counters
memory 5040000 # 37 % in use

# Keeps the counters moving (reads, writes or both) from where they stand, until stopped.
moving=
move() {
    stop_moving
    (
        set +e
        read -r reads _ _ _ writes _ < "$stat"
        while :; do
            [[ $1 == *r* ]] && reads=$((reads + 3))
            [[ $1 == *w* ]] && writes=$((writes + 2))
            counters
            sleep 0.02
        done
    ) &
    moving=$!
}
stop_moving() {
    if [[ -n $moving ]]; then kill "$moving" 2>/dev/null || true; wait "$moving" 2>/dev/null || true; fi
    moving=
}

# --- The program in a folder of its own, with its settings beside it ---------------------
mkdir -p "$work/app"
cp "$program" "$work/app/TallowLAMP"
printf '%s\r\n' '[GENERALOPTIONS]' 'AlternativeIcons=No' 'Pollinterval=100' 'Startwithosdelay=1' \
    '[\\.\C:]' 'Enabled=Yes' '[RAM Usage]' 'Enabled=Yes' > "$work/app/TallowLAMP.ini"
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
