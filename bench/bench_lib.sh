# What the whole-process benchmarks share; sourced by them.

# Checks the executable $1 and makes the folder $work, removed at exit.
bench_setup() {
  [ -x "$1" ] || { echo "no executable $1 (build the qortavlo target first)"; exit 2; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# bench_map LOG COMMAND...: runs the command once (which also warms the
# file cache); it must succeed and write a map, else its log is shown.
bench_map() {
  local log=$1
  shift
  "$@" 2> "$log" > /dev/null || { cat "$log"; exit 1; }
  grep -q "The map was written to" "$log" || { cat "$log"; exit 1; }
}

# bench_medians RUNS COMMAND...: runs the command RUNS times under GNU
# time, its output dropped, and prints the medians "wall cpu peak": wall
# seconds, CPU seconds (user + system) and peak resident memory in MB.
bench_medians() {
  local runs=$1 i
  shift
  [ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed"; exit 2; }
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$work/bench_time" -f "%e %U %S %M" "$@" > /dev/null 2>&1
    tail -n 1 "$work/bench_time"
  done | awk '{ w[NR] = $1; c[NR] = $2 + $3; m[NR] = $4 }
    function med(a, n,   i, j, t) {
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
    END { printf "%.2f %.3f %.0f\n", med(w, NR), med(c, NR), med(m, NR) / 1024 }'
}

# bench_points_program FILE TITLE SIZE TRANSPARENCY [OPTIONS]: a program
# drawing the points of $work/points.csv (lon, lat) over the lower 48 states
# at 1280x1024, as circles of SIZE pixels; OPTIONS, when given, are the
# points' data set options, parentheses included.
bench_points_program() {
  cat > "$1" <<PROGRAM
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=1280 GRAPHHEIGHT=1024;
TITLE "$2";
PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60 and ID not in (2, 15))) PLOTDATA=points${5:-};
  CHOROMAP / MAPID=ID;
  SCATTER X=lon Y=lat / MARKERATTRS=(SYMBOL=CircleFilled SIZE=$3) TRANSPARENCY=$4;
RUN;
PROGRAM
}

# bench_world_program FILE: a program drawing the countries of the world at
# 1:10m (countries-10m.json of the npm package world-atlas, fetched once
# with `npm pack` into $QORTAVLO_BENCH_DATA, default ~/.cache/qortavlo/bench,
# and copied beside FILE) joined with examples/data/world_countries_facts.csv,
# land area in seven classes, in Equal Earth at 1920x1080. False when the
# data cannot be had.
bench_world_program() {
  local data=${QORTAVLO_BENCH_DATA:-$HOME/.cache/qortavlo/bench} dir
  local world=$data/countries-10m.json
  dir=$(dirname "$1")
  if [ ! -s "$world" ] && command -v npm > /dev/null; then
    mkdir -p "$data"
    (cd "$work" && npm pack --silent world-atlas@2 > /dev/null 2>&1 &&
      tar -xzf world-atlas-*.tgz package/countries-10m.json &&
      mv package/countries-10m.json "$world")
  fi
  [ -s "$world" ] || return 1
  cp "$world" "$dir/countries_10m.json"
  cat > "$1" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=1920 GRAPHHEIGHT=1080;
TITLE "Countries by land area";
PROC TAVLO MAPDATA=countries_10m_countries MAPRESPDATA=ex.world_countries_facts;
  CHOROMAP area_km2 / MAPID=ID ID=id NUMLEVELS=7;
RUN;
EOF
}
