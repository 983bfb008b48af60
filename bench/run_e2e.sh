#!/usr/bin/env bash
# Builds the default preset's end-to-end harness (with morvia and dvdsim) and
# runs it: polls per second, command latency, CPU and memory of the link and
# of the morvia program, launch to window shown, each beside its goal.
# Arguments go to the harness, e.g.
#   bench/run_e2e.sh                       # full run, about 2.5 minutes
#   bench/run_e2e.sh --app-seconds 20 --samples 100 --window 10
# Exit status 0 when every goal is met. The figures depend on the load of the
# machine: run it on an otherwise idle one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target morvia_e2ebench
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
exec build/default/bench/morvia_e2ebench "$@"
