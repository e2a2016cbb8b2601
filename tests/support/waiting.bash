# Waiting for a condition in the script tests, sourced by them.
wait_for() { # wait_for <seconds> <command...>: until the command succeeds, or the time is up
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}
not() { ! "$@"; }
