#!/usr/bin/env bash
# Window CPU benchmark: morvia against dvdsim and the bare reference window
# (bench/BareWindow.cpp), side by side on one virtual X display (Xvfb), both
# measured from outside over the same seconds while the timecode runs:
# CPU share of one core (from the scheduler's run time of every thread),
# wake-ups per second of each thread (context switches), and repaints per
# second with their area (counted in each process, MORVIA_PAINT_STATS).
#   bench/window_bench.sh [SECONDS]      # default 60
# The figures depend on the load of the machine: run it on an idle one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
secs=${1:-60}
if [ -z "${MORVIA_BENCH_NO_BUILD:-}" ]; then
  scripts/setup.sh
  cmake --preset default >/dev/null
  cmake --build --preset default --target morvia-demo morvia_barewindow dvdsim
fi
bin=$root/build/default
run=$(mktemp -d /tmp/morvia-window-bench-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT

# A free display number.
disp=90
while [ -e "/tmp/.X11-unix/X$disp" ] || [ -e "/tmp/.X$disp-lock" ]; do disp=$((disp + 1)); done
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.1; done
export DISPLAY=":$disp"

"$bin/tools/dvdsim/dvdsim" --link "$run/dvd-player" >"$run/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$run/dvd-player" ] && break; sleep 0.1; done
cat >"$run/Settings.txt" <<EOF
Verbose=NO
UserNote=Bench
DVDCOMPort=$run/dvd-player
TCOffset=00:00:00:00
StartTitle=1
UseClipboard=NO
StopOnExit=NO
EOF
(cd "$run" && MORVIA_PAINT_STATS="$run/morvia.paint" exec "$bin/tools/morvia-demo/morvia-demo" >"$run/console.txt" 2>&1) &
app=$!
pids+=($app)
for _ in $(seq 600); do grep -q " Ready" "$run/console.txt" 2>/dev/null && break; sleep 0.1; done
grep -q " Ready" "$run/console.txt" || { echo "window_bench: morvia did not get ready" >&2; cat "$run/console.txt" >&2; exit 1; }
MORVIA_PAINT_STATS="$run/bare.paint" "$bin/bench/morvia_barewindow" >"$run/bare.out" 2>&1 &
bare=$!
pids+=($bare)
sleep 3  # both windows shown and settled

# Per thread: "tid name runtime_ns switches".
threads() {
  for t in /proc/"$1"/task/*; do
    local name sw
    name=$(tr ' ' '_' <"$t/comm")
    sw=$(awk '/^voluntary_ctxt_switches/{v=$2} /^nonvoluntary_ctxt_switches/{n=$2} END{print v+n}' "$t/status")
    echo "$(basename "$t") $name $(cut -d' ' -f1 "$t/schedstat") $sw"
  done | sort
}
paint() { cat "$1"; }

threads "$app" >"$run/app.0"; threads "$bare" >"$run/bare.0"
paint "$run/morvia.paint" >"$run/app.p0"; paint "$run/bare.paint" >"$run/bare.p0"
t0=$(date +%s.%N)
sleep "$secs"
threads "$app" >"$run/app.1"; threads "$bare" >"$run/bare.1"
paint "$run/morvia.paint" >"$run/app.p1"; paint "$run/bare.paint" >"$run/bare.p1"
t1=$(date +%s.%N)

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores; $secs s on Xvfb :$disp"
report() {  # name before after paint-before paint-after -> prints, sets cpu_<name>
  local name=$1
  join "$2" "$3" | awk -v s="$(echo "$t1 - $t0" | bc)" -v name="$name" '
    { cpu += ($6 - $3); wake = ($7 - $4) / s; total += wake
      if (wake >= 0.5) lines = lines sprintf("    %-18s %7.1f wake-ups/s %7.3f %% of a core\n", $2, wake, ($6 - $3) / s / 1e7) }
    END { printf "%s: %.3f %% of a core, %.0f wake-ups/s\n%s", name, cpu / s / 1e7, total, lines
          printf "%.4f\n", cpu / s / 1e7 > "/dev/stderr" }' 2>"$run/$name.cpu"
  read -r _ p0 _ a0 _ f0 _ s0 <"$4"
  read -r _ p1 _ a1 _ f1 _ s1 <"$5"
  awk -v p="$((p1 - p0))" -v a="$((a1 - a0))" -v f="$((f1 - f0))" -v s="$(echo "$s1 - $s0" | bc)" \
    'BEGIN { printf "    repaints: %.1f paint events/s, %.0f pixels/s (%.0f per event), %.1f window flushes/s\n", p / s, a / s, (p ? a / p : 0), f / s }'
}
report morvia "$run/app.0" "$run/app.1" "$run/app.p0" "$run/app.p1"
report bare "$run/bare.0" "$run/bare.1" "$run/bare.p0" "$run/bare.p1"
awk -v a="$(cat "$run/morvia.cpu")" -v b="$(cat "$run/bare.cpu")" \
  'BEGIN { r = b > 0 ? a / b : 0; printf "ratio morvia / bare window: %.2f (goal <= 1.2)\n", r; exit !(r <= 1.2) }'
