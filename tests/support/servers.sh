#!/usr/bin/env bash
# The tests' servers, started once for all on loopback ports from outside the tests, as wine can
# neither wait for nor stop a Linux child: nginx serving FOLDER over http, https (a self-signed
# certificate, also for this machine's name, by which tests reach it through a proxy) and "slow"
# http at 400 KiB/s with an access log; tinyproxy, open ("proxy") and with "credentials-proxy".
# As root, it also mounts a volume of 256 KiB for tests that fill a disk ("small-volume").
# "start STATE FOLDER" writes STATE/servers, "NAME PORT" lines and "folder FOLDER"; "stop STATE"
# ends them, as does a start those of a run that was cut short.
set -euo pipefail
state=$2
for pid in "$state"/*.pid; do [ -f "$pid" ] && kill "$(cat "$pid")" 2>/dev/null || true; done
umount "$state/small-volume" 2>/dev/null || true
[ "$1" = stop ] && exit 0
folder=$3
rm -rf "$state"
mkdir -p "$state"
openssl req -x509 -days 2 -out "$state/server.pem" -newkey rsa:2048 -nodes -keyout "$state/server.key" \
    -subj /CN=127.0.0.1 -addext "subjectAltName=IP:127.0.0.1,DNS:$(hostname)" 2>/dev/null
read -r http https slow proxy credentials < <(python3 -c 'import socket; sockets = [socket.socket() for _ in range(5)]
print(*(s.bind(("127.0.0.1", 0)) or s.getsockname()[1] for s in sockets))')
# The configurations in this folder name ports, folders and a proxy's name and credentials as @...@.
configure() {
    sed -e "s|@STATE@|$state|g; s|@FOLDER@|$folder|g; s|@HTTP@|$http|g; s|@HTTPS@|$https|g; s|@SLOW@|$slow|g" \
        -e "s|@NAME@|${2-}|g; s|@PORT@|${3-}|g; s|@CREDENTIALS@|${4-}|g" "$(dirname "$0")/$1" >"$state/${2:-nginx}.conf"
}
configure nginx.conf
configure tinyproxy.conf proxy "$proxy"
configure tinyproxy.conf credentials-proxy "$credentials" "BasicAuth updater secret"
nginx -p "$state/" -c "$state/nginx.conf" -e "$state/error.log"
tinyproxy -c "$state/proxy.conf"
tinyproxy -c "$state/credentials-proxy.conf"
for port in $http $https $slow $proxy $credentials; do
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break || sleep 0.1; done
done
printf 'http %s\nhttps %s\nslow %s\nproxy %s\ncredentials-proxy %s\nfolder %s\n' \
    "$http" "$https" "$slow" "$proxy" "$credentials" "$folder" >"$state/servers"
mkdir "$state/small-volume" && mount -t tmpfs -o size=256k tmpfs "$state/small-volume" 2>/dev/null &&
    echo "small-volume $state/small-volume" >>"$state/servers" || true
