#!/usr/bin/env bash
# Tests the Windows build on this machine: the unit tests built for Windows run under Wine, then
# the end-to-end suite (built natively) runs against `wine build/windows/tvflash.exe`, the message
# boxes operated with xdotool on a virtual X display, and the hostile board against it; then
# tvflash-sim.exe with the simulator's tests. Both builds must exist (`make test-windows` builds
# them). Everything this script starts, it stops.
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEDEBUG=-all
display_file=$(mktemp)
cleanup() {
    wineserver -k 2>/dev/null || true
    if [ -n "${desktop_pid:-}" ]; then
        kill "$desktop_pid" 2>/dev/null || true
        wait "$desktop_pid" 2>/dev/null || true
    fi
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -f "$display_file"
}
trap cleanup EXIT

# A virtual display on the first free number, for the message boxes.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n 1 "$display_file")"

# One Wine server for the whole run (each program would otherwise start its own); the first run
# on a machine also makes the Wine prefix, whose folder the server needs first.
mkdir -p "${WINEPREFIX:-$HOME/.wine}"
wineserver -k 2>/dev/null || true
wineserver -p
wineboot -i >/dev/null 2>&1 || true
# The desktop process, started now rather than by the first message box of a test: under load its
# start can outlast the box's wait for it, and a process started by a test inherits its pipes.
wine explorer.exe /desktop </dev/null >/dev/null 2>&1 &
desktop_pid=$!

ctest --preset windows
ctest --preset windows-e2e
# tvflash-fleet.exe with its tvflash.exe children, one test at a time: each runs several Wine
# programs at once already.
ctest --preset windows-fleet
# The hostile board, with no display: a question or a conflict notice that cannot be shown counts
# as No or ends the run, as it would on a workstation without a desktop.
env -u DISPLAY ctest --preset windows-hostile
# tvflash-sim.exe: its own tests that are not POSIX-specific, and a few of the tool's commands
# against it, tvflash.exe and tvflash-sim.exe both under Wine. Its pure parts were tested above
# with the other unit tests.
env -u DISPLAY ctest --preset windows-sim
