#!/usr/bin/env bash
# Runs a test program against a throw-away PostgreSQL cluster: initdb in a
# temporary folder, the server on a Unix socket there (and on 127.0.0.1 at a
# free port, for tests that put a proxy between), as an unprivileged user when
# run as root. The program gets KELVANE_PG_URL (the database "company"),
# KELVANE_PG_PORT, KELVANE_PG_DIR and KELVANE_PG_CTL (a command that runs
# pg_ctl on this cluster, e.g. "$KELVANE_PG_CTL stop -m immediate"). The
# cluster is stopped and removed when the program ends, also on failure.
# Exit 77 (a skip) only when the server's programs are missing.
set -euo pipefail
bin=${KELVANE_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "skipped: the PostgreSQL server's programs are missing (bash scripts/deps.sh installs postgresql)" >&2
  exit 77
fi
dir=$(mktemp -d /tmp/kelvane-pg.XXXXXX)
as=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody "$dir"
  as=(runuser -u nobody --)
fi
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# pg_ctl on this cluster, its options given.
cat >"$dir/ctl.sh" <<END
#!/bin/sh
exec ${as[*]} $bin/pg_ctl -D $dir/data -l $dir/server.log -w \
  -o "-k $dir -p $port -c listen_addresses=127.0.0.1 -c fsync=off" "\$@"
END
chmod 0755 "$dir/ctl.sh"
ctl="$dir/ctl.sh"
cleanup() {
  $ctl stop -m immediate >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT
"${as[@]}" "$bin/initdb" -D "$dir/data" -U kelvane --auth=trust -E UTF8 --no-sync >"$dir/initdb.log" 2>&1 ||
  { cat "$dir/initdb.log" >&2; exit 1; }
$ctl start >/dev/null ||
  { cat "$dir/server.log" >&2; exit 1; }
"$bin/createdb" -h "$dir" -p "$port" -U kelvane company
export KELVANE_PG_URL="postgresql://kelvane@${dir//\//%2F}:$port/company"
export KELVANE_PG_PORT=$port KELVANE_PG_DIR=$dir
export KELVANE_PG_CTL=$ctl
"$@"
