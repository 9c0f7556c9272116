#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ (with clang++, so that its warnings are errors as well) and runs
# the whole test suite there. Any sanitizer report fails the run, also one from an
# updater process that a test started and whose exit code it did not look at.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sanitize -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DUPDATER_WERROR=ON -DUPDATER_SANITIZE=ON "$@"
cmake --build build-sanitize

reports="$PWD/build-sanitize/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# OpenSSL is built without frame pointers: only the slow unwinder sees past it to the
# Qt Network frames that the leak suppressions name.
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:log_path=$reports/report"
export UBSAN_OPTIONS="print_stacktrace=1:log_path=$reports/report"
# A matched suppression is no finding: LeakSanitizer would still write its table of
# suppressions used into a report file of its own.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0"

status=0
ctest --test-dir build-sanitize --output-on-failure -j2 || status=$?
if compgen -G "$reports/*" >/dev/null; then
    for report in "$reports"/*; do
        echo "==== sanitizer report $report"
        cat "$report"
    done
    echo "FAILED: sanitizer reports in $reports"
    exit 1
fi
exit "$status"
