#!/usr/bin/env bash
# The company register's sync over verified TLS against the same sync without
# TLS, on a throw-away cluster (tests/registry/with_postgres.sh) given a
# throw-away CA and a certificate for a made-up name reached at 127.0.0.1:
# the first sync of a register of 200 controllers and 4,000 visits (every
# visit its own image) into an empty server, then syncs with nothing new.
# Uses build/'s kvtool.
#
#   bash benchmarks/company_connection_bench.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${KELVANE_PG_URL:-}" = "" ]; then
  exec bash "$root/tests/registry/with_postgres.sh" bash "$0" "$@"
fi
runs=${1:-10}
kvtool=${KVTOOL:-$root/build/cli/kvtool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pg() { PGOPTIONS="-c client_min_messages=warning" psql -X -h "$KELVANE_PG_DIR" -p "$KELVANE_PG_PORT" -U kelvane -Atqc "$1" company; }

# The CA and the server's certificate; TLS switched on by a reload.
(
  cd "$work"
  key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
  openssl req -x509 $key -days 2 -subj /CN=bench-ca -keyout ca.key -out ca.crt 2>/dev/null
  openssl req $key -subj /CN=company-db.test -keyout server.key -out server.csr 2>/dev/null
  echo "subjectAltName=DNS:company-db.test" >server.ext
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext \
    -out server.crt 2>/dev/null
)
install -m 0600 "$work/server.key" "$work/server.crt" "$KELVANE_PG_DIR/data/"
[ "$(id -u)" -eq 0 ] && chown nobody "$KELVANE_PG_DIR/data/server.key" "$KELVANE_PG_DIR/data/server.crt"
pg "ALTER SYSTEM SET ssl_cert_file = 'server.crt'"
pg "ALTER SYSTEM SET ssl_key_file = 'server.key'"
pg "ALTER SYSTEM SET ssl = on"
pg "SELECT pg_reload_conf()" >/dev/null
sleep 0.5

export QT_QPA_PLATFORM=offscreen KELVANE_KEY_FILE=$work/data.key
mkdir -p "$work/plain" "$work/tls"
export HOME=$work/plain KELVANE_REGISTER=$work/plain/register.sqlite
KELVANE_NO_KEYCHAIN=1 KELVANE_KEY_FILE=$work/none/key "$kvtool" register list >/dev/null 2>&1 || true
python3 - "$KELVANE_REGISTER" <<'PY'
import hashlib, random, sqlite3, struct, sys, uuid, zlib
db = sqlite3.connect(sys.argv[1])
size = 16384
for c in range(200):
    rnd = random.Random(c)
    base = bytearray(rnd.getrandbits(8) for _ in range(size))
    t0 = "2026-01-01T08:00:00+01:00"
    cid = db.execute("INSERT INTO controllers(device_id, serial, first_seen, last_seen, name) VALUES(1, ?, ?, ?, ?)",
                     (c + 1, t0, t0, "Building %d" % c)).lastrowid
    for v in range(20):
        img = bytearray(base)
        img[v] ^= 0xFF  # one byte of its own: every image differs
        data = bytes(img)
        iid = db.execute("INSERT INTO images(sha256, data) VALUES(?, ?)",
                         (hashlib.sha256(data).digest(), struct.pack(">I", size) + zlib.compress(data, 6))).lastrowid
        db.execute("INSERT INTO visits(controller, time, technician, port, kind, outcome, image, uuid)"
                   " VALUES(?, ?, 'bench', 'COM3', 'download', 'completed', ?, ?)",
                   (cid, "2026-%02d-%02dT10:00:00+01:00" % (v % 12 + 1, v + 1), iid, str(uuid.uuid4())))
db.commit()
PY
"$kvtool" register list >/dev/null  # makes the key and seals the images
cp "$work/plain/register.sqlite" "$work/tls/register.sqlite"

plain="host=127.0.0.1 port=$KELVANE_PG_PORT dbname=company user=kelvane sslmode=disable"
tls="host=company-db.test hostaddr=127.0.0.1 port=$KELVANE_PG_PORT dbname=company user=kelvane sslrootcert=$work/ca.crt"
seconds() {
  local start end
  start=$(date +%s.%N)
  "$kvtool" register sync --server "$1" >/dev/null
  end=$(date +%s.%N)
  python3 -c "print('%.3f' % ($end - $start))"
}
for mode in plain tls; do
  export HOME=$work/$mode KELVANE_REGISTER=$work/$mode/register.sqlite
  server=${!mode}
  pg "DROP SCHEMA public CASCADE; CREATE SCHEMA public"
  "$kvtool" register server-setup "$server" >/dev/null 2>&1
  first=$(seconds "$server")
  times=()
  for _ in $(seq "$runs"); do times+=("$(seconds "$server")"); done
  python3 - "$mode" "$first" "${times[@]}" <<'PY'
import statistics, sys
mode, first, times = sys.argv[1], float(sys.argv[2]), sorted(float(t) for t in sys.argv[3:])
label = "verify-full TLS" if mode == "tls" else "no TLS"
print("%-16s first sync (4,000 visits) %7.3f s; nothing new: median %.3f s, fastest %.3f s (%d runs)"
      % (label, first, statistics.median(times), times[0], len(times)))
PY
done
