#!/usr/bin/env bash
# Measures the suite against faults.txt: copies the project to a scratch folder and builds it
# once, then for each fault (or the ones named as arguments) applies it, rebuilds, runs the
# fast tests and puts the file back. A fault the tests pass on is missed; one whose text is
# no longer in the product is stale; one that does not compile is broken.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
(cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$scratch")
cmake -S "$scratch" -B "$scratch/build" -G Ninja -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DUPDATER_TEST_TIMEOUT=120 >/dev/null &&
    cmake --build "$scratch/build" -j2 >/dev/null || { echo "the unchanged project does not build"; exit 2; }
fast_tests() { ctest --test-dir "$scratch/build" -j2 -LE slow "$@" >"$scratch/ctest.log" 2>&1; }
fast_tests || { cat "$scratch/ctest.log"; echo "the tests fail on the unchanged project"; exit 2; }

declare -A count=()
missed=()
while IFS=$'\t' read -r name file find replace; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    [[ $# -eq 0 || " $* " == *" $name "* ]] || continue
    cp "$scratch/$file" "$scratch/original"
    if ! python3 - "$scratch/$file" "$find" "$replace" <<'EOF'; then
import sys
path, find, replace = sys.argv[1], *(a.replace("{NL}", "\n") for a in sys.argv[2:])
text = open(path).read()
if text.count(find) != 1:
    sys.exit(1)
open(path, "w").write(text.replace(find, replace))
EOF
        outcome=stale
    elif ! cmake --build "$scratch/build" -j2 >"$scratch/build.log" 2>&1; then
        outcome=broken
    elif fast_tests --stop-on-failure; then
        outcome=missed
        missed+=("$name")
    else
        outcome=caught
    fi
    # A fresh time stamp, so that the next build compiles the original again.
    cp "$scratch/original" "$scratch/$file"
    count[$outcome]=$((${count[$outcome]:-0} + 1))
    printf '%-40s %s\n' "$name" "$outcome"
done <"$root/tests/faults/faults.txt"

echo "faults: ${count[caught]:-0} caught, ${#missed[@]} missed, ${count[stale]:-0} stale, ${count[broken]:-0} broken"
[ ${#missed[@]} -eq 0 ] || echo "missed: ${missed[*]}"
[ ${#missed[@]} -eq 0 ] && [ "${count[stale]:-0}" -eq 0 ] && [ "${count[broken]:-0}" -eq 0 ]
