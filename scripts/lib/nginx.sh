# Sourced by scripts that serve a directory with nginx on loopback.
#
#   nginx_serve ROOT WORKDIR   starts nginx for ROOT on a free 127.0.0.1 port
#                              (files under WORKDIR/nginx), waits until it
#                              accepts, and sets nginx_port, nginx_pid and
#                              nginx_log (its access log)
#   nginx_stop                 stops it (safe to call twice, or never started)
#
# nginx_extra, when set, is added to the http block as it is (for example
# "gzip on; keepalive_requests 3;").

nginx_pid=""
nginx_port=""
# What is served here is on loopback, which no proxy set for the web could
# reach: ferret, wget and wget2 all go to it directly.
export no_proxy="127.0.0.1${no_proxy:+,$no_proxy}"

nginx_free_port() {
  python3 -c '
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

nginx_serve() {
  local root=$1 work=$2/nginx-$RANDOM user_line="" bin
  bin=$(command -v nginx || echo /usr/sbin/nginx)
  [ -x "$bin" ] || { echo "nginx is not installed (Debian: nginx-light)" >&2; return 1; }
  nginx_port=$(nginx_free_port)
  nginx_log=$work/access.log
  [ "$(id -u)" = 0 ] && user_line="user root;"
  mkdir -p "$work"
  cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
$user_line
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  access_log $work/access.log;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  include /etc/nginx/mime.types;
  root $root;
  index index.html;
  ${nginx_extra:-}
  server { listen 127.0.0.1:$nginx_port backlog=512; }
}
CONF
  "$bin" -p "$work" -c "$work/nginx.conf" &
  nginx_pid=$!
  local _
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $nginx_port), 0.2)" \
      2>/dev/null && return 0
    sleep 0.1
  done
  echo "nginx did not start on 127.0.0.1:$nginx_port" >&2
  return 1
}

nginx_stop() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}
