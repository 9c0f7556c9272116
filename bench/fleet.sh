#!/usr/bin/env bash
# Simulates a fleet of installs, each with a local folder (and temporary folder) of its
# own, running the updater against nginx on loopback, and reports:
#   - the share of the fleet that takes a release at rollout 1, 10 and 50 percent, with
#     its 95 % (Wilson) binomial interval, and whether any install that took it at a
#     smaller rollout leaves when the rollout grows;
#   - for a server that answers every request with 503 and Retry-After, the requests
#     the fleet sends in that run and in the two runs that follow (none is due);
#   - the cost of a run that finds nothing new: requests, bytes and wall time per install.
#
#   bash bench/fleet.sh [UPDATER] [INSTALLS]
#
# UPDATER defaults to build/software-updater, INSTALLS to 1000. Runs go two at a time,
# each bounded to 30 seconds; everything lives in a temporary folder that goes at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
updater=$(realpath "${1:-build/software-updater}")
installs=${2:-1000}
[ -x "$updater" ] || { echo "no updater at $updater; build it with scripts/build.sh" >&2; exit 1; }
for tool in nginx python3 md5sum xargs timeout; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done

work=$(mktemp -d)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/site/release/pc" "$work/nginx"
head -c 4096 /dev/urandom > "$work/site/release/pc/app.zip"
md5=$(md5sum "$work/site/release/pc/app.zip" | cut -d' ' -f1)
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
pid "$work/nginx/nginx.pid";
error_log "$work/nginx/error.log";
events { worker_connections 256; }
http {
    log_format fleet "\$uri \$status \$bytes_sent";
    access_log "$work/nginx/access.log" fleet;
    client_body_temp_path "$work/nginx/body";
    proxy_temp_path "$work/nginx/proxy";
    fastcgi_temp_path "$work/nginx/fastcgi";
    uwsgi_temp_path "$work/nginx/uwsgi";
    scgi_temp_path "$work/nginx/scgi";
    types { application/json json; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root "$work/site";
        location /busy/ { add_header Retry-After 3600 always; return 503; }
    }
}
CONF
nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break || sleep 0.1; done

for i in $(seq "$installs"); do mkdir -p "$work/fleet/$i/local" "$work/fleet/$i/tmp"; done

# One run of every install against the given remote path, two at a time.
run_fleet() {
    seq "$installs" | REMOTE="$1" UPDATER="$updater" WORK="$work" xargs -P 2 -I{} sh -c \
        'TMPDIR="$WORK/fleet/{}/tmp" timeout 30 "$UPDATER" --localPath "$WORK/fleet/{}/local" --remotePath "$REMOTE" || true'
}
# The installs that hold the release, one number a line; then whatever installs it takes it out.
holders() {
    for i in $(seq "$installs"); do [ -f "$work/fleet/$i/local/updates/available/app.zip" ] && echo "$i"; done
    rm -f "$work"/fleet/*/local/updates/available/app.zip
}
# A manifest for VERSION of the package, with more keys if given.
publish() {
    printf '{"md5": "%s", "os": "windows", "version": "%s", "package": "app.zip"%s}\n' "$md5" "$1" "${2-}" \
        > "$work/site/release/pc/updates.json"
}
requests() { wc -l < "$work/nginx/access.log"; }

echo "fleet of $installs installs against nginx on 127.0.0.1:$port"
echo
echo "rollout  took  share    95 % interval     none left"
previous=/dev/null
for rollout in 1 10 50; do
    publish 2.1 ", \"rollout\": $rollout"
    run_fleet "http://127.0.0.1:$port/release"
    holders > "$work/took-$rollout"
    left=$(comm -23 <(sort "$previous") <(sort "$work/took-$rollout") | wc -l)
    python3 - "$rollout" "$(wc -l < "$work/took-$rollout")" "$installs" "$left" <<'PY'
import math, sys
rollout, took, n, left = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
p, z = took / n, 1.96
centre = (p + z * z / (2 * n)) / (1 + z * z / n)
half = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / (1 + z * z / n)
print(f"{rollout:>5} %  {took:>4}  {100 * p:5.1f} %  [{100 * (centre - half):4.1f}, {100 * (centre + half):4.1f}] %"
      f"   {'yes' if left == 0 else f'no: {left} left'}")
PY
    previous=$work/took-$rollout
done

echo
echo "server answering 503 with Retry-After: 3600 to everyone"
for round in 1 2 3; do
    before=$(requests)
    run_fleet "http://127.0.0.1:$port/busy"
    echo "  run $round: $(( $(requests) - before )) requests"
done

echo
publish 2.0.1
before=$(requests)
bytes_before=$(awk '{ s += $3 } END { print s + 0 }' "$work/nginx/access.log")
start=$(date +%s.%N)
run_fleet "http://127.0.0.1:$port/release"
end=$(date +%s.%N)
count=$(( $(requests) - before ))
bytes=$(( $(awk '{ s += $3 } END { print s + 0 }' "$work/nginx/access.log") - bytes_before ))
python3 - "$installs" "$count" "$bytes" "$start" "$end" <<'PY'
import sys
n, count, sent, start, end = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
print(f"nothing new: {count / n:.2f} requests, {sent / n:.0f} bytes sent by the server (headers included) "
      f"and {1000 * (end - start) * 2 / n:.0f} ms of wall time per install (two runs at a time, {end - start:.1f} s in all)")
PY
