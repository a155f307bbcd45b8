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
  nginx_start "$work" "$nginx_port"
}

nginx_stop() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}

# --- For benchmarks that write their own nginx.conf.
#
#   nginx_exchange_format      a log_format that writes, per request:
#                              connection number, TLS session reused ("r") or
#                              not ("."; "-" without TLS), status, bytes sent
#                              (head and body as nginx wrote them, before TLS),
#                              protocol of the request, ALPN protocol ("-"
#                              when none was agreed), Content-Encoding sent,
#                              request URI, Accept-Encoding asked
#   nginx_start DIR PORT       starts nginx on DIR/nginx.conf (prefix DIR),
#                              waits until PORT accepts, sets nginx_pid
#   nginx_accepts PORT         the TCP connections nginx has accepted so far,
#                              from a stub_status location /status on PORT
#                              (the reading's own connection included)
#   nginx_log_summary LOG      one line of counts from a log of that format:
#                              requests=N ok=N (status 200) bytes=N
#                              connections=N (distinct connection numbers)
#                              handshakes=N (connections whose session was
#                              not resumed) encoded=N (responses with a
#                              Content-Encoding) protocols=A,B alpn=A,B|-
#                              asked=A|B|- (the Accept-Encoding values sent,
#                              blanks dropped)

nginx_exchange_format='$connection $ssl_session_reused $status $bytes_sent $server_protocol $ssl_alpn_protocol "$sent_http_content_encoding" $request_uri "$http_accept_encoding"'

nginx_start() {
  local dir=$1 port=$2 bin _
  bin=$(command -v nginx || echo /usr/sbin/nginx)
  [ -x "$bin" ] || { echo "nginx is not installed (Debian: nginx-light)" >&2; return 1; }
  "$bin" -p "$dir" -c "$dir/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" \
      2>/dev/null && return 0
    sleep 0.1
  done
  echo "nginx did not start on 127.0.0.1:$port" >&2
  cat "$dir/error.log" >&2 2>/dev/null || true
  return 1
}

nginx_accepts() {
  python3 - "$1" <<'PY'
import re, sys, urllib.request
text = urllib.request.urlopen("http://127.0.0.1:%s/status" % sys.argv[1], timeout=5).read().decode()
# "Active connections: 1 \nserver accepts handled requests\n 5 5 9 \n..."
print(re.search(r"requests\s*\n\s*(\d+)", text).group(1))
PY
}

nginx_log_summary() {
  awk '
    { requests++; bytes += $4; connection[$1] = 1
      if ($3 == 200) ok++
      if ($2 == ".") full[$1] = 1
      if ($7 != "\"-\"") encoded++
      protocol[$5] = 1
      if ($6 != "-") alpn[$6] = 1
      accept = $0; sub(/^[^"]*"[^"]*" [^ ]* "/, "", accept); sub(/"$/, "", accept)
      gsub(/ /, "", accept); if (accept != "-") asked[accept] = 1 }
    function count(set,   k, n) { n = 0; for (k in set) n++; return n }
    function list(set, sep,   k, s) { s = ""; for (k in set) s = s (s == "" ? "" : sep) k
                                      return s == "" ? "-" : s }
    END { printf "requests=%d ok=%d bytes=%d connections=%d handshakes=%d encoded=%d protocols=%s alpn=%s asked=%s\n",
                 requests, ok, bytes, count(connection), count(full), encoded, list(protocol, ","),
                 list(alpn, ","), list(asked, "|") }
  ' "$1"
}
