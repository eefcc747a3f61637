#!/usr/bin/env bash
# Records a real session of tvflash-fleet's live view for docs/fleet.md: six simulated boards on
# 127.0.0.2 to 127.0.0.7 (each datagram delayed by 1 ms, so that an upload takes a few seconds;
# one of them of another board type than the bootloader's; nothing listening at 127.0.0.8)
# through a three-step recipe, four boards at once, in a 100x18 terminal under tmux. Leaves docs/images/fleet-session.cast
# (asciicast v2: `asciinema play` shows it) and prints the screen as it stood every 1.5 seconds.
# Usage: scripts/fleet_session.sh [BUILD_DIR]   (default build/release; needs tmux, script and
# python3). Everything it starts, it stops.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
work=$(mktemp -d)
session="fleet-session-$$"
sims=()
cleanup() {
    tmux kill-session -t "$session" 2>/dev/null || true
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# The quick start's recipe and its images.
examples/make-images.sh "$work/images" >/dev/null
cp examples/new-board.txt "$work/"
: >"$work/line-3.txt"
for n in 2 3 4 5 6 7; do
    type=PLN7/ZE
    [ "$n" = 5 ] && type=KRD/4Q
    "$build/tvflash-sim" --bind "127.0.0.$n" --port 4000 --delay 1 --board-type "$type" \
        >"$work/sim$n.out" 2>&1 &
    sims+=($!)
    echo "127.0.0.$n:4000" >>"$work/line-3.txt"
done
echo "127.0.0.8:4000" >>"$work/line-3.txt"
sleep 0.5

command="cd $work && $PWD/$build/tvflash-fleet run -j 4 --logs logs new-board.txt @line-3.txt"
tmux new-session -d -s "$session" -x 100 -y 18 \
    "script -q -f -m classic -E never -T $work/timing -O $work/raw -c '$command'; sleep 60"
for _ in $(seq 40); do
    sleep 1.5
    echo "----- frame"
    tmux capture-pane -p -t "$session" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
    grep -q '^Record:' "$work/raw" 2>/dev/null && break
done

python3 - "$work/timing" "$work/raw" docs/images/fleet-session.cast <<'EOF'
# script's timing file holds one "delay bytes" pair per chunk of the raw output.
import json, sys
timing, raw, cast = sys.argv[1:]
data = open(raw, 'rb').read()
start = data.index(b'\n') + 1 if data.startswith(b'Script started') else 0
at, clock, events = start, 0.0, []
for line in open(timing):
    delay, count = line.split()[:2]
    clock += float(delay)
    chunk = data[at:at + int(count)]
    at += int(count)
    events.append([round(clock, 3), 'o', chunk.decode('utf-8', 'replace')])
with open(cast, 'w') as out:
    out.write(json.dumps({'version': 2, 'width': 100, 'height': 18,
                          'title': 'tvflash-fleet run -j 4 new-board.txt @line-3.txt'}) + '\n')
    for event in events:
        out.write(json.dumps(event) + '\n')
EOF
echo "----- written docs/images/fleet-session.cast"
