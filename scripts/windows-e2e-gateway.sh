# The Windows programs through a serial-over-IP gateway under Wine: ser2net
# (RFC 2217) on 127.0.0.1 in front of the pty that COM8 leads to, Winsock,
# libtelnet and (where the build has it) OpenSSL in the programs. Nothing
# opens COM8 meanwhile. Sourced by scripts/windows-e2e.sh, whose helpers
# (fail, kvtool, start_sim, stop_sim, image_of, ...) it uses.

# gateway_start: ser2net on a free port of 127.0.0.1 ($gateway_port,
# $gateway_url), ready for a connection.
gateway_start() {
  gateway_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  gateway_url=rfc2217://127.0.0.1:$gateway_port
  printf 'connection: &gw\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,2400n81,local\n' \
    "$gateway_port" "$(readlink -f "$tmp/com8")" >"$tmp/ser2net.yaml"
  ser2net -n -u -c "$tmp/ser2net.yaml" -P "$tmp/ser2net.pid" >"$tmp/ser2net.log" 2>&1 &
  gateway_pid=$!
  pids+=("$gateway_pid")
  listening "$gateway_port" || fail "ser2net does not listen on 127.0.0.1:$gateway_port"
}
gateway_stop() {
  kill "$gateway_pid" 2>/dev/null || true
  wait "$gateway_pid" 2>/dev/null || true
}
# listening PORT: something accepts on 127.0.0.1:PORT within 5 s.
listening() {
  for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
# gateway_named URL: the register names URL as a visit's port (in the list,
# or in the newest controller's visits).
gateway_named() {
  kvtool register list | tr -d '\r' | grep -qF "$1" ||
    kvtool register show "$(kvtool register list | tr -d '\r' | awk -F'\t' 'NR==1{print $1}')" | tr -d '\r' | grep -qF "$1"
}

# gateway_kvtool: kvtool.exe downloads through ser2net; the image is the
# controller's and the register names the gateway's port.
gateway_kvtool() {
  gateway_start
  start_sim
  kvtool download --port "$gateway_url" -o g.kvd --quiet >"$tmp/gateway.log" 2>&1 ||
    fail "kvtool.exe download through ser2net failed: $(cat "$tmp/gateway.log")"
  stop_sim
  gateway_stop
  cmp <(image_of "$tmp/g.kvd") "$tmp/dump.bin" || fail "the image downloaded through the gateway differs from the controller's"
  gateway_named "$gateway_url" || fail "the register does not name the gateway's port"
  echo "kvtool.exe download through ser2net ($gateway_url): OK"
}

# make_ca NAME: a throw-away CA ($tmp/NAME.pem) and, signed by it, a
# certificate for 127.0.0.1 with its key in one file ($tmp/NAME-server.pem),
# as socat's openssl-listen takes it.
make_ca() {
  local f=$tmp/$1 key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${key[@]}" -keyout "$f.key" -out "$f.pem" -days 2 -subj "/CN=$1" 2>/dev/null &&
    openssl req "${key[@]}" -keyout "$f-srv.key" -out "$f.csr" -subj /CN=localhost 2>/dev/null &&
    openssl x509 -req -in "$f.csr" -CA "$f.pem" -CAkey "$f.key" -CAcreateserial -days 2 \
      -extfile <(echo 'subjectAltName=IP:127.0.0.1,DNS:localhost') -out "$f-srv.crt" 2>/dev/null &&
    cat "$f-srv.crt" "$f-srv.key" >"$f-server.pem" || fail "openssl made no CA $1"
}

# gateway_tls: kvtool.exe downloads over rfc2217+tls:// from socat's TLS in
# front of ser2net, whose certificate a throw-away CA signed: with that CA's
# file it connects and gets the controller's image; with another CA's file,
# or none (the throw-away CA is in no system store), it is refused (exit 3)
# in the handshake, and writes nothing. A build without TLS must say so
# instead.
gateway_tls() {
  local tls_port url said rc
  tls_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  url=rfc2217+tls://127.0.0.1:$tls_port
  if ! x86_64-w64-mingw32-objdump -p "$bin/kvtool.exe" | grep -i 'DLL Name: libssl-3-x64.dll' >/dev/null; then
    said=$(kvtool download --port "$url" -o t.kvd --quiet --lang en 2>&1) && fail "rfc2217+tls:// went through in a build without TLS"
    [[ $said == *"lacks TLS"* ]] || fail "a build without TLS: rfc2217+tls:// said: $said"
    echo "kvtool.exe over rfc2217+tls://: this build lacks TLS and says so: OK"
    return
  fi
  make_ca ca
  make_ca other
  gateway_start
  socat "openssl-listen:$tls_port,bind=127.0.0.1,reuseaddr,fork,verify=0,cert=$tmp/ca-server.pem" \
    "tcp:127.0.0.1:$gateway_port" >"$tmp/tls-front.log" 2>&1 &
  local front=$!
  pids+=("$front")
  listening "$tls_port" || fail "socat's TLS front does not listen on 127.0.0.1:$tls_port"
  start_sim
  for ca in other none; do
    local args=(--ca-file "$(winpath "$tmp/$ca.pem")")
    [ "$ca" = none ] && args=()
    set +e
    said=$(KELVANE_GATEWAY_CA='' kvtool download --port "$url" "${args[@]}" -o refused.kvd --quiet --lang en 2>&1)
    rc=$?
    set -e
    [ $rc -eq 3 ] && [[ $said == *"certificate was not verified"* ]] ||
      fail "kvtool.exe over TLS with CA '$ca': exit 3 and \"certificate was not verified\" expected, exit $rc: $said"
    [ ! -e "$tmp/refused.kvd" ] || fail "kvtool.exe over TLS with CA '$ca' wrote an image"
  done
  kvtool download --port "$url" --ca-file "$(winpath "$tmp/ca.pem")" -o t.kvd --quiet >"$tmp/gateway.log" 2>&1 ||
    fail "kvtool.exe download over $url with the right CA failed: $(cat "$tmp/gateway.log")"
  stop_sim
  kill "$front" 2>/dev/null || true
  gateway_stop
  cmp <(image_of "$tmp/t.kvd") "$tmp/dump.bin" || fail "the image downloaded over TLS differs from the controller's"
  echo "kvtool.exe download over $url: the right CA connects, another CA and none refused: OK"
}
