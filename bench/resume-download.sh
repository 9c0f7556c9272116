#!/usr/bin/env bash
# Measures what a resumed package download costs next to a whole one: a 256 MiB package
# over nginx on loopback, fetched by a fresh run, and by a run that finds the first half
# kept by an earlier run that was killed (which re-reads the kept half from disk for
# the digest). Reports the median wall times of both, measured side by side in this
# run, their ratio, and the bytes nginx sent to the resumed run.
#
#   bash bench/resume-download.sh [UPDATER] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
updater=$(realpath "${1:-build/software-updater}")
rounds=${2:-3}
[ -x "$updater" ] || { echo "no updater at $updater; build it with scripts/build.sh" >&2; exit 1; }
for tool in nginx curl md5sum; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done

work=$(mktemp -d)
nginx_pid=
stop_nginx() {
    if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true; fi
    nginx_pid=
}
trap 'stop_nginx; rm -rf "$work"' EXIT

size=$((256 * 1024 * 1024))
mkdir -p "$work/site/pc" "$work/nginx"
head -c "$size" /dev/urandom > "$work/site/pc/package.bin"
printf '{"md5": "%s", "os": "windows", "version": "2.1", "package": "package.bin"}\n' \
    "$(md5sum "$work/site/pc/package.bin" | cut -d' ' -f1)" > "$work/site/pc/updates.json"

# With a rate limit after the first half, a run can be killed with half of the package.
start_nginx() {
    cat > "$work/nginx/nginx.conf" <<CONF
daemon off; master_process off; pid "$work/nginx/nginx.pid"; error_log "$work/nginx/error.log";
events { worker_connections 64; }
http {
    log_format sent "\$status \$body_bytes_sent"; access_log "$work/nginx/access.log" sent;
    client_body_temp_path "$work/nginx/body"; proxy_temp_path "$work/nginx/proxy";
    fastcgi_temp_path "$work/nginx/fastcgi"; uwsgi_temp_path "$work/nginx/uwsgi"; scgi_temp_path "$work/nginx/scgi";
    default_type application/octet-stream; sendfile on;
    server { listen 127.0.0.1:$port; root "$work/site"; $1 }
}
CONF
    nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
    nginx_pid=$!
    for _ in $(seq 100); do
        curl -sf -o /dev/null "http://127.0.0.1:$port/pc/updates.json" && return 0
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.05
    done
    stop_nginx
    return 1
}
for _ in $(seq 20); do
    port=$(shuf -i 20000-60999 -n 1)
    start_nginx "" && break
done
[ -n "$nginx_pid" ] || { echo "nginx did not start:" >&2; cat "$work/nginx/error.log" >&2; exit 1; }
stop_nginx

now() { date +%s.%N; }
run() { TMPDIR="$work/tmp" "$updater" --localPath "$1" --remotePath "http://127.0.0.1:$port" 2>/dev/null; }
# One timed run into local folder $1, which must end with the package in place.
timed_run() {
    local start end
    start=$(now)
    run "$1"
    end=$(now)
    grep -q 'SUCCESS: MD5 hash' "$1/updates/updater.log" || { echo "run failed:" >&2; cat "$1/updates/updater.log" >&2; exit 1; }
    awk "BEGIN { print $end - $start }"
}

: > "$work/fresh.txt"; : > "$work/resumed.txt"
for _ in $(seq "$rounds"); do
    rm -rf "$work/local" "$work/tmp"; mkdir -p "$work/local" "$work/tmp"
    start_nginx "limit_rate_after $((size / 2)); limit_rate 4m;"
    run "$work/local" & killed=$!
    part="$work/local/updates/cache/package.partial"
    while [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -lt $((size / 2)) ]; do sleep 0.05; done
    kill -9 "$killed"; wait "$killed" 2>/dev/null || true
    kept=$(stat -c %s "$part")
    stop_nginx
    start_nginx ""
    timed_run "$work/local" >> "$work/resumed.txt"
    sent=$(tail -n 1 "$work/nginx/access.log")
    rm -rf "$work/fresh"; mkdir -p "$work/fresh"
    timed_run "$work/fresh" >> "$work/fresh.txt"
    stop_nginx
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
f=$(median < "$work/fresh.txt"); r=$(median < "$work/resumed.txt")
echo "package: $size bytes; kept by the killed run: $kept bytes; nginx to the resumed run: $sent"
awk -v f="$f" -v r="$r" 'BEGIN { printf "fresh_s %.3f  resumed_s %.3f  ratio %.2f\n", f, r, r / f }'
