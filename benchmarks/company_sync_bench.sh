#!/usr/bin/env bash
# The company register's sync against a local PostgreSQL (a throw-away
# cluster, tests/registry/with_postgres.sh): the first sync of a register of
# 1,000 controllers and 20,000 visits (every visit its own image), a sync with
# nothing new, and one new visit pushed. Uses build/'s kvtool; the register is
# generated plain in a temporary folder, then sealed by kvtool's first open
# with the key, as an older register would be. The sync with nothing new is
# also timed inside one process (company_sync_time, built by scripts/bench.sh
# into build-bench/), without the program's start. Then a change of key: the
# register sealed again, and the sync that seals the server's images again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${KELVANE_PG_URL:-}" = "" ]; then
  exec bash "$root/tests/registry/with_postgres.sh" bash "$0" "$@"
fi
kvtool=${KVTOOL:-$root/build/cli/kvtool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work KELVANE_REGISTER=$work/register.sqlite QT_QPA_PLATFORM=offscreen
# The schema, made without a key (so nothing is sealed yet).
KELVANE_NO_KEYCHAIN=1 KELVANE_KEY_FILE=$work/none/key "$kvtool" register list >/dev/null 2>&1 || true
python3 - "$KELVANE_REGISTER" <<'PY'
import hashlib, random, sqlite3, struct, sys, uuid, zlib
db = sqlite3.connect(sys.argv[1])
size = 16384
for c in range(1000):
    rnd = random.Random(c)
    base = bytearray(rnd.getrandbits(8) for _ in range(size))
    t0 = "2026-01-01T08:00:00+01:00"
    cur = db.execute("INSERT INTO controllers(device_id, serial, first_seen, last_seen, name) VALUES(1, ?, ?, ?, ?)",
                     (c + 1, t0, t0, "Building %d" % c))
    cid = cur.lastrowid
    for v in range(20):
        img = bytearray(base)
        for k in range(v % 4 + 1):
            img[(c * 7 + v * 3 + k) % size] = (0x10 + v) & 0xFF
        data = bytes(img)
        h = hashlib.sha256(data).digest()
        packed = struct.pack(">I", size) + zlib.compress(data, 6)
        row = db.execute("SELECT id FROM images WHERE sha256 = ?", (h,)).fetchone()
        iid = row[0] if row else db.execute("INSERT INTO images(sha256, data) VALUES(?, ?)", (h, packed)).lastrowid
        t = "2026-%02d-%02dT10:00:00+01:00" % (v % 12 + 1, v + 1)
        db.execute("INSERT INTO visits(controller, time, technician, port, kind, outcome, image, uuid)"
                   " VALUES(?, ?, 'bench', 'COM3', 'download', 'completed', ?, ?)", (cid, t, iid, str(uuid.uuid4())))
db.commit()
PY
export KELVANE_KEY_FILE=$work/data.key
"$kvtool" register list >/dev/null   # makes the key and seals the images
"$kvtool" register server-setup "$KELVANE_PG_URL" >/dev/null
timed() {
  local start end
  start=$(date +%s.%N)
  "$kvtool" register sync --server "$KELVANE_PG_URL" >/dev/null
  end=$(date +%s.%N)
  python3 -c "print('%-28s %8.3f s' % ('$1', $end - $start))"
}
timed "first sync (20,000 visits)"
timed "nothing new"
timer=${SYNC_TIMER:-$root/build-bench/benchmarks/company_sync_time}
if [ -x "$timer" ]; then
  "$timer" "$KELVANE_REGISTER" "$KELVANE_PG_URL" 30
else
  echo "(in-process timing skipped: $timer is not built; bash scripts/bench.sh builds it)"
fi
"$kvtool" download --port sim -o "$work/a.kvd" >/dev/null
timed "one new visit"
# A change of key: the register sealed again here, then the server's images
# at the next sync, in one transaction.
start=$(date +%s.%N)
"$kvtool" key rotate >/dev/null
end=$(date +%s.%N)
python3 -c "print('%-28s %8.3f s' % ('key rotate (local)', $end - $start))"
timed "sync after the key rotation"
psql -h "$KELVANE_PG_DIR" -p "$KELVANE_PG_PORT" -U kelvane -Atc \
  "SELECT 'server rows: ' || (SELECT count(*) FROM visits) || ' visits, ' || (SELECT count(*) FROM images) ||
   ' images, ' || pg_size_pretty(pg_database_size('company'))" company
