#!/usr/bin/env bash
# Whole-process time and peak memory of a map of 2 and 20 million points
# kept in PostgreSQL, read row by row (AGGREGATE=NEVER) and counted in the
# database (ALWAYS; AUTO, the default, does the same for tables of more
# rows than pixels). The points are made in SQL from a fixed seed, around
# thirteen cities of the lower 48 states, as GPS fixes crowd; the map is
# bench_points_program's (1280x1024, circles of 3 pixels, 80% see-through).
# A PostgreSQL server of its own (Debian's postgresql-15, as
# tests/postgis/run.sh installs) runs in a temporary folder on 127.0.0.1
# and is stopped on every path. Row by row is timed for 2 million only: 20
# million rows take minutes and gigabytes that way. Each figure is the
# median of N runs: wall and CPU seconds of qortavlo itself (the server's
# work shows in the wall time) and its peak memory.
#
# Usage: bench/pg_aggregate_bench.sh [path/to/qortavlo] [N]   (default: build/qortavlo, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
runs=${2:-3}
pgbin=${QORTAVLO_PGBIN:-/usr/lib/postgresql/15/bin}
[ -x "$pgbin/initdb" ] && command -v psql > /dev/null ||
  { echo "PostgreSQL 15 is needed (Debian postgresql-15)"; exit 2; }
bench_setup "$exe"

# The server refuses to run as root: as root it runs as postgres.
if [ "$(id -u)" -eq 0 ]; then
  as_server() { runuser -u postgres -- "$@"; }
  chown postgres: "$work"
else
  as_server() { "$@"; }
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
trap 'as_server "$pgbin/pg_ctl" -D "$work/data" -m immediate stop > /dev/null 2>&1; rm -rf "$work"' EXIT
as_server "$pgbin/initdb" -D "$work/data" -U bench --auth=trust -E UTF8 --locale=C > /dev/null
as_server "$pgbin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
  -o "-c listen_addresses=127.0.0.1 -p $port -k $work" start > /dev/null
sql() { psql -h 127.0.0.1 -p "$port" -U bench -d postgres -v ON_ERROR_STOP=1 -q -c "$1"; }
for n in 2000000 20000000; do
  sql "SELECT setseed(0.5);
    CREATE TABLE points$n AS SELECT
      (ARRAY[-122.3,-118.2,-112.1,-104.9,-97.7,-95.4,-90.1,-87.6,-84.4,-80.2,-77.0,-74.0,-71.1])[1 + i % 13]
        + 1.5 * (random() + random() - 1) AS lon,
      (ARRAY[47.6,34.1,33.4,39.7,30.3,29.8,30.0,41.9,33.7,25.8,38.9,40.7,42.4])[1 + i % 13]
        + 1.0 * (random() + random() - 1) AS lat
      FROM generate_series(1, $n) i;" > /dev/null
  sql "VACUUM ANALYZE points$n"
done
for n in 2000000 20000000; do
  for mode in NEVER ALWAYS AUTO; do
    bench_points_program "$work/p$n$mode.tav" "$n points" 3 0.8
    sed -i "1i LIBRARY pg 'PG:host=127.0.0.1 port=$port dbname=postgres user=bench';\nOPTIONS AGGREGATE=$mode;" \
      "$work/p$n$mode.tav"
    sed -i "s/PLOTDATA=points/PLOTDATA=pg.points$n/" "$work/p$n$mode.tav"
  done
done

measure() {  # program
  local wall cpu peak
  bench_map "$work/$1.log" "$exe" --out "$work/out" "$work/$1.tav"
  read -r wall cpu peak < <(bench_medians "$runs" "$exe" --out "$work/out" "$work/$1.tav")
  printf "%8.2f %8.2f %9.0f   %s\n" "$wall" "$cpu" "$peak" \
    "$(grep -o '[0-9]* cells returned' "$work/$1.log" || echo 'every row read')"
}

mkdir -p "$work/out"
echo "== whole process, median of $runs runs"
printf '%-30s %8s %8s %9s\n' "" "wall (s)" "cpu (s)" "peak (MB)"
printf '%-30s %s\n' "2 M points, row by row" "$(measure p2000000NEVER)"
printf '%-30s %s\n' "2 M points, AGGREGATE=ALWAYS" "$(measure p2000000ALWAYS)"
printf '%-30s %s\n' "2 M points, AGGREGATE=AUTO" "$(measure p2000000AUTO)"
printf '%-30s %s\n' "20 M points, AGGREGATE=ALWAYS" "$(measure p20000000ALWAYS)"
printf '%-30s %s\n' "20 M points, AGGREGATE=AUTO" "$(measure p20000000AUTO)"
