#!/usr/bin/env bash
# Builds the updater, publishes a small sample remote (a package and its manifest in
# a folder) with the publishing tool, runs one update against it through a file URL and shows what it left.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

demo=$(mktemp -d /tmp/software-updater-demo.XXXXXX)
mkdir -p "$demo/remote/pc" "$demo/local" "$demo/tmp"
head -c 1048576 /dev/urandom > "$demo/orvella-2.1.zip"
build/software-updater-publish --remote "$demo/remote" --package "$demo/orvella-2.1.zip" \
    --version 2.1 --os-version 7+
echo "== remote: $demo/remote/pc"
ls -l "$demo/remote/pc"
cat "$demo/remote/pc/updates.json"
echo "== running: build/software-updater --localPath $demo/local --remotePath file://$demo/remote"
status=0
TMPDIR="$demo/tmp" build/software-updater --localPath "$demo/local" --remotePath "file://$demo/remote" || status=$?
echo "== exit code: $status"
echo "== $demo/local/updates/updater.log"
cat "$demo/local/updates/updater.log"
echo "== available folder"
ls -l "$demo/local/updates/available"
