# Sourced by scripts that serve HTTPS on loopback.
#
#   pki_make DIR   makes, with the openssl command, a CA (DIR/ca.pem) and a
#                  server certificate it signs for IP:127.0.0.1
#                  (DIR/server.pem, key DIR/server.key), both valid two days.
#                  A crawl trusts the CA with SSL_CERT_FILE=DIR/ca.pem
#                  (ferret, wget2 and wget also take --ca-certificate).

pki_make() {
  local dir=$1
  mkdir -p "$dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=ferret bench CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj "/CN=127.0.0.1" -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    >"$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}
