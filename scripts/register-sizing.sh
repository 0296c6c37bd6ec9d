#!/usr/bin/env bash
# Sizes the company register on paper: fills the server's schema (made by
# `kvtool register server-setup`, so it is the program's own) in a throw-away
# PostgreSQL cluster with a company of a given fraction of the full one, then
# measures rows, bytes per table and index, and the lookups the programs make
# (EXPLAIN ANALYZE), and prints the figures scaled to the full company.
#
# The full company: 200 technicians, 20,000 buildings, 10 years of visits.
# Each building has 4 service calls a year (the yearly check, moves, new
# residents, lost keys); each is a download, three in four also an upload:
# 7 visit rows a building a year. Its images: one whole image, then a
# difference for every upload and one a year for what residents changed at
# the keypad; a saved data file a year; a replaced edit of its details every
# five years.
#
# Usage: scripts/register-sizing.sh [--scale F] [--kvtool PATH] [--keep]
#   --scale F     the fraction generated (default 0.1); the figures are scaled by 1/F
#   --kvtool PATH the kvtool that makes the schema (default build/cli/kvtool)
#   --keep        leave the cluster's folder (its path is printed)
# Runs PostgreSQL's initdb/pg_ctl as an unprivileged user when started as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
scale=0.1
kvtool=$root/build/cli/kvtool
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --scale) scale=$2; shift 2 ;;
    --kvtool) kvtool=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "register-sizing: unknown argument $1" >&2; exit 2 ;;
    esac
done
awk -v s="$scale" 'BEGIN { exit !(s > 0 && s <= 1) }' || { echo "register-sizing: --scale takes 0 < F <= 1" >&2; exit 2; }
[ -x "$kvtool" ] || { echo "register-sizing: no kvtool at $kvtool (build it, or --kvtool PATH)" >&2; exit 2; }

bindir=
for d in /usr/lib/postgresql/*/bin; do [ -x "$d/initdb" ] && bindir=$d; done
[ -n "$bindir" ] || { echo "register-sizing: PostgreSQL's server programs are missing (apt-get install postgresql)" >&2; exit 3; }

work=$(mktemp -d /tmp/register-sizing.XXXXXX)
chmod 0700 "$work"
as_owner=()
if [ "$(id -u)" = 0 ]; then
    chown nobody "$work"
    as_owner=(runuser -u nobody --)
fi
owner=$("${as_owner[@]}" id -un)
port=$((20000 + RANDOM % 20000))
stop() {
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
    if [ "$keep" = 1 ]; then echo "cluster kept in $work"; else rm -rf "$work"; fi
}
trap stop EXIT

"${as_owner[@]}" "$bindir/initdb" -D "$work/data" -A trust -U "$owner" -E UTF8 --no-locale >/dev/null
"${as_owner[@]}" "$bindir/pg_ctl" -D "$work/data" -w -t 60 -l "$work/server.log" \
    -o "-k $work -p $port -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null
psql=(psql -X -q -v ON_ERROR_STOP=1 -h "$work" -p "$port" -U "$owner")
"${psql[@]}" -d postgres -c "CREATE DATABASE sizing"
"${psql[@]}" -d sizing -c "CREATE EXTENSION pgcrypto"

# The schema, as a laptop's `kvtool register server-setup` makes it.
url="postgresql://$owner@localhost:$port/sizing"
HOME=$work "$kvtool" register server-setup "$url" >/dev/null

technicians=$(awk -v s="$scale" 'BEGIN { n = int(200 * s + 0.5); print n < 1 ? 1 : n }')
buildings=$(awk -v s="$scale" 'BEGIN { n = int(20000 * s + 0.5); print n < 1 ? 1 : n }')
years=10
wholeBytes=2000  # a whole image, compressed and sealed: a full building
diffBytes=150    # a difference from it, compressed and sealed

start=$(date +%s)
"${psql[@]}" -d sizing <<SQL
-- Sealed bytes are random to the server: made so, they neither compress nor repeat.
CREATE FUNCTION pg_temp.sealed(n integer) RETURNS bytea LANGUAGE sql AS
  \$\$ SELECT string_agg(gen_random_bytes(least(1024, n - o)), ''::bytea ORDER BY o)
       FROM generate_series(0, n - 1, 1024) AS o \$\$;
CREATE TEMP TABLE b AS
  SELECT g AS n, 1 + g % 255 AS device_id, g AS serial, 1 + g % $technicians AS tech FROM generate_series(1, $buildings) g;
INSERT INTO controllers(device_id, serial, first_seen, last_seen, firmware, name, name_at, name_by, address, address_at, address_by)
  SELECT device_id, serial, '2016-01-04T09:00:00+01:00', '2025-12-15T12:00:00+01:00', 259,
         'Budynek ' || n, '2016-01-04T09:00:00Z', 'technik ' || tech, 'ul. Przykładowa ' || n || ', 00-' || lpad((n % 1000)::text, 3, '0') || ' Miasto',
         '2016-01-04T09:00:00Z', 'technik ' || tech
  FROM b;
-- Images: one whole per building, then differences from it.
CREATE TEMP TABLE w AS SELECT n, pg_temp.sealed($wholeBytes) AS data, gen_random_bytes(32) AS hash FROM b;
INSERT INTO images(hash, data) SELECT hash, data FROM w;
CREATE TEMP TABLE d AS
  SELECT b.n, k, gen_random_bytes(32) AS hash FROM b, generate_series(1, 4 * $years) k;
INSERT INTO images(hash, data, base) SELECT d.hash, pg_temp.sealed($diffBytes), w.hash FROM d JOIN w USING (n);
-- Visits: 4 calls a year, a download each and an upload for three in four.
INSERT INTO visits(uuid, device_id, serial, time, technician, port, kind, outcome, firmware, image, changes, source)
  SELECT gen_random_uuid(), b.device_id, b.serial,
         to_char(timestamp '2016-01-04 08:00' + c.c * interval '91 days' + (b.n % 90) * interval '1 day'
                 + s.step * interval '40 minutes', 'YYYY-MM-DD"T"HH24:MI:SS"+01:00"'),
         'technik ' || (1 + (b.n + c.c) % $technicians), '/dev/ttyUSB0',
         CASE s.step WHEN 0 THEN 'download' ELSE 'upload' END, 'completed', 259,
         d.hash, CASE WHEN c.c > 0 THEN 3 END, ''
  FROM b CROSS JOIN generate_series(0, 4 * $years - 1) AS c(c) CROSS JOIN generate_series(0, 1) AS s(step)
  JOIN d ON d.n = b.n AND d.k = 1 + c.c
  WHERE s.step = 0 OR c.c % 4 <> 3;
INSERT INTO saved_files(uuid, path, time, image, device_id, serial, base)
  SELECT gen_random_uuid(), '/home/technik/budynek-' || b.n || '-' || y || '.kvd',
         (2016 + y) || '-06-01T10:00:00+02:00', d.hash, b.device_id, b.serial, d.hash
  FROM b JOIN d USING (n), generate_series(0, $years - 1) y WHERE d.k = 1 + 4 * y;
INSERT INTO field_history(device_id, serial, field, value, edited_at, edited_by, replaced_at)
  SELECT device_id, serial, 'name', 'Budynek ' || n || ' (' || y || ')', (2016 + y) || '-03-01T10:00:00Z',
         'technik ' || tech, (2017 + y) || '-03-01T10:00:00Z'
  FROM b, generate_series(0, $years / 5 - 1) y;
VACUUM ANALYZE;
SQL
filled=$(( $(date +%s) - start ))

# Measures a lookup: the time EXPLAIN ANALYZE gives (the best of five) and
# the index it uses.
one() { "${psql[@]}" -d sizing -At -c "$1"; }
key=$(one "SELECT device_id || ' ' || serial FROM controllers ORDER BY random() LIMIT 1")
dev=${key% *} ser=${key#* }
uuid=$(one "SELECT uuid FROM visits ORDER BY random() LIMIT 1")
hash=$(one "SELECT encode(hash, 'hex') FROM images WHERE base IS NOT NULL ORDER BY random() LIMIT 1")
maxseq=$(one "SELECT max(seq) FROM visits")
lookups=(
    "a sync with nothing new (per table)|SELECT * FROM visits WHERE seq > $maxseq ORDER BY seq LIMIT 1000"
    "a pull of 1,000 new visits|SELECT * FROM visits WHERE seq > $maxseq - 1000 ORDER BY seq LIMIT 1000"
    "a pushed visit already there?|SELECT 1 FROM visits WHERE uuid = '$uuid'"
    "an image by its keyed hash|SELECT data, base FROM images WHERE hash = decode('$hash', 'hex')"
    "a controller by identity|SELECT * FROM controllers WHERE device_id = $dev AND serial = $ser"
    "a building's visits, newest first|SELECT * FROM visits WHERE device_id = $dev AND serial = $ser ORDER BY time DESC"
    "the saved files of an image (guard)|SELECT * FROM saved_files WHERE image = decode('$hash', 'hex')"
    "a building's field history|SELECT * FROM field_history WHERE device_id = $dev AND serial = $ser"
)

echo "Company register sizing: $technicians technicians, $buildings buildings, $years years (scale $scale), filled in ${filled} s"
echo
# The schema's own tables (version, settings) do not grow with the company.
printf '%-16s %10s %12s %12s | %12s %12s\n' table rows "table MB" "indexes MB" "full: rows" "full: MB"
"${psql[@]}" -d sizing -At -F '|' -c "
    SELECT c.relname, c.reltuples::bigint, pg_table_size(c.oid), pg_indexes_size(c.oid)
    FROM pg_class c JOIN pg_namespace s ON s.oid = c.relnamespace
    WHERE s.nspname = 'public' AND c.relkind = 'r' AND c.relname NOT IN ('settings', 'schema_version')
    ORDER BY pg_total_relation_size(c.oid) DESC" |
    awk -F '|' -v s="$scale" '{
        printf "%-16s %10d %12.1f %12.1f | %12d %12.1f\n", $1, $2, $3 / 1048576, $4 / 1048576, $2 / s, ($3 + $4) / s / 1048576
        rows += $2; bytes += $3 + $4 }
        END { printf "%-16s %10d %25.1f | %12d %12.1f\n", "all", rows, bytes / 1048576, rows / s, bytes / s / 1048576 }'
echo
echo "Indexes:"
"${psql[@]}" -d sizing -At -F '|' -c "
    SELECT i.relname, t.relname, pg_relation_size(i.oid), pg_get_indexdef(i.oid)
    FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid JOIN pg_class t ON t.oid = x.indrelid
    JOIN pg_namespace s ON s.oid = t.relnamespace WHERE s.nspname = 'public' ORDER BY t.relname, i.relname" |
    while IFS='|' read -r name table bytes def; do
        awk -v n="${name:0:40}" -v t="$table" -v b="$bytes" -v s="$scale" -v d="${def#*USING }" \
            'BEGIN { printf "  %-40s %8.1f MB (full: %8.1f MB)  %s\n", n, b / 1048576, b / s / 1048576, d }'

    done
echo
echo "Lookups (EXPLAIN ANALYZE, best of five; a B-tree ten times larger is at most one level deeper):"
slow=0
for entry in "${lookups[@]}"; do
    what=${entry%%|*} sql=${entry#*|}
    best=
    for _ in 1 2 3 4 5; do
        ms=$(one "EXPLAIN (ANALYZE, FORMAT TEXT) $sql" | sed -n 's/^Execution Time: \([0-9.]*\) ms$/\1/p')
        best=$(awk -v a="$best" -v b="$ms" 'BEGIN { print (a == "" || b < a) ? b : a }')
    done
    plan=$(one "EXPLAIN $sql" | grep -o 'Index[^(]*\|Seq Scan[^(]*' | head -1 | sed 's/ *$//')
    printf '  %-40s %8.3f ms  %s\n' "$what" "$best" "$plan"
    awk -v b="$best" 'BEGIN { exit !(b >= 5) }' && slow=1
done
[ "$slow" = 0 ] || { echo "register-sizing: a lookup took 5 ms or more" >&2; exit 1; }
