#!/usr/bin/env bash
# Measures the suite against faults.txt: builds a scratch copy of the project, then for each
# fault (or those named as arguments) applies it, rebuilds, runs the tests and puts the file
# back. A fault the tests pass on is missed; one whose text is no longer in the product is
# stale; one that does not compile is broken.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'bash "$scratch/tests/support/servers.sh" stop "$scratch/build/tests/servers"; rm -rf "$scratch"' EXIT
(cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$scratch")
tests() { ctest --test-dir "$scratch/build" -j2 "$@" >"$scratch/ctest.log" 2>&1; }
cmake -S "$scratch" -B "$scratch/build" -G Ninja -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DUPDATER_TEST_TIMEOUT=120 >/dev/null &&
    cmake --build "$scratch/build" >/dev/null && tests || { cat "$scratch/ctest.log"; echo "the unchanged project fails"; exit 2; }

declare -A count=([caught]=0 [missed]=0 [stale]=0 [broken]=0)
missed=()
while IFS=$'\t' read -r name file find replace; do
    [[ -z "$name" || "$name" == \#* || ($# -gt 0 && " $* " != *" $name "*) ]] && continue
    cp "$scratch/$file" "$scratch/original"
    if ! FIND="$find" REPLACE="$replace" python3 -c '
import os, sys
path, find, replace = sys.argv[1], os.environ["FIND"].replace("{NL}", "\n"), os.environ["REPLACE"].replace("{NL}", "\n")
text = open(path).read()
sys.exit(text.count(find) != 1 or open(path, "w").write(text.replace(find, replace)) < 0)' "$scratch/$file"; then
        outcome=stale
    elif ! cmake --build "$scratch/build" >/dev/null 2>&1; then
        outcome=broken
    elif tests --stop-on-failure; then
        outcome=missed
        missed+=("$name")
    else
        outcome=caught
    fi
    # A fresh time stamp, so that the next build compiles the original again.
    cp "$scratch/original" "$scratch/$file"
    count[$outcome]=$((count[$outcome] + 1))
    printf '%-40s %s\n' "$name" "$outcome"
done <"$root/tests/faults/faults.txt"

echo "faults: ${count[caught]} caught, ${count[missed]} missed, ${count[stale]} stale, ${count[broken]} broken"
[ ${#missed[@]} -eq 0 ] || echo "missed: ${missed[*]}"
[ $((count[missed] + count[stale] + count[broken])) -eq 0 ]
