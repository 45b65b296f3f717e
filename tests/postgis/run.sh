#!/usr/bin/env bash
# Data sets from a PostGIS database: a PostgreSQL server of its own (Debian's
# postgresql-15-postgis-3, installed here when missing) in a temporary
# folder, on 127.0.0.1 at a free port, with password login. The US states
# (a TopoJSON object) and the airports (a CSV file, typed columns) are
# loaded with ogr2ogr; the same map drawn once from the files and once from
# the database must come out alike. Bad sources (a wrong password, a table
# that does not exist, a port where nothing listens) must each end the step
# with one clean error naming the library and member, and no password may
# reach the log.
#
# Usage: run.sh QORTAVLO IMAGE_COMPARE WORKDIR
# Exit status 77 (skipped) only when the server cannot be had; any other
# failure fails.
set -u
# shellcheck source=../script_lib.sh
. "$(dirname "$0")/../script_lib.sh"
script_args "$@"
# The example data of the repository.
data=$root/examples/data
pgbin=${QORTAVLO_PGBIN:-/usr/lib/postgresql/15/bin}
postgis_control=/usr/share/postgresql/15/extension/postgis.control

for f in us-states-10m.topojson airports.csv; do
  [ -s "$data/$f" ] || fail "the example data file $data/$f is missing"
done

# --- the server and the loader, installed when missing
need=""
[ -x "$pgbin/initdb" ] && [ -x "$pgbin/pg_ctl" ] || need="$need postgresql-15"
[ -f "$postgis_control" ] || need="$need postgresql-15-postgis-3"
command -v psql > /dev/null || need="$need postgresql-client-15"
command -v ogr2ogr > /dev/null || need="$need gdal-bin"
if [ -n "$need" ]; then
  install_packages "PostGIS server" postgresql postgresql-15-postgis-3 gdal-bin
  [ -x "$pgbin/initdb" ] && [ -f "$postgis_control" ] ||
    skip "no PostGIS server: the packages were installed but $pgbin/initdb or PostGIS is missing"
  command -v ogr2ogr > /dev/null || fail "gdal-bin was installed but ogr2ogr is missing"
fi

# The server refuses to run as root: as root it runs as postgres.
if [ "$(id -u)" -eq 0 ]; then
  id postgres > /dev/null 2>&1 || fail "there is no postgres user to run the server as"
  as_server() { runuser -u postgres -- "$@"; }
else
  as_server() { "$@"; }
fi

# A TCP port nothing listens on (the kernel's pick, let go again).
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2> /dev/null && return
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 30000))
    (exec 3<> "/dev/tcp/127.0.0.1/$p") 2> /dev/null || { echo "$p"; return; }
  done
  return 1
}

# --- a server of our own, stopped on every path
tmp=$(mktemp -d /tmp/qv-postgis.XXXXXX) || fail "no temporary folder"
server_up=""
cleanup() {
  [ -n "$server_up" ] && as_server "$pgbin/pg_ctl" -D "$tmp/data" -m immediate stop > /dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
chmod 700 "$tmp"
[ "$(id -u)" -eq 0 ] && chown postgres: "$tmp"

user=mapper
secret="Qv${RANDOM}pw${RANDOM}Zx"
wrong="Wr${RANDOM}ng${RANDOM}Pw"
printf '%s\n' "$secret" > "$tmp/pwfile"
[ "$(id -u)" -eq 0 ] && chown postgres: "$tmp/pwfile"
as_server "$pgbin/initdb" -D "$tmp/data" -U "$user" --pwfile="$tmp/pwfile" \
  --auth=scram-sha-256 -E UTF8 --locale=C > "$tmp/initdb.log" 2>&1 ||
  { cat "$tmp/initdb.log"; fail "initdb failed"; }
rm -f "$tmp/pwfile"

port=""
for _ in 1 2 3; do
  p=$(free_port) || fail "no free port found"
  server_up=1  # a start that timed out may still come up: stop it too
  if as_server "$pgbin/pg_ctl" -D "$tmp/data" -l "$tmp/server.log" -w -t 60 \
       -o "-c listen_addresses=127.0.0.1 -p $p -k $tmp" start > /dev/null 2>&1; then
    port=$p
    break
  fi
done
[ -n "$port" ] || { tail -n 20 "$tmp/server.log"; fail "the PostgreSQL server did not start"; }

# The loaders take the password from the environment, never the command line.
export PGPASSWORD=$secret
pg_args=(-h 127.0.0.1 -p "$port" -U "$user" -v ON_ERROR_STOP=1 -q)
psql "${pg_args[@]}" -d postgres -c "CREATE DATABASE gis" > "$work/psql.log" 2>&1 &&
  psql "${pg_args[@]}" -d gis -c "CREATE EXTENSION postgis" >> "$work/psql.log" 2>&1 ||
  { cat "$work/psql.log"; fail "the database or the PostGIS extension could not be created"; }
load_target="PG:host=127.0.0.1 port=$port dbname=gis user=$user"
ogr2ogr -f PostgreSQL "$load_target" "$data/us-states-10m.topojson" states -nln states \
  > "$work/ogr2ogr.log" 2>&1 &&
  ogr2ogr -f PostgreSQL "$load_target" "$data/airports.csv" -oo AUTODETECT_TYPE=YES -nln airports \
    >> "$work/ogr2ogr.log" 2>&1 ||
  { cat "$work/ogr2ogr.log"; fail "ogr2ogr could not load the data"; }
# Values with a missing one, for the selections a database makes itself.
psql "${pg_args[@]}" -d gis -c "CREATE TABLE levels (code integer, v double precision,
    lon double precision, lat double precision);
  INSERT INTO levels VALUES (1, 1, -111, 39), (2, NULL, -112, 39), (3, 5, -111, 40),
    (4, 2.5, -112, 40);" >> "$work/psql.log" 2>&1 ||
  { cat "$work/psql.log"; fail "the table levels could not be made"; }
unset PGPASSWORD

# --- the same map from the files and from the database
run=$work/run
rm -rf "$run"
mkdir -p "$run/files" "$run/out-files" "$run/out-db" "$run/out-bad"
cp "$data/us-states-10m.topojson" "$data/airports.csv" "$run/files/"

# Four states with their airports, grouped by state: the group order and
# the legend follow the rows' order, the markers need numeric coordinates.
map_step() {  # $1 states member, $2 airports member
  cat << EOF
OPTIONS GRAPHWIDTH=640 GRAPHHEIGHT=480;
TITLE "Airports of the Four Corners";
PROC TAVLO MAPDATA=$1(WHERE=(name in ('Arizona' 'Colorado' 'New Mexico' 'Utah')))
           PLOTDATA=$2(WHERE=(state in ('AZ' 'CO' 'NM' 'UT')));
  CHOROMAP / MAPID=ID;
  SCATTER X=longitude Y=latitude / GROUP=state MARKERATTRS=(SYMBOL=circlefilled SIZE=5);
RUN;
EOF
}
connection="PG:host=127.0.0.1 port=$port dbname=gis user=$user password=$secret"
{ echo "LIBRARY src 'files';"; map_step src.us_states_10m_states src.airports; } > "$run/files.tav"
{ echo "LIBRARY pg '$connection';"; map_step pg.states pg.airports; } > "$run/db.tav"

draw() {  # $1 program, $2 output folder
  (cd "$run" && timeout 120 "$exe" --out "$2" "$1") > "$run/$2.stdout" 2> "$run/$2.log"
}
draw files.tav out-files
status=$?
[ "$status" = 0 ] || { cat "$run/out-files.log"; fail "the map from the files ended with status $status"; }
draw db.tav out-db
status=$?
[ "$status" = 0 ] || { cat "$run/out-db.log"; fail "the map from the database ended with status $status"; }
for d in out-files out-db; do
  [ -s "$run/$d/tavlo.png" ] || { cat "$run/$d.log"; fail "no $d/tavlo.png"; }
done
grep -q "^NOTE: Library PG is the database .*password=\*\*\*" "$run/out-db.log" ||
  { cat "$run/out-db.log"; fail "the log does not show the library's password as ***"; }
if ! cmp -s "$run/out-files/tavlo.png" "$run/out-db/tavlo.png"; then
  "$compare" --diff "$run/db.diff.png" \
    "$run/out-files/tavlo.png" "$run/out-db/tavlo.png" ||
    fail "the map from the database differs from the map from the files (difference $run/db.diff.png)"
fi

# --- WHERE selections the database makes itself select what the files do:
# a missing value is lower than every number here and NULL there.
printf 'code,v,lon,lat\n1,1,-111,39\n2,,-112,39\n3,5,-111,40\n4,2.5,-112,40\n' > "$run/files/levels.csv"
select_steps() {  # $1 library
  local w
  for w in "v < 3" "v > 2 and code <= 3" "v >= 1 and v ne 5" "3 > v or code = 3" "v in (1, 5) and lon < -110"; do
    echo "PROC TAVLO MAPDATA=$1.states(WHERE=(name = 'Utah')) PLOTDATA=$1.levels(WHERE=($w));"
    echo "  CHOROMAP / MAPID=ID; SCATTER X=lon Y=lat; RUN;"
  done
}
{ echo "LIBRARY src 'files';"; select_steps src | sed 's/src\.states/src.us_states_10m_states/'; } > "$run/select-files.tav"
{ echo "LIBRARY pg '$connection';"; select_steps pg; } > "$run/select-db.tav"
draw select-files.tav out-select-files || { cat "$run/out-select-files.log"; fail "the selections from the files failed"; }
draw select-db.tav out-select-db || { cat "$run/out-select-db.log"; fail "the selections from the database failed"; }
counts() { grep -o '^NOTE: [0-9]* observations\? selected from the data set [A-Z]*\.LEVELS' "$1" | cut -d' ' -f2 | tr '\n' ' '; }
[ "$(counts "$run/out-select-files.log")" = "3 1 2 4 2 " ] ||
  { cat "$run/out-select-files.log"; fail "the selections from the files: $(counts "$run/out-select-files.log")"; }
[ "$(counts "$run/out-select-db.log")" = "3 1 2 4 2 " ] ||
  { cat "$run/out-select-db.log"; fail "the selections from the database: $(counts "$run/out-select-db.log")"; }

# --- bad sources: each step ends with one error naming the library and member
nowhere=$(free_port) || fail "no free port found"
[ "$nowhere" != "$port" ] || fail "no second free port found"
bad_step() {  # $1 library, $2 connection, $3 member
  echo "LIBRARY $1 '$2';"
  echo "PROC TAVLO MAPDATA=$1.$3; CHOROMAP / MAPID=ID; RUN;"
}
{
  bad_step badpw "PG:host=127.0.0.1 port=$port dbname=gis user=$user password=$wrong" states
  bad_step pg "$connection" nosuch
  bad_step refused "PG:host=127.0.0.1 port=$nowhere dbname=gis user=$user password=$secret" states
  # A good step after them: the bad ones stop only themselves.
  echo "PROC TAVLO MAPDATA=pg.states(WHERE=(name = 'Utah')); CHOROMAP / MAPID=ID; RUN;"
} > "$run/bad.tav"
(cd "$run" && timeout 120 "$exe" --out out-bad bad.tav) > "$run/out-bad.stdout" 2> "$run/out-bad.log"
status=$?
log=$run/out-bad.log
[ "$status" -lt 128 ] && [ "$status" != 124 ] || { cat "$log"; fail "qortavlo crashed or hung on bad sources (status $status)"; }
[ "$status" != 0 ] || { cat "$log"; fail "bad sources ended with status 0"; }
check_error() {  # $1 what, $2 pattern the ERROR line must match (case ignored)
  grep -i -E -q "^ERROR: .*$2" "$log" || { cat "$log"; fail "$1: no ERROR line matching '$2'"; }
}
check_error "wrong password" "data set badpw\.states .*\(library BADPW\) .*password authentication failed"
check_error "missing table" "data set pg\.nosuch does not exist.*\(library PG\)"
check_error "connection refused" "data set refused\.states .*\(library REFUSED\) .*refused"
# Every line is the program's own: GDAL and libpq write nothing of theirs.
stray=$(grep -v -E '^(NOTE|WARNING|ERROR)( \[[0-9-]+\])?: ' "$log")
[ -z "$stray" ] || { cat "$log"; fail "lines in the log that are not messages: $stray"; }
n=$(grep -c '^ERROR:' "$log")
[ "$n" = 3 ] || { cat "$log"; fail "$n ERROR lines for three bad sources"; }
n=$(grep -c '^NOTE: PROCEDURE TAVLO ended with return code 1012\.' "$log")
[ "$n" = 3 ] || { cat "$log"; fail "$n steps ended with return code 1012, expected three"; }
[ -s "$run/out-bad/tavlo.png" ] || { cat "$log"; fail "the good step after the bad ones drew nothing"; }
for s in "$secret" "$wrong"; do
  if grep -r -q -F -e "$s" "$run"/*.log "$run"/*.stdout; then
    grep -r -F -e "$s" "$run"/*.log "$run"/*.stdout
    fail "a password reached the log"
  fi
done
echo "PASSED: the map from PostGIS, in $((SECONDS))s"
