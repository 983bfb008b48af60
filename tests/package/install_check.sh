#!/usr/bin/env bash
# Installs the Debian package as an operator would, starts it from a fresh
# home folder under a virtual display, removes it, and checks what is left.
#
#   install_check.sh path/to/morvia_*.deb
#
# 1. `apt-get install ./morvia_*.deb`.
# 2. The first `morvia-launcher` start makes ~/.config/morvia/Settings.txt.
# 3. The operator names dvdsim's terminal there; the second start shows the
#    window on the display and reports the player ready.
# 4. `apt-get remove morvia` leaves none of the package's files and no
#    package state behind; the operator's folder stays. Packages that the
#    install brought in are removed again, so the machine is left as found.
# Needs root (or sudo). Fails, never skips, when morvia is already installed.
set -euo pipefail
deb=$(realpath "$1")

fail() {
  echo "install check: FAIL: $*" >&2
  for f in "$work"/*.out "$work"/*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; } >&2
  done
  exit 1
}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if installed morvia; then
  echo "install check: FAIL: morvia is already installed here; remove it first" >&2
  exit 1
fi
work=$(mktemp -d /tmp/morvia-install.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # Whatever happened, the package does not stay on the machine.
  if installed morvia && [ -f "$work/before" ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq morvia >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
wait_for() {
  local n=$1; shift
  for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

dpkg-query -W -f='${Package}\n' | sort >"$work/before"

DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 ||
  fail "apt-get install $deb failed"
installed morvia || fail "morvia is not installed after apt-get install"
[ "$(dpkg-query -W -f='${Conffiles}' morvia)" = "" ] || fail "the package has conffiles"
for p in morvia morvia-launcher dvdsim morvia-edl; do
  [ "$(command -v "$p")" = "/usr/bin/$p" ] || fail "$p is not on the path as /usr/bin/$p"
done
echo "install check: installed $(dpkg-query -W -f='${Package} ${Version}' morvia)"

# A fresh operator: an empty home folder, no serial adapters, a virtual display.
home=$work/home
mkdir -p "$home" "$work/no-adapters"
exec 3>"$work/xvfb.display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=("$!")
exec 3>&-
wait_for 100 test -s "$work/xvfb.display" || fail "Xvfb did not start"
operator=(env -i HOME="$home" PATH=/usr/bin:/bin DISPLAY=":$(head -n 1 "$work/xvfb.display")" LANG=C.UTF-8
          MORVIA_SERIAL_BY_ID="$work/no-adapters")
settings=$home/.config/morvia/Settings.txt

# First start: the settings are made; the sample's port is no player.
"${operator[@]}" morvia-launcher >"$work/first.out" 2>&1 &
first=$!
pids+=("$first")
wait_for 100 test -s "$settings" || fail "the first start made no $settings"
grep -q "^morvia: made $settings" "$work/first.out" || fail "the first start did not say it made the settings"
wait_for 300 bash -c "! kill -0 $first" || kill "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
echo "install check: first start made $settings"

# The operator names the simulator's terminal.
dvdsim --log "$work/dvdsim.log" >"$work/dvdsim.out" 2>&1 &
pids+=("$!")
wait_for 100 test -s "$work/dvdsim.out" || fail "dvdsim did not start"
port=$(head -n 1 "$work/dvdsim.out")
sed -i "s#^DVDCOMPort=.*#DVDCOMPort=$port#" "$settings"
grep -qx "DVDCOMPort=$port" "$settings" || fail "the sample settings have no DVDCOMPort line"

# Second start: the window.
"${operator[@]}" morvia-launcher >"$work/second.out" 2>&1 &
second=$!
pids+=("$second")
wait_for 600 grep -q " Ready$" "$work/second.out" || fail "the second start did not report the player ready"
wait_for 100 "${operator[@]}" xdotool search --onlyvisible --name '^Morvia$' || fail "the second start showed no window"
kill -TERM "$second"
wait_for 100 bash -c "! kill -0 $second" || fail "morvia did not end on SIGTERM"
wait "$second" || fail "morvia ended with status $? after SIGTERM"
echo "install check: second start showed the window and ended on SIGTERM"

# Removal: no file of the package and no package state is left.
files=$(dpkg-query -L morvia)
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq morvia >"$work/remove.log" 2>&1 || fail "apt-get remove morvia failed"
state=$(dpkg-query -W -f='${Status}' morvia 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = "unknown ok not-installed" ] || fail "after removal dpkg still has morvia as '$state'"
while read -r f; do
  case $f in /usr/share/doc/morvia | /usr/share/doc/morvia/*) [ ! -e "$f" ] || fail "$f is left behind";; esac
  [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is left behind"
done <<<"$files"
[ -s "$settings" ] || fail "the removal touched the operator's $settings"

# Packages the install brought in (its recommendations) go again.
dpkg-query -W -f='${Package}\n' | sort >"$work/after"
added=$(comm -13 "$work/before" "$work/after")
if [ -n "$added" ]; then
  echo "install check: removing what the install brought in: $(tr '\n' ' ' <<<"$added")"
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq $added >>"$work/remove.log" 2>&1 || fail "could not remove $added"
fi
echo "install check: removed; the operator's folder $(dirname "$settings") stays"
echo "install check: OK"
