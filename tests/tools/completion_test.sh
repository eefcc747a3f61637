#!/usr/bin/env bash
# The bash completion of tools/completion/tvflash.bash: command lines and what they complete to,
# in a folder of known files; and the options it offers are those that tvflash-sim --help and
# tvflash-fleet --help list.
# Usage: completion_test.sh SOURCE_DIR BUILD_DIR
set -u
source "$1/tools/completion/tvflash.bash" || exit 1
build=$(cd "$2" && pwd) || exit 1
work=$(mktemp -d "${TMPDIR:-/tmp}/tvflash-completion.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir logs && touch os.tvm recipe.txt || exit 1
failures=0

# Completes the last word of line $1 (empty after a trailing blank); the offers, sorted, must be $2.
expect() {
    read -ra COMP_WORDS <<<"$1"
    [[ $1 != *" " ]] || COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    $(complete -p "${COMP_WORDS[0]}" | sed 's/.* -F \([^ ]*\) .*/\1/')
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    [ "$got" = "$2" ] || { echo "FAIL: '$1' offers '$got', expected '$2'"; failures=$((failures + 1)); }
}

expect "tvflash 10.0.0.1 4000 upd" "updatereserve updaterom updatesys"
expect "tvflash 10.0.0.1 4000 ERASES" "erasesys"
expect "tvflash 10.0.0.1 4000 formatdisk o" "os.tvm"
expect "tvflash 10.0.0.1 4000 getconfig " ""
expect "tvflash-sim --pc" "--pcap"
expect "tvflash-sim --write-dir " "logs"
expect "tvflash-sim --pcap " "logs os.tvm recipe.txt"
expect "tvflash-sim --seed " ""
expect "tvflash-fleet " "--help --version check help records run scan serve"
expect "tvflash-fleet records --format " "csv json table"
expect "tvflash-fleet records --db " "logs os.tvm recipe.txt"
expect "tvflash-fleet records r" ""
expect "tvflash-fleet run --answer " "no yes"
expect "tvflash-fleet run -e upd" "updatereserve updaterom updatesys"
expect "tvflash-fleet run --logs " "logs"
expect "tvflash-fleet run -j 4 r" "recipe.txt"
expect "tvflash-fleet check recipe.txt @r" "@recipe.txt"
expect "tvflash-fleet scan " ""
expect "tvflash-fleet serve --db " "logs os.tvm recipe.txt"
expect "tvflash-fleet serve 8" ""

# The option names in a program's --help, sorted.
help_options() {
    "$build/$1" --help | grep -oE '(^|[][ ,])--?[a-z][a-z-]*' | tr -d '[], ' | sort -u | xargs
}
for program in tvflash-sim tvflash-fleet; do
    table=_${program//-/_}_options
    offered=$(_tvflash_option_names "$table" | sort -u | xargs)
    listed=$(help_options "$program")
    [ "$offered" = "$listed" ] ||
        { echo "FAIL: $program: completion offers '$offered', --help lists '$listed'"; failures=$((failures + 1)); }
done

[ "$failures" -eq 0 ] || exit 1
echo "completion offers what it should"
