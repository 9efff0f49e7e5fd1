#!/usr/bin/env bash
# Runs a GUI test program on a real X server with a real window manager:
# Xvfb on a display it picks itself, openbox on it, the program on Qt's xcb
# platform; both servers are stopped afterwards. Each wait is for a
# condition, bounded generously for a loaded machine.
# Usage: UnderWindowManager.sh <test program> [arguments...]
set -euo pipefail
program=$1
shift
for tool in Xvfb openbox xdotool wmctrl; do
  command -v "$tool" >/dev/null ||
    { echo "$tool is missing (scripts/deps.sh TEST_PACKAGES)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tirasel-wm-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# waitfor <what> <command...>: up to 60 s in steps of 0.1 s.
waitfor() {
  local what=$1
  shift
  for _ in $(seq 600); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "$what did not come up" >&2
  sed 's/^/  /' "$work"/*.log >&2 || true
  exit 1
}

# Xvfb writes the number of the free display it took once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
waitfor "Xvfb" test -s "$work/display"
export DISPLAY=":$(head -1 "$work/display")"

# openbox runs its start command when it has taken over the screen and set
# the focus; a window shown before that may lose the focus to it.
openbox --sm-disable --startup "touch $work/started" >"$work/openbox.log" 2>&1 &
pids+=($!)
waitfor "openbox" test -e "$work/started"
waitfor "openbox" wmctrl -m

QT_QPA_PLATFORM=xcb "$program" "$@"
