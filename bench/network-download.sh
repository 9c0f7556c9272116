#!/usr/bin/env bash
# Measures whole updater runs against nginx on loopback, over http and https, for a
# 256 MiB and a 1 GiB package pinned in the manifest with its MD5, SHA-256 and size:
# wall time against `curl -o FILE URL && sync -d FILE` of the same package (the
# download made durable, the least this job can cost), measured side by side in this
# run; the processor time of a run against that of `curl -o` plus `md5sum` plus
# `sha256sum` of the same file; and the updater's peak resident memory. A row
# "resumed" runs over http with the first half of the package kept by an earlier
# run, against the same whole `curl -o`. Then the 1 GiB run over http again with
# only "md5" in the manifest, side by side with the pinned one (the second digest
# must cost at most 10 %).
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
for tool in nginx curl md5sum sha256sum openssl unshare truncate /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done

work=$(mktemp -d)
nginx_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

manifest() { # md5 sha256-or-empty size-or-empty
    printf '{"md5": "%s", %s"os": "windows", "version": "2.1", "package": "package.bin"}\n' \
        "$1" "${2:+\"sha256\": \"$2\", \"size\": $3, }"
}
declare -A reference_cpu md5s sha256s
for size in "${sizes[@]}"; do
    mkdir -p "$work/site/r$size/pc"
    package="$work/site/r$size/pc/package.bin"
    head -c "$((size * 1024 * 1024))" /dev/urandom > "$package"
    # What checking the file's digests costs the standard tools, once the file is cached.
    /usr/bin/time -f '%U %S' -o "$work/md5.txt" md5sum "$package" > "$work/md5sum.txt"
    /usr/bin/time -f '%U %S' -o "$work/sha.txt" sha256sum "$package" > "$work/sha256sum.txt"
    md5=$(cut -d' ' -f1 "$work/md5sum.txt"); sha256=$(cut -d' ' -f1 "$work/sha256sum.txt")
    md5s[$size]=$md5; sha256s[$size]=$sha256
    reference_cpu[$size]=$(awk '{ cpu += $1 + $2 } END { print cpu }' "$work/md5.txt" "$work/sha.txt")
    manifest "$md5" "$sha256" "$((size * 1024 * 1024))" > "$work/site/r$size/pc/updates.json"
done

# The same 1 GiB package with only its MD5 in the manifest.
if [ -d "$work/site/r1024" ]; then
    mkdir -p "$work/site/r1024-md5/pc"
    ln "$work/site/r1024/pc/package.bin" "$work/site/r1024-md5/pc/package.bin"
    manifest "$(md5sum "$work/site/r1024/pc/package.bin" | cut -d' ' -f1)" > "$work/site/r1024-md5/pc/updates.json"
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
# "seconds peak-kB cpu-seconds" (user and system time of all its threads). With a
# third argument, the folder starts with the first half of the package kept, as a
# run cut off in the middle leaves it.
run_updater() {
    local scheme=$1 size=$2 local_folder="$work/local" start end
    rm -rf "$local_folder" "$work/tmp"
    mkdir -p "$local_folder" "$work/tmp"
    [ -n "${3:-}" ] && keep_half "$size" "$local_folder"
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
    if [ -n "${3:-}" ] && ! grep -q "Resuming at $(( size * 1024 * 512 )) bytes" "$local_folder/updates/updater.log"; then
        echo "the run did not resume the kept half:" >&2; cat "$local_folder/updates/updater.log" >&2; exit 1
    fi
    echo "$(awk "BEGIN { print $end - $start }") $(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")" \
        "$(awk -F': ' '/(User|System) time/ { cpu += $2 } END { print cpu }' "$work/time.txt")"
}

# Leaves in local folder $2 the first half of the package of r$1 and the record that
# names it, as a run cut off there over http leaves them.
keep_half() {
    local size=$1 cache="$2/updates/cache" url etag
    url="$(base_url http)/r$size/pc/package.bin"
    etag=$(curl -sI "$url" | tr -d '\r' | awk -F': ' 'tolower($1) == "etag" { print $2 }')
    mkdir -p "$cache"
    head -c "$(( size * 1024 * 512 ))" "$work/site/r$size/pc/package.bin" > "$cache/package.partial"
    printf '{"url": "%s", "md5": "%s", "sha256": "%s", "size": %d, "validator": "%s"}\n' \
        "$url" "${md5s[$size]}" "${sha256s[$size]}" "$(( size * 1024 * 1024 ))" "${etag//\"/\\\"}" \
        > "$cache/package.partial.json"
}

# curl of the same package, made durable; prints "seconds cpu-seconds" (curl's own).
run_curl() {
    local scheme=$1 size=$2 start end
    rm -f "$work/curl.bin"
    sync
    start=$(now)
    /usr/bin/time -f '%U %S' -o "$work/curltime.txt" \
        curl -s --cacert "$work/tls/ca.pem" -o "$work/curl.bin" "$(base_url "$scheme")/r$size/pc/package.bin" \
        && sync -d "$work/curl.bin"
    end=$(now)
    echo "$(awk "BEGIN { print $end - $start }") $(awk '{ print $1 + $2 }' "$work/curltime.txt")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-8s %-8s %10s %12s %6s %14s %12s %13s\n' \
    scheme size updater_s curl_sync_s ratio updater_cpu_s curl_md5_sha_cpu_s peak_rss_MiB
# One row: $1 the label, $2 the scheme, $3 the size, $4 non-empty for a kept half.
row() {
    run_curl "$2" "$3" >/dev/null   # brings the package into the page cache for both
    : > "$work/u.txt"; : > "$work/c.txt"; : > "$work/m.txt"; : > "$work/uc.txt"; : > "$work/cc.txt"
    for _ in $(seq "$rounds"); do
        run_updater "$2" "$3" "${4:-}" > "$work/one.txt"
        read -r seconds peak cpu < "$work/one.txt"
        echo "$seconds" >> "$work/u.txt"; echo "$peak" >> "$work/m.txt"; echo "$cpu" >> "$work/uc.txt"
        run_curl "$2" "$3" > "$work/one.txt"
        read -r seconds cpu < "$work/one.txt"
        echo "$seconds" >> "$work/c.txt"; echo "$cpu" >> "$work/cc.txt"
    done
    awk -v p="$1" -v s="${3}MiB" -v u="$(median < "$work/u.txt")" -v c="$(median < "$work/c.txt")" \
        -v uc="$(median < "$work/uc.txt")" -v cc="$(median < "$work/cc.txt")" -v r="${reference_cpu[$3]}" \
        -v m="$(sort -g "$work/m.txt" | tail -1)" \
        'BEGIN { printf "%-8s %-8s %10.3f %12.3f %6.2f %14.2f %12.2f %13.1f\n", p, s, u, c, u / c, uc, cc + r, m / 1024 }'
}
for size in "${sizes[@]}"; do
    row http "http" "$size"
    row https "https" "$size"
    row resumed "http" "$size" half
done

[ -d "$work/site/r1024-md5" ] || exit 0
# Wall time is what counts; the processor time shows what the second digest costs on
# a thread of its own, which a busy machine cannot hide.
printf '\n%-10s %11s %13s %8s %11s %13s\n' size md5_only_s md5_sha256_s ratio md5_cpu_s sha256_cpu_s
: > "$work/u.txt"; : > "$work/s.txt"; : > "$work/uc.txt"; : > "$work/sc.txt"
for _ in $(seq "$rounds"); do
    run_updater http 1024-md5 > "$work/one.txt"
    cut -d' ' -f1 "$work/one.txt" >> "$work/u.txt"; cut -d' ' -f3 "$work/one.txt" >> "$work/uc.txt"
    run_updater http 1024 > "$work/one.txt"
    cut -d' ' -f1 "$work/one.txt" >> "$work/s.txt"; cut -d' ' -f3 "$work/one.txt" >> "$work/sc.txt"
    grep -q 'SUCCESS: SHA-256 hash' "$work/local/updates/updater.log" \
        || { echo "the pinned run verified no SHA-256" >&2; exit 1; }
done
awk -v u="$(median < "$work/u.txt")" -v s="$(median < "$work/s.txt")" \
    -v uc="$(median < "$work/uc.txt")" -v sc="$(median < "$work/sc.txt")" \
    'BEGIN { printf "%-10s %11.3f %13.3f %8.2f %11.2f %13.2f\n", "1024MiB", u, s, s / u, uc, sc }'
