#!/usr/bin/env bash
# Morvia in a real Wayland session: weston nested on a virtual X server (its
# headless back-end has no input seat), with XWayland.
#
#   wayland_session.sh MORVIA DVDSIM LAUNCHER DESKTOP_FILE
#
# 1. Started as the desktop entry starts it, with UseClipboard=YES, Morvia
#    runs through XWayland: its window opens on XWayland's display and
#    answers a click there, and a Wayland client (wl-paste) reads timecodes
#    that move while another program has the focus.
# 2. Asked to run natively on Wayland, Morvia says on the console that the
#    clipboard cannot follow the timecode and leaves the clipboard alone.
# Any missing program or a compositor that does not start is a failure.
set -euo pipefail
morvia=$(realpath "$1") dvdsim=$(realpath "$2") launcher=$(realpath "$3") desktop=$(realpath "$4")

fail() {
  echo "FAIL: $*" >&2
  [ -z "${work:-}" ] || show_logs
  exit 1
}
for p in Xvfb weston Xwayland wl-paste wl-copy xdotool weston-flower; do
  command -v "$p" >/dev/null || fail "$p is not installed (scripts/setup.sh installs it)"
done

work=$(mktemp -d /tmp/morvia-wayland.XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
show_logs() {
  for f in "$work"/*.log "$work"/*.out; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }
  done >&2
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local n=$1; shift
  for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# The outer X server picks a free display number itself.
exec 3>"$work/xvfb.display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=("$!")
exec 3>&-
wait_for 100 test -s "$work/xvfb.display" || fail "Xvfb did not start"
outer=":$(head -n 1 "$work/xvfb.display")"

runtime=$work/runtime
mkdir -m 700 "$runtime"
DISPLAY=$outer XDG_RUNTIME_DIR=$runtime weston --backend=x11-backend.so --xwayland --socket=wayland-morvia \
  --width=1024 --height=768 --idle-time=0 --log="$work/weston.log" >"$work/weston.out" 2>&1 &
pids+=("$!")
wait_for 300 grep -q "xserver listening on display" "$work/weston.log" ||
  fail "weston did not start on $outer with XWayland (log: $(tail -n 5 "$work/weston.log" 2>/dev/null))"
xwayland=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" | head -n 1)
echo "weston on $outer, XWayland on $xwayland"

# The session as a desktop gives it to the programs it starts: no
# QT_QPA_PLATFORM (the test runner's own setting is dropped).
home=$work/home
mkdir -p "$home/bin"
cp "$launcher" "$home/bin/morvia-launcher"
ln -s "$morvia" "$home/bin/morvia"
session=(env -i HOME="$home" PATH="$home/bin:/usr/bin:/bin" XDG_RUNTIME_DIR="$runtime"
         WAYLAND_DISPLAY=wayland-morvia XDG_SESSION_TYPE=wayland DISPLAY="$xwayland" LANG=C.UTF-8)

"$dvdsim" --log "$work/dvdsim.log" >"$work/dvdsim.out" 2>&1 &
pids+=("$!")
wait_for 100 test -s "$work/dvdsim.out" || fail "dvdsim did not start"
port=$(head -n 1 "$work/dvdsim.out")
mkdir -p "$home/.config/morvia"
cat >"$home/.config/morvia/Settings.txt" <<SETTINGS
DVDCOMPort=$port
TCOffset=00:00:00:00
StartTitle=1
UseClipboard=YES
Verbose=YES
UserNote=Wayland
StopOnExit=NO
SETTINGS

# The command line of the desktop entry, as the session runs it.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ -n "$exec_line" ] || fail "no Exec line in $desktop"
# shellcheck disable=SC2086
"${session[@]}" $exec_line >"$work/morvia.out" 2>&1 &
morvia_pid=$!
pids+=("$morvia_pid")
wait_for 600 grep -q " Ready$" "$work/morvia.out" || fail "Morvia did not report the player ready"
grep -q "^Clipboard off" "$work/morvia.out" && fail "Morvia gave up the clipboard under XWayland"

x() { "${session[@]}" xdotool "$@"; }
wait_for 100 x search --onlyvisible --name '^Morvia$' || fail "no Morvia window on XWayland's display $xwayland"
win=$(x search --onlyvisible --name '^Morvia$' | head -n 1)
echo "Morvia window $win on $xwayland: $(x getwindowgeometry "$win" | tr -s '\n ' ' ')"

# A click on "Pause ||" (the grid's second button), then on "Play >". A window
# that has just been mapped may miss a first click, so each is given five
# tries; a second Pause or Play changes nothing.
click_for() {
  local at=$1 line=$2
  for _ in 1 2 3 4 5; do
    x mousemove --window "$win" "$at" 45 click 1
    wait_for 20 grep -qx "$line" "$work/morvia.out" && return 0
  done
  return 1
}
click_for 95 "Pause" || fail "a click on the window's Pause button did nothing"
click_for 215 "Play" || fail "a click on the window's Play button did nothing"

# Another program takes the focus: a new native Wayland window.
"${session[@]}" weston-flower >"$work/flower.out" 2>&1 &
pids+=("$!")
wait_for 100 bash -c "! ${session[*]} xdotool getwindowfocus | grep -qx '$win'" ||
  fail "Morvia kept the focus"
sleep 1

# Timecodes read from the clipboard by a Wayland client, 0.3 s apart, until
# they have moved: 3 different ones, 2 seconds or more apart. Weston's bridge
# between the X and the Wayland clipboard serves an older copy (or nothing)
# to most reads while the X owner changes 14 times a second, so the reads go
# on until the moving ones are there (at most 150).
seconds() { echo $((10#${1:0:2} * 3600 + 10#${1:3:2} * 60 + 10#${1:6:2})); }
reads=()
moved=0
for ((i = 0; i < 150 && !moved; i++)); do
  reads+=("$("${session[@]}" timeout 5 wl-paste -n 2>/dev/null | tr -d '\n\0' || true)")
  distinct=$(printf '%s\n' "${reads[@]}" | grep -Ex '[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2}' | sort -u || true)
  if [ "$(grep -c . <<<"$distinct")" -ge 3 ] &&
     (($(seconds "$(tail -n 1 <<<"$distinct")") - $(seconds "$(head -n 1 <<<"$distinct")") >= 2)); then
    moved=1
  fi
  sleep 0.3
done
echo "clipboard reads: ${reads[*]}"
((moved)) || fail "the clipboard's timecode did not move while Morvia was not focused"

kill -TERM "$morvia_pid"
wait_for 100 bash -c "! kill -0 $morvia_pid" || fail "Morvia did not end on SIGTERM"

# Natively on Wayland: one console line, and the clipboard is left alone.
"${session[@]}" wl-copy "not a timecode"
"${session[@]}" QT_QPA_PLATFORM=wayland morvia-launcher >"$work/native.out" 2>&1 &
native_pid=$!
pids+=("$native_pid")
wait_for 600 grep -q " Ready$" "$work/native.out" || fail "natively on Wayland Morvia did not report the player ready"
[ "$(grep -c "^Clipboard off: natively on Wayland the clipboard cannot follow the timecode while another program has the focus" "$work/native.out")" = 1 ] ||
  fail "natively on Wayland there is not exactly one console line about the clipboard"
sleep 2
[ "$("${session[@]}" timeout 5 wl-paste -n)" = "not a timecode" ] || fail "natively on Wayland Morvia changed the clipboard"
kill -TERM "$native_pid"
wait_for 100 bash -c "! kill -0 $native_pid" || fail "Morvia (Wayland) did not end on SIGTERM"
echo "OK"
