# The company register of the Windows programs under Wine, against the
# throw-away PostgreSQL cluster tests/registry/with_postgres.sh started
# (KELVANE_PG_DIR, KELVANE_PG_PORT). Sourced by scripts/windows-e2e.sh, whose
# helpers (fail, kvtool, wait_for, start_sim, ...) it uses.
#
# The server as a company sets it up: TLS with a certificate of the company's
# own CA (a throw-away one made here) for a name of its own (kvpg.test, no
# DNS: the string gives libpq the address, 127.0.0.1, as hostaddr),
# connections without TLS refused, a password asked. The laptops' strings
# verify the certificate and the name (sslmode=verify-full). Each Windows
# "laptop" (a Wine prefix) holds what libpq reads on Windows by default: the
# password in %APPDATA%\postgresql\pgpass.conf, and the first laptop the CA in
# %APPDATA%\postgresql\root.crt (the second names its CA file in the string).

pg_name=kvpg.test
# server_string [NAME] [OPTIONS]: the laptops' string, for the certificate's
# name or another.
server_string() {
  echo "postgresql://kelvane@${1:-$pg_name}:$KELVANE_PG_PORT/company?hostaddr=127.0.0.1&sslmode=verify-full${2:+&$2}"
}
pg_url=$(server_string)
# The host's psql reaches the cluster through its socket, as its owner.
pg_sql() { psql -X -q -At -v ON_ERROR_STOP=1 -h "$KELVANE_PG_DIR" -p "$KELVANE_PG_PORT" -U kelvane company "$@"; }
pg_count() { pg_sql -c "SELECT count(*) FROM $1"; }

# register_server_tls: the CA, the server's certificate, another CA's root
# certificate ($tmp/ca.crt, $tmp/other-ca.crt), TLS on and a password asked.
register_server_tls() {
  local d=$KELVANE_PG_DIR
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=Kelvane test CA" \
    -keyout "$tmp/ca.key" -out "$tmp/ca.crt" 2>/dev/null || fail "openssl made no CA"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=Another CA" \
    -keyout "$tmp/other-ca.key" -out "$tmp/other-ca.crt" 2>/dev/null || fail "openssl made no second CA"
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$pg_name" \
    -keyout "$d/server.key" -out "$tmp/server.csr" 2>/dev/null || fail "openssl made no server key"
  openssl x509 -req -in "$tmp/server.csr" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.key" -CAcreateserial -days 2 \
    -extfile <(echo "subjectAltName=DNS:$pg_name") -out "$d/server.crt" 2>/dev/null || fail "openssl signed no server certificate"
  chmod 0600 "$d/server.key"
  chown --reference="$d" "$d/server.key" "$d/server.crt"
  pg_password=$(openssl rand -hex 12)
  # Only TLS from the network, with the password; the socket for the checks.
  printf 'local all all trust\nhostssl company kelvane 127.0.0.1/32 scram-sha-256\n' >"$d/data/pg_hba.conf"
  pg_sql -c "ALTER SYSTEM SET ssl = on" -c "ALTER SYSTEM SET ssl_cert_file = '$d/server.crt'" \
    -c "ALTER SYSTEM SET ssl_key_file = '$d/server.key'" -c "ALTER ROLE kelvane PASSWORD '$pg_password'" \
    -c "SELECT pg_reload_conf()" >/dev/null || fail "the cluster took no TLS settings"
  # The host's own libpq reaches it verified, as the laptops will.
  local ssl
  wait_for 10 "the cluster serves no TLS (server log: $(tail -n 3 "$d/server.log"))" eval \
    'ssl=$(PGPASSWORD=$pg_password psql -X -At "host=$pg_name hostaddr=127.0.0.1 port=$KELVANE_PG_PORT user=kelvane dbname=company sslmode=verify-full sslrootcert=$tmp/ca.crt" -c "SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()" 2>/dev/null) && [ "$ssl" = t ]'
}

# laptop_appdata PREFIX: the Wine user's roaming AppData (%APPDATA%).
laptop_appdata() { echo "$(find "$1/drive_c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public | head -n 1)/AppData/Roaming"; }
# laptop_trusts PREFIX [CA]: libpq's Windows defaults in that prefix: the
# password file, and CA as the root certificate (none without CA).
laptop_trusts() {
  local pg
  pg=$(laptop_appdata "$1")/postgresql
  mkdir -p "$pg"
  echo "$pg_name:$KELVANE_PG_PORT:company:kelvane:$pg_password" >"$pg/pgpass.conf"
  rm -f "$pg/root.crt"
  [ -z "${2:-}" ] || cp "$2" "$pg/root.crt"
}
# refused WHY COMMAND...: COMMAND fails, saying WHY (libpq's reason).
refused() {
  local why=$1 said
  shift
  said=$("$@" 2>&1) && fail "$* went through: $said"
  [[ $said == *"$why"* ]] || fail "$*: \"$why\" expected, it said: $said"
}

# register_first_laptop: the prefix that has downloaded: refused with the
# wrong CA before anything is on the server, then set up and synced.
register_first_laptop() {
  register_server_tls
  laptop_trusts "$WINEPREFIX" "$tmp/other-ca.crt"
  local out
  refused "certificate verify failed" kvtool register server-setup "$pg_url"
  [ -z "$(pg_sql -c "SELECT to_regclass('schema_version')")" ] || fail "server-setup with the wrong CA changed the server"
  laptop_trusts "$WINEPREFIX" "$tmp/ca.crt"
  # The right CA, but the server reached under a name its certificate is not for.
  refused "does not match host name" kvtool register server-setup "$(server_string other.test)"
  out=$(kvtool register server-setup "$pg_url" 2>&1) || fail "kvtool.exe register server-setup failed: $out"
  out=$(kvtool register sync --server "$pg_url" --json 2>&1) || fail "kvtool.exe register sync failed: $out"
  [ "$(pg_count visits)" -eq "$(visits)" ] || fail "the server holds $(pg_count visits) visits, the laptop $(visits)"
  [ "$(pg_count controllers)" -ge 1 ] || fail "no controller on the server"
  echo "kvtool.exe register server-setup and sync, verify-full with the CA in %APPDATA%\\postgresql (another CA and another name refused first): OK ($(pg_count visits) visits on the server)"
}

# register_second_laptop: another Wine prefix (its own AppData, registry and
# Credential Manager) with the first laptop's data key imported: refused
# with the wrong CA, then pulls every visit, and its register refuses the
# first laptop's file for another controller.
register_second_laptop() {
  local first=$WINEPREFIX said before
  echo "e2e passphrase" >"$tmp/passphrase"
  kvtool key export key.kvk --passphrase-file passphrase >/dev/null 2>&1 || fail "kvtool.exe key export failed"
  wine_stop
  rm -rf "$out/wine-laptop2"  # a new laptop every run
  source "$root/scripts/wine-env.sh" "$out" wine-laptop2
  unset WINEPATH
  laptop2=$WINEPREFIX
  wine_port COM8 "$tmp/com8"
  kvtool key import key.kvk --passphrase-file passphrase >/dev/null 2>&1 || fail "the second laptop's key import failed"
  laptop_trusts "$laptop2"
  before=$(pg_count visits)
  # No CA anywhere: refused, naming libpq's default file on Windows.
  refused 'AppData\Roaming\postgresql\root.crt' kvtool register sync --server "$pg_url"
  refused "certificate verify failed" kvtool register sync --server "$(server_string "" "sslrootcert=Z:$tmp/other-ca.crt")"
  [ "$(visits)" -eq 0 ] && [ "$(pg_count visits)" -eq "$before" ] || fail "rows moved with the wrong CA"
  said=$(kvtool register sync --server "$(server_string "" "sslrootcert=Z:$tmp/ca.crt")" --json 2>&1) ||
    fail "the second laptop's sync failed: $said"
  [ "$(visits)" -eq "$before" ] || fail "the second laptop pulled $(visits) of $before visits: $said"
  # The first laptop's download, uploaded to another controller (another
  # identity, another building: one setting differs): refused.
  image_of "$tmp/a.kvd" >"$tmp/other.bin"
  local at=$((0x3F40 + 11)) byte
  byte=$(od -An -tu1 -j "$at" -N1 "$tmp/other.bin" | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ 2)))" | dd of="$tmp/other.bin" bs=1 seek="$at" conv=notrunc status=none
  start_sim --identity 0002393005010000 --image "$tmp/other.bin"
  set +e
  kvtool upload --port COM8 a.kvd --yes --lang en >"$tmp/upload2.log" 2>&1
  local rc=$?
  set -e
  stop_sim
  [ $rc -eq 7 ] || fail "the second laptop's upload of the first laptop's file to another controller: exit $rc ($(tail -n 3 "$tmp/upload2.log"))"
  echo "A second laptop (its own prefix, the key imported, the CA named by sslrootcert): no CA and another CA refused, $before visits pulled, the first laptop's file refused for another controller (exit 7): OK"
  wine_stop
  rm -rf "$laptop2"
  export WINEPREFIX=$first
}

# register_window_synced: KelvaneMini.exe on the first laptop (the server
# kept in its settings by the sync) syncs when its window is up: the visit
# Orva_Upgrade.exe recorded since reaches the server, and the status bar
# says so (its picture in DIR/wine-e2e-register.png).
register_window_synced() {
  local want
  want=$(visits)
  [ "$(pg_count visits)" -lt "$want" ] || fail "no visit waiting for KelvaneMini.exe's sync"
  launch KelvaneMini.exe "$tmp"
  wait_for 90 "KelvaneMini.exe showed no main window" showing '^KelvaneMINI'
  wait_for 60 "KelvaneMini.exe's sync brought $(pg_count visits) of $want visits to the server" \
    eval '[ "$(pg_count visits)" -eq "$want" ]'
  # The sync marks the visits sent once the server has them; the status bar
  # follows at the run's end.
  sleep 2
  rm -f "$out/wine-e2e-register.png"
  xwd -id "$(window '^KelvaneMINI')" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$out/wine-e2e-register.png" 2>/dev/null ||
    fail "no picture of KelvaneMini.exe's status bar"
  finish
  echo "KelvaneMini.exe synced at start, Orva_Upgrade.exe's visit on the server: OK ($want visits; the status bar in $out/wine-e2e-register.png)"
}
