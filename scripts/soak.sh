#!/usr/bin/env bash
# A long soak of the controller, the player link and the action thread
# against the simulator with random operator actions, scripts, network
# clients and player faults (the test Soak.* in tests/soak/).
#
#   scripts/soak.sh 30          # 30 minutes, default preset
#   scripts/soak.sh 10 tsan     # 10 minutes under ThreadSanitizer
#   MORVIA_SOAK_SEED=123 scripts/soak.sh 5   # repeat a run's random choices
#
# Each soak draws a fresh random seed (the default test suite always runs the
# same fixed seed) and prints it when the soak fails.
#
# Exit status 0 when the soak passed: no crash or sanitizer report, resident
# memory flat after the warm-up (default preset), every command the player
# received one the controller queued.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-30}
preset=${2:-default}
[[ "$minutes" =~ ^[0-9]+$ ]] && ((minutes > 0)) || { echo "usage: $0 MINUTES [default|asan|tsan]" >&2; exit 2; }
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target soak_tests
if [ "$preset" = tsan ]; then
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
fi
export QT_QPA_PLATFORM=offscreen
export MORVIA_SOAK_SEED=${MORVIA_SOAK_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
status=0
MORVIA_SOAK_SECONDS=$((minutes * 60)) "build/$preset/tests/soak_tests" || status=$?
if ((status != 0)); then
  echo "soak FAILED with seed $MORVIA_SOAK_SEED: repeat with MORVIA_SOAK_SEED=$MORVIA_SOAK_SEED $0 $minutes $preset" >&2
fi
exit "$status"
