#!/usr/bin/env bash
# The fleet's quick start, run end to end: makes the images of examples/new-board.txt with
# examples/make-images.sh, starts a tvflash-sim at every target of examples/boards.txt (127.0.0.2
# and up, each keeping what it stores in a folder of its own), runs the recipe on them all with
# tvflash-fleet, which shows its summary, compares every board's stored images with the recipe's,
# and stops the boards by their process ids.
# Usage: scripts/demo_fleet.sh [BUILD_DIR]   (default build/release). Exits 0 only if all of it held.
set -u

build=$(cd "${1:-build/release}" 2>/dev/null && pwd) || { echo "demo-fleet: no build folder"; exit 1; }
cd "$(dirname "$0")/.." || exit 1
# The run's record, kept for a look at its transcripts, named from the source folder.
record=$(realpath -m --relative-to=. "$build/demo-fleet-record")

work=$(mktemp -d "${TMPDIR:-/tmp}/tvflash-demo-fleet.XXXXXX") || exit 1
pids=()
failed=0

fail() {
    echo "demo-fleet: FAILED: $*"
    failed=1
}

# Ends every board started, each by its process id, and waits for it; false when one did not end
# with status 0.
stop_boards() {
    local pid clean=0
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null || clean=1
    done
    pids=()
    return "$clean"
}
trap 'stop_boards; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

for program in tvflash tvflash-sim tvflash-fleet; do
    [ -x "$build/$program" ] || { echo "demo-fleet: $build/$program is missing; build first"; exit 1; }
done
bash examples/make-images.sh || exit 1

# The targets of the example's file, without comments and blank lines.
mapfile -t targets < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' examples/boards.txt)
for target in "${targets[@]}"; do
    mkdir "$work/$target"
    "$build/tvflash-sim" --bind "${target%:*}" --port "${target##*:}" --write-dir "$work/$target" \
        >"$work/$target/out" 2>&1 &
    pids+=($!)
done
for target in "${targets[@]}"; do
    for _ in $(seq 50); do
        grep -q '^tvflash-sim listening on ' "$work/$target/out" && break
        sleep 0.1
    done
    grep -q '^tvflash-sim listening on ' "$work/$target/out" ||
        { echo "demo-fleet: the board at $target did not start:"; cat "$work/$target/out"; exit 1; }
done
echo "Simulated boards: ${targets[*]}"

rm -rf "$record"
echo "\$ tvflash-fleet run --logs $record examples/new-board.txt @examples/boards.txt"
"$build/tvflash-fleet" run --logs "$record" examples/new-board.txt @examples/boards.txt </dev/null
status=$?
[ "$status" -eq 0 ] || fail "tvflash-fleet ended with status $status"

# Each board stored the recipe's two images in its order, and nothing more.
for target in "${targets[@]}"; do
    cmp -s "$work/$target/update-1.bin" examples/images/eboot.hex ||
        fail "$target does not hold examples/images/eboot.hex"
    cmp -s "$work/$target/update-2.bin" examples/images/os.tvm ||
        fail "$target does not hold examples/images/os.tvm"
    [ ! -e "$work/$target/update-3.bin" ] || fail "$target stored more than two images"
done

echo
stop_boards || fail "a simulated board did not end cleanly"
if [ "$failed" -ne 0 ]; then
    echo "demo-fleet: some steps did not do what they should"
    exit 1
fi
echo "demo-fleet: every board holds the exact images of the recipe"
