#!/usr/bin/env bash
# Whole-process drawing speed, from the command line: start, read the data,
# classify, draw and write the PNG.
#
#   0. A trivial map (the states, no response) at 640x480: start-up.
#   1. The US counties choropleth (examples/data/us_counties.csv with
#      unemployment.tsv, five quantile classes, outlines) at 1280x1024.
#      Target: at most 0.10 s CPU.
#   2. 1,000,000 scatter points (generated here) over the states at
#      1280x1024. Target: at most 0.20 s CPU.
#   3. The countries of the world at 1:10m (countries-10m.json of the npm
#      package world-atlas, fetched once with `npm pack` into
#      $QORTAVLO_BENCH_DATA, default ~/.cache/qortavlo/bench) joined with
#      examples/data/world_countries_facts.csv, land area in seven classes,
#      in Equal Earth at 1920x1080.
# (Ten million points: bench/csv_bench.sh; BY groups: bench/by_bench.sh.)
#
# Each map is drawn 5 times (after one run to warm the file cache); the
# median wall time, CPU seconds (user + system) and peak resident memory
# are reported. Give a second executable (an earlier build) to have its
# figures beside, the two run in turn.
#
# Usage: bench/render_bench.sh [path/to/qortavlo [path/to/earlier/qortavlo]]
#        (default: build/qortavlo). Needs GNU time (/usr/bin/time).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
before=${2:-}
[ -z "$before" ] || [ -x "$before" ] || { echo "no executable $before"; exit 2; }
bench_setup "$exe"

cat > "$work/trivial.tav" <<EOF
LIBRARY ex '$root/examples/data';
PROC TAVLO MAPDATA=ex.us_states;
  CHOROMAP / MAPID=ID;
RUN;
EOF

cat > "$work/counties.tav" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=1280 GRAPHHEIGHT=1024;
TITLE "Unemployment rate by county";
PROC TAVLO MAPDATA=ex.us_counties MAPRESPDATA=ex.unemployment;
  CHOROMAP rate / MAPID=ID ID=id NUMLEVELS=5 LEVELTYPE=QUANTILE LINEATTRS=(COLOR=gray THICKNESS=0.5);
RUN;
EOF

# A million points spread over the lower 48 states (a fixed seed, so every
# run draws the same).
awk 'BEGIN { srand(20240601); print "lon,lat";
             for (i = 0; i < 1000000; i++) printf "%.5f,%.5f\n", -124 + 57 * rand(), 25 + 24 * rand() }' \
  > "$work/points.csv"
bench_points_program "$work/points.tav" "A million points" 2 0.8

# executable, program -> "wall, CPU, peak", medians of 5 runs
measure() {
  local bin=$1 program=$2 wall cpu peak
  bench_map "$work/log" "$bin" --out "$work/out" "$program"
  read -r wall cpu peak < <(bench_medians 5 "$bin" --out "$work/out" "$program")
  printf '%s s wall, %s s CPU, %d MB' "$wall" "$cpu" "$peak"
}

run() {  # name, program
  printf '%-10s %s\n' "$1" "$(measure "$exe" "$2")"
  [ -z "$before" ] || printf '%-10s %s   (earlier build)\n' "" "$(measure "$before" "$2")"
}

bench_world_program "$work/world.tav" || echo "(world-atlas could not be fetched with npm)"

echo "Medians of 5 whole runs: wall, CPU (user + system), peak memory"
run trivial "$work/trivial.tav"
run counties "$work/counties.tav"
run points "$work/points.tav"
[ ! -s "$work/world.tav" ] || run world "$work/world.tav"
