#!/usr/bin/env bash
# A throw-away PostgreSQL 15 server for the tests and the benchmarks.
#
#   pg-test-server.sh start DIR   initdb into DIR, start the server, create the
#                                 roles, the database and the booking table,
#                                 write DIR/pg.env with the connection data
#   pg-test-server.sh stop DIR    stop the server and remove DIR
#
# The server runs as the postgres system user, listens on 127.0.0.1 on a free
# port and on a Unix socket in DIR/sock, and asks every role but postgres for
# its password (scram-sha-256). Two roles: morvask_owner owns the schema and
# the table (the tests fill it through this role), morvask gets only what a
# run needs (USAGE on the schema; SELECT, UPDATE, DELETE on the table).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
bin=/usr/lib/postgresql/15/bin
db=morvask_test

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
cmd=$1
dir=$2

as_pg() { runuser -u postgres -- "$@"; }

random_hex() { od -An -N"$1" -tx1 /dev/urandom | tr -d ' \n'; }

port_is_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  chown postgres: "$dir"
  chmod 700 "$dir"
  as_pg mkdir -p "$dir/sock"

  as_pg "$bin/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 \
    --auth=trust >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
  # Passwords for every role; the script itself is postgres through the socket.
  as_pg sh -c "cat >'$dir/data/pg_hba.conf'" <<'EOF'
local all postgres               peer
local all all                    scram-sha-256
host  all all      127.0.0.1/32  scram-sha-256
EOF

  local port="" tries
  for tries in 1 2 3 4 5 6 7 8; do
    local candidate=$((20000 + RANDOM % 30000))
    port_is_free "$candidate" || continue
    if as_pg "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start -o \
        "-c listen_addresses=127.0.0.1 -c port=$candidate -c unix_socket_directories=$dir/sock \
         -c fsync=off -c synchronous_commit=off -c full_page_writes=off \
         -c password_encryption=scram-sha-256 -c max_connections=40" >/dev/null; then
      port=$candidate
      break
    fi
  done
  [ -n "$port" ] || { echo "PostgreSQL did not start; see $dir/server.log" >&2; cat "$dir/server.log" >&2; exit 1; }

  # The run role's password holds a blank, quotes, a backslash, "/" and "@" on
  # purpose: every test connects through the connect text with it.
  local pw_owner pw_run
  pw_owner="own-$(random_hex 12)"
  pw_run="p/w @'\"\\-$(random_hex 8)"

  local psql=(as_pg "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir/sock" -p "$port")
  "${psql[@]}" -d postgres -v pw_owner="$pw_owner" -v pw_run="$pw_run" <<'EOF'
CREATE ROLE morvask_owner LOGIN PASSWORD :'pw_owner';
CREATE ROLE morvask LOGIN PASSWORD :'pw_run';
GRANT pg_signal_backend TO morvask_owner;
EOF
  # A German installation's database: ICU collation de-DE, so that an order
  # that depends on the database's collation shows in the tests.
  if ! "${psql[@]}" -d postgres -c "CREATE DATABASE $db OWNER morvask_owner TEMPLATE template0 \
        ENCODING 'UTF8' LOCALE 'C.UTF-8' LOCALE_PROVIDER icu ICU_LOCALE 'de-DE'" 2>/dev/null; then
    "${psql[@]}" -d postgres -c "CREATE DATABASE $db OWNER morvask_owner TEMPLATE template0 ENCODING 'UTF8'"
  fi
  PGPASSWORD="$pw_owner" "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" \
    -U morvask_owner -d "$db" -f "$here/../sql/pg/zkr321bew.sql"
  PGPASSWORD="$pw_owner" "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" \
    -U morvask_owner -d "$db" <<'EOF'
GRANT USAGE ON SCHEMA keldomar TO morvask;
GRANT SELECT, UPDATE, DELETE ON keldomar.zkr321bew TO morvask;
EOF

  {
    printf 'export MORVASK_PG_HOST=%q\n' 127.0.0.1
    printf 'export MORVASK_PG_PORT=%q\n' "$port"
    printf 'export MORVASK_PG_SOCKET_DIR=%q\n' "$dir/sock"
    printf 'export MORVASK_PG_DB=%q\n' "$db"
    printf 'export MORVASK_PG_USER=%q\n' morvask
    printf 'export MORVASK_PG_PASSWORD=%q\n' "$pw_run"
    printf 'export MORVASK_PG_OWNER=%q\n' morvask_owner
    printf 'export MORVASK_PG_OWNER_PASSWORD=%q\n' "$pw_owner"
  } >"$dir/pg.env"
  chmod 600 "$dir/pg.env"
  echo "PostgreSQL test server on 127.0.0.1:$port (NET8 127.0.0.1:$port/$db); connection data in $dir/pg.env"
}

stop() {
  [ -d "$dir" ] || return 0
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_pg "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true
  fi
  rm -rf "$dir"
}

case "$cmd" in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
