#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ and runs each for a bounded time,
# FUZZ_SECONDS each (default 60), two at a time. A crash, a leak, a hang or a broken
# law fails the run; the input that caused it is kept in build-fuzz/run/artifacts/.
# Extra arguments name the targets to run (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(manifest remotelocation controlchannel signature)
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DUPDATER_WERROR=ON -DUPDATER_FUZZ=ON
cmake --build build-fuzz --target fuzzers

work="$PWD/build-fuzz/run"
rm -rf "$work"
mkdir -p "$work/artifacts"
# Short paths: the control channel's socket lives in TMPDIR, and socket paths are
# limited to about a hundred bytes.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Runs one target; new inputs go to a working corpus, never into the committed seeds.
fuzz_target() {
    local target=$1
    local corpus="$work/corpus/$target"
    local tmp="$scratch/$target"
    mkdir -p "$corpus" "$tmp"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
                   -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-")
    if [ -f "fuzz/$target.dict" ]; then
        options+=(-dict="fuzz/$target.dict")
    fi
    # Each fuzzer holds the updater's instance lock, so each needs a TMPDIR of its own.
    TMPDIR="$tmp" "build-fuzz/fuzz/fuzz-$target" "${options[@]}" \
        "$corpus" "fuzz/corpus/$target" >"$work/$target.log" 2>&1
}

failed=()
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pids=()
    for target in "${targets[@]:i:2}"; do
        fuzz_target "$target" &
        pids+=("$!")
    done
    for j in "${!pids[@]}"; do
        target="${targets[i + j]}"
        if ! wait "${pids[j]}"; then
            failed+=("$target")
            echo "==== fuzz-$target failed, last lines of $work/$target.log:"
            tail -n 60 "$work/$target.log"
        fi
    done
done

printf '%-16s %10s %10s %8s %8s\n' target runs exec/s cov ft
for target in "${targets[@]}"; do
    log="$work/$target.log"
    done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)"
    printf '%-16s %10s %10s %8s %8s\n' "$target" \
        "$(sed -n 's/^stat::number_of_executed_units: //p' "$log")" \
        "$(sed -n 's/^stat::average_exec_per_sec: //p' "$log")" \
        "$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")" \
        "$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")"
done

echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: fuzz targets ${failed[*]}; inputs in $work/artifacts/"
    exit 1
fi
