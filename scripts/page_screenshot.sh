#!/usr/bin/env bash
# Takes the screenshot of the station page for docs/fleet.md and the README: a station
# (run --watch -j 3) at twelve places on 127.0.0.2 to 127.0.0.13 with a three-step recipe. Two
# boards pass at once, one of another board type fails its bootloader and two on one address
# fail with a conflict; then three slow boards (each datagram delayed by 12 ms) take every place
# the -j allows and upload, two more wait their turn, and two places stay empty. Leaves
# docs/images/station-page.png (1920x1080, as on a screen across a room) and
# docs/images/station-page-tablet.png (1024x768).
# Usage: scripts/page_screenshot.sh [BUILD_DIR]   (default build/release; needs chromium).
# Everything it starts, it stops.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${1:-build/release}" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The quick start's recipe and its images.
examples/make-images.sh "$work/images" >/dev/null
cp examples/new-board.txt "$work/"
targets=()
for n in $(seq 2 13); do targets+=("127.0.0.$n:4100"); done

sim() {
    "$bin/tvflash-sim" --port 4100 "$@" >/dev/null 2>&1 &
    pids+=($!)
}
(cd "$work" && exec "$bin/tvflash-fleet" run --watch --gone 60 -j 3 --db none --logs logs \
    --station line-3 --serve 127.0.0.1:0 new-board.txt "${targets[@]}" >fleet.out 2>&1) &
fleet=$!
pids+=($fleet)
for _ in $(seq 100); do grep -q '^Page: ' "$work/fleet.out" 2>/dev/null && break; sleep 0.1; done
url=$(sed -n 's/^Page: //p' "$work/fleet.out")

sim --bind 127.0.0.2
sim --bind 127.0.0.3
sim --bind 127.0.0.4 --board-type KRD/4Q
sim --bind 127.0.0.5 --boards 2
sleep 6
for n in 6 7 8; do sim --bind "127.0.0.$n" --delay 12; done
sleep 1.5
sim --bind 127.0.0.9
sim --bind 127.0.0.10
sleep 5
"$bin/bench/tvflash_page_shot" "$url" docs/images/station-page.png 1920 1080
"$bin/bench/tvflash_page_shot" "$url" docs/images/station-page-tablet.png 1024 768
kill -INT "$fleet"
echo "written docs/images/station-page.png and docs/images/station-page-tablet.png"
