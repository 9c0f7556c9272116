#!/usr/bin/env bash
# Installs what building, demonstrating and testing the updater needs on Debian 12.
set -euo pipefail
packages=(cmake ninja-build g++ qtbase5-dev libssl-dev minisign nginx-light tinyproxy openssl ca-certificates curl time strace
          clang libclang-rt-14-dev llvm lld python3)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
