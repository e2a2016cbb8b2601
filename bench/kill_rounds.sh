#!/bin/bash
# Kill during Apply, a thousand times: the settings writer of the crash test
# (tests/layer/profile_crash_test.cpp) is SIGKILLed at all kinds of moments of a save, and
# after each round the file must read back whole, with the old values or the new ones. Not part
# of the CI run (the suite runs twelve rounds); needs the linux-test build.
#   bench/kill_rounds.sh [ROUNDS]      (default 1000)
set -u
source=$(cd "$(dirname "$0")/.." && pwd)
export TALLOW_CRASH_ROUNDS=${1:-1000}
[ -f "$source/tests/lsan.supp" ] && export LSAN_OPTIONS=suppressions=$source/tests/lsan.supp
exec "$source/build/linux-test/tests/layer_tests" --gtest_filter=ProfileCrash.AKilledWriterLeavesAWholeFile
