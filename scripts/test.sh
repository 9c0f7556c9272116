#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DUPDATER_WERROR=ON
ctest --test-dir build --output-on-failure -j2
# The same suite again with AddressSanitizer and UndefinedBehaviorSanitizer, then
# every fuzz target for a bounded time, then the Windows build under wine.
bash scripts/sanitize.sh
bash scripts/fuzz.sh
bash scripts/test-windows.sh
