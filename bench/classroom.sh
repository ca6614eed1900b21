#!/usr/bin/env bash
# The classroom benchmark: one simulation server, a class of trainees each
# with a plant, a subscribed session and everything recorded; a table per
# speed. The options and goals are in bench/classroom/args.js (--help); the
# load itself is bench/classroom/main.js.
#
# Runs on services of its own (scripts/services with a temporary state
# folder and free ports), stopped and removed at the end, also after Ctrl-C
# or a failure. Exit codes: 0 it ran, 1 it could not run, 2 bad options.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
here=$root/bench/classroom
bin=$(cd "$root" && realpath -m "${VARNOK_BUILD_DIR:-build}")/bin
programs=(SISO Brinell Calder Fractor Dunmore Farrow varnok-plant varnok-record)
load_stop_s=40 # main.js stops recorders, sessions and plants, 10 s each at most
services_timeout_s=180

fail() {
  echo "classroom: $*" >&2
  exit 1
}

command -v node >/dev/null || fail "node is not installed (run scripts/setup)"

# The options are checked before anything starts; --help prints the usage.
usage_text=$(node "$here/args.js" "$@") || exit $?
if [ -n "$usage_text" ]; then
  echo "$usage_text"
  exit 0
fi

missing=()
for p in "${programs[@]}"; do [ -x "$bin/$p" ] || missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] || fail "missing in $bin: ${missing[*]}; build them: scripts/build release ${missing[*]}"
[ -d "$root/services/opcsim/node_modules/node-opcua-client" ] ||
  fail "services/opcsim/node_modules lacks node-opcua-client; run npm ci in services/opcsim"

# The database's name and account as scripts/services makes them.
service_setting() { sed -n "s/^$1=//p" "$root/scripts/services"; }
db_name=$(service_setting db_name)
db_user=$(service_setting db_user)
db_password=$(service_setting db_password)
if [ -z "$db_name" ] || [ -z "$db_user" ]; then fail "cannot read the database settings from scripts/services"; fi

state=$(mktemp -d "${TMPDIR:-/tmp}/varnok-classroom-XXXXXX")
load_pid=
ports=()

# Ends what this run started, by pid: the load (which stops its own
# children), anything it started that outlived it, then the services.
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  local rc=$? pid i
  trap - EXIT INT TERM
  if [ -n "$load_pid" ] && kill -0 "$load_pid" 2>/dev/null; then
    kill -TERM "$load_pid" 2>/dev/null || true
    for ((i = 0; i < load_stop_s * 10; i++)); do
      kill -0 "$load_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$load_pid" 2>/dev/null || true
  fi
  if [ -f "$state/classroom.pids" ] && [ ${#ports[@]} -eq 3 ]; then
    while read -r pid; do
      # Only while it still is ours: a reused pid would not name our ports.
      if grep -qsE -- "(${ports[0]}|${ports[1]})" "/proc/$pid/cmdline"; then
        kill -KILL "$pid" 2>/dev/null || true
      fi
    done <"$state/classroom.pids"
  fi
  if [ ${#ports[@]} -eq 3 ]; then
    timeout "$services_timeout_s" "$root/scripts/services" stop >/dev/null ||
      echo "classroom: scripts/services stop failed; state left in $state" >&2
  fi
  rm -rf "$state"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The database server runs as the postgres user when we are root; it must
# reach the state folder, or scripts/services would use a cluster shared with
# other runs (and this script would stop it).
chmod 755 "$state"
if [ "$(id -u)" -eq 0 ]; then
  runuser -u postgres -- test -x "$state" 2>/dev/null ||
    fail "the postgres user cannot enter $state; set TMPDIR to a folder it can reach"
fi

mapfile -t ports < <(node "$here/free-ports.js" 3)
[ ${#ports[@]} -eq 3 ] || fail "could not find three free ports"
export VARNOK_STATE_DIR=$state
export VARNOK_OPCUA_PORT=${ports[0]} VARNOK_GATEWAY_PORT=${ports[1]} VARNOK_DB_PORT=${ports[2]}
export CLASSROOM_PG_DATA=$state/pg/data
export PGHOST=127.0.0.1 PGPORT=$VARNOK_DB_PORT PGUSER=$db_user PGDATABASE=$db_name PGPASSWORD=$db_password

echo "classroom: starting services in $state (OPC UA $VARNOK_OPCUA_PORT, gateway $VARNOK_GATEWAY_PORT, db $VARNOK_DB_PORT)" >&2
timeout "$services_timeout_s" "$root/scripts/services" start >&2 || fail "scripts/services start failed"

# In the background, so that a signal reaches the trap at once.
node "$here/main.js" "$@" &
load_pid=$!
rc=0
wait "$load_pid" || rc=$?
load_pid=
case $rc in
  0 | 1 | 2) exit "$rc" ;;
  *) fail "the load ended by signal or with code $rc" ;;
esac
