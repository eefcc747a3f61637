#!/usr/bin/env bash
# Runs every fuzz program of a fuzz build (`make fuzz`) for the given seconds, one per processor,
# from its seed corpus in tests/fuzz/corpus/<target>/ and the inputs it found in earlier runs
# (kept in <build>/fuzz-work/). Prints executions, coverage and findings per target; exits 1 when
# any target found an input that breaks it (the input is left in <build>/fuzz-work/<target>/).
set -uo pipefail

build=${1:?usage: fuzz.sh BUILD_DIR SECONDS}
seconds=${2:?usage: fuzz.sh BUILD_DIR SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
seeds=$root/tests/fuzz/corpus
dictionary=$root/tests/fuzz/protocol.dict
work=$build/fuzz-work

# FUZZ_TARGETS, when set, names the targets to run (separated by blanks); all of them otherwise.
if [ -n "${FUZZ_TARGETS:-}" ]; then
    programs=()
    for name in $FUZZ_TARGETS; do
        programs+=("$build/tests/fuzz/fuzz_$name")
    done
else
    programs=("$build"/tests/fuzz/fuzz_*)
fi
if [ ! -e "${programs[0]}" ]; then
    echo "fuzz.sh: no fuzz programs in $build/tests/fuzz" >&2
    exit 2
fi

# As many targets at once as there are processors (FUZZ_JOBS to choose): each runs on one.
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 1)}
trap 'kill $(jobs -p) 2>/dev/null' EXIT

# Runs one target; leaves its exit status in <work>/<target>/status.
fuzz_one() {
    local program=$1 name=$2
    "$program" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
        -dict="$dictionary" -artifact_prefix="$work/$name/artifacts/" \
        "$work/$name/found" "$seeds/$name" >"$work/$name/log.txt" 2>&1
    echo $? >"$work/$name/status"
}

failed=0
started=()
running=0
for program in "${programs[@]}"; do
    name=${program##*/fuzz_}
    if [ ! -x "$program" ]; then
        echo "fuzz.sh: no fuzz target $name" >&2
        failed=1
        continue
    fi
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    mkdir -p "$work/$name/found" "$work/$name/artifacts"
    rm -f "$work/$name/status"
    echo "fuzzing $name for ${seconds} s"
    fuzz_one "$program" "$name" &
    running=$((running + 1))
    started+=("$name")
done
wait

report=()
for name in "${started[@]}"; do
    log=$work/$name/log.txt
    status=$(cat "$work/$name/status" 2>/dev/null || echo "?")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    findings=$(find "$work/$name/artifacts" -type f | wc -l)
    verdict="no finding"
    if [ "$status" != 0 ]; then
        failed=1
        verdict="FINDING (status $status): $(find "$work/$name/artifacts" -type f | tr '\n' ' ')"
        grep -E 'ERROR|property failed|runtime error|SUMMARY' "$log" | head -5
    fi
    report+=("$(printf '%-26s %5s s %11s execs  cov %5s  ft %6s  %s' "$name" "$seconds" \
        "${execs:-?}" "${cov:-?}" "${ft:-?}" "$verdict")")
    [ "$findings" -gt 0 ] && [ "$status" = 0 ] && echo "note: $name has older artifacts"
done

echo
echo "Fuzzing, ${seconds} s per target:"
printf '%s\n' "${report[@]}"
if [ "$failed" -ne 0 ]; then
    echo "fuzz.sh: findings above; each becomes a corpus file and a fix with its test" >&2
fi
exit "$failed"
