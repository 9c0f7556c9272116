#!/usr/bin/env bash
# The servers of the tests, started once for all of them on loopback ports, from outside
# the test processes, since wine can neither wait for nor stop a Linux child: nginx serving
# FOLDER over http, https (a self-signed certificate, valid also for this machine's name, by
# which tests reach it through a proxy) and "slow" http at 400 KiB/s with an access log;
# tinyproxy as a forward proxy, open ("proxy") and wanting credentials ("credentials-proxy").
# "start STATE FOLDER" writes STATE/servers, a line "NAME PORT" each and "folder FOLDER";
# "stop STATE" ends them.
set -euo pipefail
state=$2
if [ "$1" = stop ]; then
    for pid in "$state"/*.pid; do kill "$(cat "$pid")" 2>/dev/null || true; done
    exit 0
fi
folder=$3
rm -rf "$state"
mkdir -p "$state"
openssl req -x509 -days 2 -out "$state/server.pem" -newkey rsa:2048 -nodes -keyout "$state/server.key" \
    -subj /CN=127.0.0.1 -addext "subjectAltName=IP:127.0.0.1,DNS:$(hostname)" 2>/dev/null
read -r http https slow proxy credentials < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(5)]
for s in sockets: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in sockets))')
cat >"$state/nginx.conf" <<CONF
daemon on; master_process off; pid "$state/nginx.pid"; error_log "$state/error.log";
events { worker_connections 256; }
http {
    log_format transfer "\$uri \$status \$body_bytes_sent"; access_log off; sendfile on;
    client_body_temp_path "$state/body"; proxy_temp_path "$state/proxy";
    fastcgi_temp_path "$state/fastcgi"; uwsgi_temp_path "$state/uwsgi"; scgi_temp_path "$state/scgi";
    types { application/json json; }
    default_type application/octet-stream;
    server { listen 127.0.0.1:$http; listen 127.0.0.1:$https ssl; root "$folder";
             ssl_certificate "$state/server.pem"; ssl_certificate_key "$state/server.key"; }
    server { listen 127.0.0.1:$slow; root "$folder"; limit_rate 400k; access_log "$state/access.log" transfer; }
}
CONF
nginx -p "$state/" -c "$state/nginx.conf" -e "$state/error.log"
for name in proxy credentials-proxy; do
    port=$proxy
    [ $name = proxy ] || port=$credentials
    printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\nLogLevel Connect\nLogFile "%s"\nPidFile "%s"\n%s\n' \
        "$port" "$state/$name.log" "$state/$name.pid" "$([ $name = proxy ] || echo 'BasicAuth updater secret')" >"$state/$name.conf"
    tinyproxy -c "$state/$name.conf"
done
for port in $http $https $slow $proxy $credentials; do
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break || sleep 0.1; done
done
printf 'http %s\nhttps %s\nslow %s\nproxy %s\ncredentials-proxy %s\nfolder %s\n' \
    "$http" "$https" "$slow" "$proxy" "$credentials" "$folder" >"$state/servers"
