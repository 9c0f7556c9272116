#!/usr/bin/env bash
# Measures whole updater runs against nginx on loopback, over http and https, for a
# 256 MiB and a 1 GiB package: wall time against `curl -o FILE URL && sync -d FILE`
# of the same package (the download made durable, the least this job can cost),
# measured side by side in this run, and the updater's peak resident memory; then the
# 1 GiB run over http again with "sha256" and "size" in the manifest, side by side with
# the run without them (the second digest must cost at most 10 %).
#
#   bash bench/network-download.sh [UPDATER] [ROUNDS]
#
# UPDATER defaults to build/software-updater; ROUNDS (default 3) runs of each tool
# per row, interleaved, of which the median is reported. SIZES="256" (MiB) limits
# the sizes. The https rows run the updater in a mount namespace of its own in which
# /etc/ssl/certs holds only the benchmark's certificate authority (root needed).
set -euo pipefail
cd "$(dirname "$0")/.."
updater=$(realpath "${1:-build/software-updater}")
rounds=${2:-3}
read -r -a sizes <<< "${SIZES:-256 1024}"   # MiB
[ -x "$updater" ] || { echo "no updater at $updater; build it with scripts/build.sh" >&2; exit 1; }
for tool in nginx curl md5sum sha256sum openssl unshare /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done

work=$(mktemp -d)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

for size in "${sizes[@]}"; do
    mkdir -p "$work/site/r$size/pc"
    head -c "$((size * 1024 * 1024))" /dev/urandom > "$work/site/r$size/pc/package.bin"
    md5=$(md5sum "$work/site/r$size/pc/package.bin" | cut -d' ' -f1)
    printf '{"md5": "%s", "os": "windows", "version": "2.1", "package": "package.bin"}\n' "$md5" \
        > "$work/site/r$size/pc/updates.json"
done

# The same 1 GiB package, pinned with its SHA-256 and size.
if [ -d "$work/site/r1024" ]; then
    mkdir -p "$work/site/r1024-sha256/pc"
    ln "$work/site/r1024/pc/package.bin" "$work/site/r1024-sha256/pc/package.bin"
    md5=$(md5sum "$work/site/r1024/pc/package.bin" | cut -d' ' -f1)
    sha256=$(sha256sum "$work/site/r1024/pc/package.bin" | cut -d' ' -f1)
    printf '{"md5": "%s", "sha256": "%s", "size": %d, "os": "windows", "version": "2.1", "package": "package.bin"}\n' \
        "$md5" "$sha256" "$((1024 * 1024 * 1024))" > "$work/site/r1024-sha256/pc/updates.json"
fi

# A certificate authority of the benchmark's own, and a server certificate it signed.
mkdir -p "$work/tls/certs"
(
    cd "$work/tls"
    openssl req -x509 -days 2 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=Bench-CA
    openssl req -out server.csr -newkey rsa:2048 -nodes -keyout server.key -subj /CN=127.0.0.1 \
        -addext subjectAltName=IP:127.0.0.1
    openssl x509 -req -days 2 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
        -copy_extensions copy -out server.pem
    cp ca.pem certs/ && openssl rehash certs
) >/dev/null 2>&1

mkdir -p "$work/nginx"
write_config() {
    cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
pid "$work/nginx/nginx.pid";
error_log "$work/nginx/error.log";
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path "$work/nginx/body";
    proxy_temp_path "$work/nginx/proxy";
    fastcgi_temp_path "$work/nginx/fastcgi";
    uwsgi_temp_path "$work/nginx/uwsgi";
    scgi_temp_path "$work/nginx/scgi";
    types { application/json json; }
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:$port;
        listen 127.0.0.1:$((port + 1)) ssl;
        ssl_certificate "$work/tls/server.pem";
        ssl_certificate_key "$work/tls/server.key";
        root "$work/site";
    }
}
CONF
}
# A port picked at random can be taken; then nginx exits and another is tried.
for _ in $(seq 20); do
    port=$(shuf -i 20000-60999 -n 1)
    write_config
    nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
    nginx_pid=$!
    for _ in $(seq 100); do
        kill -0 "$nginx_pid" 2>/dev/null || break
        curl -sf --cacert "$work/tls/ca.pem" -o /dev/null "https://127.0.0.1:$((port + 1))/r${sizes[0]}/pc/updates.json" \
            && break 2
        sleep 0.05
    done
    kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
done
[ -n "$nginx_pid" ] || { echo "nginx did not start:" >&2; cat "$work/nginx/error.log" >&2; exit 1; }

now() { date +%s.%N; }
base_url() { [ "$1" = https ] && echo "https://127.0.0.1:$((port + 1))" || echo "http://127.0.0.1:$port"; }

# One updater run into a fresh local folder from the remote folder r$2; prints
# "seconds peak-kB cpu-seconds" (user and system time of all its threads).
run_updater() {
    local scheme=$1 size=$2 local_folder="$work/local" start end
    rm -rf "$local_folder" "$work/tmp"
    mkdir -p "$local_folder" "$work/tmp"
    local command=("$updater" --localPath "$local_folder" --remotePath "$(base_url "$scheme")/r$size")
    if [ "$scheme" = https ]; then
        command=(unshare -m sh -c 'mount --bind "$0" /etc/ssl/certs && exec "$@"' "$work/tls/certs" "${command[@]}")
    fi
    sync
    start=$(now)
    TMPDIR="$work/tmp" /usr/bin/time -v -o "$work/time.txt" "${command[@]}" 2>/dev/null
    end=$(now)
    grep -q 'SUCCESS: MD5 hash' "$local_folder/updates/updater.log" \
        || { echo "updater run failed:" >&2; cat "$local_folder/updates/updater.log" >&2; exit 1; }
    echo "$(awk "BEGIN { print $end - $start }") $(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")" \
        "$(awk -F': ' '/(User|System) time/ { cpu += $2 } END { print cpu }' "$work/time.txt")"
}

# curl of the same package, made durable; prints seconds.
run_curl() {
    local scheme=$1 size=$2 start end
    rm -f "$work/curl.bin"
    sync
    start=$(now)
    curl -s --cacert "$work/tls/ca.pem" -o "$work/curl.bin" "$(base_url "$scheme")/r$size/pc/package.bin" \
        && sync -d "$work/curl.bin"
    end=$(now)
    awk "BEGIN { print $end - $start }"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-6s %-8s %12s %12s %8s %14s\n' scheme size updater_s curl_sync_s ratio peak_rss_MiB
for size in "${sizes[@]}"; do
    for scheme in http https; do
        run_curl "$scheme" "$size" >/dev/null   # brings the package into the page cache for both
        : > "$work/u.txt"; : > "$work/c.txt"; : > "$work/m.txt"
        for _ in $(seq "$rounds"); do
            run_updater "$scheme" "$size" > "$work/one.txt"
            read -r seconds peak _ < "$work/one.txt"
            echo "$seconds" >> "$work/u.txt"; echo "$peak" >> "$work/m.txt"
            run_curl "$scheme" "$size" >> "$work/c.txt"
        done
        u=$(median < "$work/u.txt"); c=$(median < "$work/c.txt"); m=$(sort -g "$work/m.txt" | tail -1)
        awk -v p="$scheme" -v s="${size}MiB" -v u="$u" -v c="$c" -v m="$m" \
            'BEGIN { printf "%-6s %-8s %12.3f %12.3f %8.2f %14.1f\n", p, s, u, c, u / c, m / 1024 }'
    done
done

[ -d "$work/site/r1024-sha256" ] || exit 0
# Wall time is what counts; the processor time shows what the second digest costs on
# a thread of its own, which a busy machine cannot hide.
printf '\n%-10s %11s %13s %8s %11s %13s\n' size md5_only_s md5_sha256_s ratio md5_cpu_s sha256_cpu_s
: > "$work/u.txt"; : > "$work/s.txt"; : > "$work/uc.txt"; : > "$work/sc.txt"
for _ in $(seq "$rounds"); do
    run_updater http 1024 > "$work/one.txt"
    cut -d' ' -f1 "$work/one.txt" >> "$work/u.txt"; cut -d' ' -f3 "$work/one.txt" >> "$work/uc.txt"
    run_updater http 1024-sha256 > "$work/one.txt"
    cut -d' ' -f1 "$work/one.txt" >> "$work/s.txt"; cut -d' ' -f3 "$work/one.txt" >> "$work/sc.txt"
    grep -q 'SUCCESS: SHA-256 hash' "$work/local/updates/updater.log" \
        || { echo "the pinned run verified no SHA-256" >&2; exit 1; }
done
awk -v u="$(median < "$work/u.txt")" -v s="$(median < "$work/s.txt")" \
    -v uc="$(median < "$work/uc.txt")" -v sc="$(median < "$work/sc.txt")" \
    'BEGIN { printf "%-10s %11.3f %13.3f %8.2f %11.2f %13.2f\n", "1024MiB", u, s, s / u, uc, sc }'
