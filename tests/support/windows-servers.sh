#!/usr/bin/env bash
# The Linux programs that the tests of the Windows build need, started from outside wine,
# which cannot wait for or stop a Linux process: nginx serving FOLDER over http and https
# (with a self-signed certificate) on loopback ports. "start STATE FOLDER" writes STATE/servers
# (the two ports and FOLDER); "stop STATE" ends nginx.
set -euo pipefail
state=$2
if [ "$1" = stop ]; then
    [ -f "$state/nginx.pid" ] && kill "$(cat "$state/nginx.pid")" 2>/dev/null || true
    exit 0
fi
folder=$3
rm -rf "$state"
mkdir -p "$state"
openssl req -x509 -days 2 -out "$state/server.pem" -newkey rsa:2048 -nodes -keyout "$state/server.key" \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null

port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
http=$(port)
https=$(port)
cat >"$state/nginx.conf" <<CONF
daemon on; master_process off; pid "$state/nginx.pid"; error_log "$state/error.log";
events { worker_connections 64; }
http {
    access_log off; sendfile on;
    client_body_temp_path "$state/body"; proxy_temp_path "$state/proxy";
    fastcgi_temp_path "$state/fastcgi"; uwsgi_temp_path "$state/uwsgi"; scgi_temp_path "$state/scgi";
    types { application/json json; }
    default_type application/octet-stream;
    server { listen 127.0.0.1:$http; listen 127.0.0.1:$https ssl; root "$folder";
             ssl_certificate "$state/server.pem"; ssl_certificate_key "$state/server.key"; }
}
CONF
nginx -p "$state/" -c "$state/nginx.conf" -e "$state/error.log"
echo "$http $https $folder" >"$state/servers"
