#!/usr/bin/env bash
# The operator's day against a simulated board: version, getconfig, updatesys of a generated
# image, getconfig again, erasesys. Starts tvflash-sim on a free loopback port, shows each command
# with its output, checks its exit status and key lines, and always stops the simulator.
# Usage: scripts/demo.sh [BUILD_DIR]   (default build/release). Exits 0 only if every step passed.
set -u

build=$(cd "${1:-build/release}" 2>/dev/null && pwd) || { echo "demo: no build folder"; exit 1; }
tool="$build/tvflash"
sim="$build/tvflash-sim"
image_size=307200  # 300 KiB

work=$(mktemp -d "${TMPDIR:-/tmp}/tvflash-demo.XXXXXX") || exit 1
sim_pid=
failed=0

stop_simulator() {
    [ -n "$sim_pid" ] || return 0
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    local status=$?
    sim_pid=
    return "$status"
}
trap 'stop_simulator; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

fail() {
    echo "demo: FAILED: $*"
    failed=1
}

# Runs the tool with the arguments after the address and port, showing it as it runs.
run_tool() {
    echo
    echo "\$ tvflash 127.0.0.1 $port $*"
    "$tool" 127.0.0.1 "$port" "$@" </dev/null 2>&1 | tee "$work/out"
    status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] || fail "'$*' ended with status $status"
}

expect_line() {
    grep -qxF -- "$1" "$work/out" || fail "'$1' missing from the output"
}

# The size in bytes of the System row of the last getconfig's table; empty when there is none.
system_area_size() {
    sed -n 's/^0x[0-9A-F]* - 0x[0-9A-F]* | System  *| *\([0-9][0-9]*\) .*/\1/p' "$work/out" | head -n 1
}

for program in "$tool" "$sim"; do
    [ -x "$program" ] || { echo "demo: $program is missing; build first (make release)"; exit 1; }
done

# The same pseudo-random image on every machine: a fixed-seed linear congruential generator.
perl -e 'use integer; my $x = 20240601; my $out = "";
         for (1 .. $ARGV[0]) { $x = ($x * 1103515245 + 12345) & 0x7fffffff; $out .= chr(($x >> 16) & 0xff) }
         binmode STDOUT; print $out' "$image_size" >"$work/project.tvm" || exit 1

"$sim" --port 0 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=
for _ in $(seq 50); do
    port=$(sed -n 's/^tvflash-sim listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/sim.out")
    [ -n "$port" ] && break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "demo: tvflash-sim did not start"
    cat "$work/sim.err"
    exit 1
fi
echo "Simulated board: tvflash-sim on 127.0.0.1:$port"
cd "$work" || exit 1

run_tool version
grep -q 'Talvium' "$work/out" || fail "no version text with Talvium"

run_tool getconfig
expect_line "                           Flash memory configuration"
grep -q '^Total size of flash memory ' "$work/out" || fail "no total size line"
system_before=$(system_area_size)

run_tool updatesys project.tvm
expect_line "Total of $image_size bytes uploaded."
expect_line "Flash memory update successful."

run_tool getconfig
system_after=$(system_area_size)
if [ -z "$system_after" ] || [ "$system_after" -lt "$image_size" ] ||
    [ "$system_after" = "$system_before" ]; then
    fail "the System area should now hold the $image_size-byte image (was ${system_before:-none}, is ${system_after:-none} bytes)"
fi

run_tool erasesys
expect_line "Flash memory has been successfully erased."

echo
stop_simulator || fail "tvflash-sim did not end cleanly"
if [ "$failed" -ne 0 ]; then
    echo "demo: some steps did not do what they should"
    exit 1
fi
echo "demo: every step did what it should"
