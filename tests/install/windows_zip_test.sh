#!/bin/sh
# The Windows zip as an operator meets it: made by cpack, unpacked into a folder whose path has
# blanks, its files there, every link of its documents resolving, and demo.cmd run in it with
# `wine cmd /c`, which must end with the demo's success line and status 0.
# Usage: windows_zip_test.sh BUILD_DIR   (the Windows build, built)
set -u

build_dir=$(cd "$1" && pwd) || exit 1
work=$(mktemp -d "${TMPDIR:-/tmp}/tvflash zip.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cpack -G ZIP --config "$build_dir/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
mkdir "$work/unpacked here" &&
    (cd "$work/unpacked here" && cmake -E tar xf "$work"/tvflash-*-win64.zip) ||
    { echo "FAIL: the zip does not unpack"; exit 1; }
folder=$(echo "$work/unpacked here"/tvflash-*-win64)

for file in tvflash.exe tvflash-sim.exe tvflash-fleet.exe tvflash-demo.exe demo.cmd README.md \
    protocol.md tvflash.txt wireshark/tvflash.lua; do
    [ -s "$folder/$file" ] || fail "$file is not in the zip"
done
bash "$(dirname "$0")/../docs/check_links.sh" "$folder" >"$work/links" ||
    fail "links of the zip's documents: $(cat "$work/links")"
cr=$(printf '\r')
[ "$(grep -c "$cr\$" "$folder/demo.cmd")" -eq "$(wc -l <"$folder/demo.cmd")" ] ||
    fail "demo.cmd does not have Windows line ends throughout"

(cd "$folder" && wine cmd /c demo.cmd </dev/null >"$work/demo.out" 2>&1)
status=$?
last=$(tr -d '\r' <"$work/demo.out" | sed -n '$p')
[ "$status" -eq 0 ] || fail "demo.cmd ended with status $status"
[ "$last" = "demo: every step did what it should" ] || fail "demo.cmd's last line: '$last'"

if [ "$failures" -ne 0 ]; then
    cat "$work/demo.out"
    echo "$failures check(s) failed"
    exit 1
fi
echo "the zip's demo.cmd runs"
