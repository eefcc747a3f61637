#!/bin/sh
# Installs the build tree into a temporary prefix and runs the installed programs from there.
# Usage: installed_tree_test.sh BUILD_DIR [--with-sim]
set -u

build_dir=$1
with_sim=${2:-}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tvflash-install.XXXXXX") || exit 1
trap 'rm -rf "$prefix"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cmake --install "$build_dir" --prefix "$prefix" >"$prefix/install.log" 2>&1 ||
    { cat "$prefix/install.log"; echo "FAIL: cmake --install"; exit 1; }

tool="$prefix/bin/tvflash"
[ -x "$tool" ] || { echo "FAIL: $tool was not installed"; exit 1; }

# Without arguments the tool prints the banner and the usage text on standard error, status 1.
"$tool" >"$prefix/out" 2>"$prefix/err" </dev/null
status=$?
[ "$status" -eq 1 ] || fail "tvflash without arguments: status $status, expected 1"
[ ! -s "$prefix/out" ] || fail "tvflash without arguments wrote to standard output"
first=$(sed -n 1p "$prefix/err")
second=$(sed -n 2p "$prefix/err")
last=$(sed -n '$p' "$prefix/err")
[ "$first" = "Talvium flashing tool, version 2.4.0" ] || fail "banner line: '$first'"
[ "$second" = "Usage: tvflash <hostname> <port> <command> [<filename>]" ] ||
    fail "usage line: '$second'"
[ "$last" = "          tvflash 10.10.10.10 4000 formatdisk filesys.bin" ] ||
    fail "last usage line: '$last'"
[ "$(wc -l <"$prefix/err")" -eq 20 ] || fail "banner and usage are not 20 lines"

gzip -t "$prefix/share/man/man1/tvflash.1.gz" 2>/dev/null || fail "manual page tvflash.1.gz was not installed"

# tvflash-fleet beside the tool, with its manual page and guide.
fleet="$prefix/bin/tvflash-fleet"
if [ -x "$fleet" ]; then
    "$fleet" --help >"$prefix/out" 2>"$prefix/err" </dev/null
    status=$?
    [ "$status" -eq 0 ] || fail "tvflash-fleet --help: status $status, expected 0"
    grep -q 'tvflash-fleet scan ADDRESS/BITS PORT' "$prefix/out" || fail "tvflash-fleet --help lacks scan"
    "$fleet" check -e version 127.0.0.1:4000 >"$prefix/out" 2>"$prefix/err" </dev/null
    status=$?
    [ "$status" -eq 0 ] || fail "tvflash-fleet check does not find the installed tool: $(cat "$prefix/err")"
else
    fail "$fleet was not installed"
fi
gzip -t "$prefix/share/man/man1/tvflash-fleet.1.gz" 2>/dev/null || fail "manual page tvflash-fleet.1.gz was not installed"

[ -s "$prefix/share/tvflash/wireshark/tvflash.lua" ] || fail "the Wireshark dissector was not installed"
for doc in README.md protocol.md manual.md windows.md CHANGELOG.md copyright changelog.gz \
    images/console-session.png; do
    [ -s "$prefix/share/doc/tvflash/$doc" ] || fail "$doc was not installed in share/doc/tvflash"
done
grep -q "^License: Expat$" "$prefix/share/doc/tvflash/copyright" || fail "copyright names no licence"
bash "$(dirname "$0")/../docs/check_links.sh" "$prefix/share/doc/tvflash" >"$prefix/links" ||
    fail "links of the installed documents: $(cat "$prefix/links")"
for program in tvflash tvflash-sim tvflash-fleet; do
    [ -s "$prefix/share/bash-completion/completions/$program" ] || fail "no bash completion for $program"
done

if [ "$with_sim" = --with-sim ]; then
    sim="$prefix/bin/tvflash-sim"
    gzip -t "$prefix/share/man/man1/tvflash-sim.1.gz" 2>/dev/null ||
        fail "manual page tvflash-sim.1.gz was not installed"
    if [ -x "$sim" ]; then
        "$sim" --help >"$prefix/out" 2>"$prefix/err" </dev/null
        status=$?
        [ "$status" -eq 0 ] || fail "tvflash-sim --help: status $status, expected 0"
        grep -q -- '--port' "$prefix/out" || fail "tvflash-sim --help does not list --port"
        "$sim" --no-such-option >/dev/null 2>"$prefix/err" </dev/null
        status=$?
        [ "$status" -eq 2 ] || fail "tvflash-sim with a bad option: status $status, expected 2"
    else
        fail "$sim was not installed"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "installed tree runs"
