#!/usr/bin/env bash
# Set-up, build, then Morvia against the dvdsim player simulator.
#
# With a display (DISPLAY set): the main window stays until you close it.
# Without one: the window runs on a virtual X server (xvfb-run); once start-up
# is complete a screenshot is saved, the sample script runs through the
# window's "Script" button, and the window is closed.
#
# Everything runs in demo-run/ (Settings.txt, Script.txt, the simulator's
# command log dvdsim.log, the screenshot).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Only what the demo needs: no tests, benchmarks or packaging tools
# (scripts/test.sh installs and builds those).
scripts/setup.sh --demo
cmake --preset default -DMORVIA_BUILD_TESTS=OFF -DMORVIA_BUILD_BENCH=OFF >/dev/null
cmake --build --preset default --target morvia dvdsim

run=$root/demo-run
mkdir -p "$run"
rm -f "$run/demo-screenshot.png"

# The simulator prints the terminal it serves on its first line and keeps the
# link demo-run/dvd-player pointing at it, the way /dev/serial/by-id/... names
# a USB adapter; Morvia is given the link, so it finds the player again after
# a replug (`kill -USR1` the simulator to pull the cable: it comes back 2 s later).
link=$run/dvd-player
"$root/build/default/tools/dvdsim/dvdsim" --log "$run/dvdsim.log" --link "$link" --replug-after 2 \
  >"$run/dvdsim.out" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$run/dvdsim.out" ] && break
  sleep 0.1
done
port=$(head -n 1 "$run/dvdsim.out")
[ -e "$port" ] && [ -e "$link" ] || { echo "demo: the simulator did not start: $(cat "$run/dvdsim.out")" >&2; exit 1; }
echo "demo: player simulator on $port, linked as $link (simulator pid $sim)"

cat >"$run/Settings.txt" <<EOF
# Morvia settings for the demonstration
Verbose=YES
UserNote=Demo
DVDCOMPort=$link
TCOffset=00:00:00:00
StartTitle=1
UseClipboard=NO
StopOnExit=NO
EOF

cat >"$run/Script.txt" <<'EOF'
; Sample script: play, mark a segment, review it, pause
Play
Wait3
TC100:00:01:00
TC200:00:03:00
Review
Pause
Quit
EOF

cd "$run"
if [ -n "${DISPLAY:-}" ]; then
  echo "demo: close the Morvia window to end the demonstration"
  "$root/build/default/morvia"
else
  echo "demo: no display; running on a virtual X server"
  # morvia-demo is morvia with the screenshot and script hooks.
  MORVIA_SCREENSHOT="$run/demo-screenshot.png" MORVIA_DEMO_SCRIPT=1 \
    timeout 180 xvfb-run -a "$root/build/default/tools/morvia-demo/morvia-demo"
  if [ -s "$run/demo-screenshot.png" ]; then
    echo "demo: screenshot of the main window: $run/demo-screenshot.png"
  else
    echo "demo: no screenshot was taken" >&2
    exit 1
  fi
fi
echo "demo: commands the player received: $run/dvdsim.log"
