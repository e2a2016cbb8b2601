#!/bin/bash
# Runs a test command with HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR in a scratch
# folder of its own, removed afterwards, so that no test reaches the user's real settings,
# autostart entries or locks.
#   scratch_home.sh COMMAND [ARGUMENTS...]
set -u
scratch=$(mktemp -d /tmp/tallow-test-XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/home" "$scratch/home/.config" "$scratch/runtime" "$scratch/tmp"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/runtime
export TMPDIR=$scratch/tmp TALLOW_TEST_SCRATCH=$scratch
"$@"
