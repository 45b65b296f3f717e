#!/usr/bin/env bash
# Whole-process drawing speed, from the command line: read the data,
# classify, draw and write the PNG.
#
#   1. The US counties choropleth (examples/data/us_counties.csv with
#      unemployment.tsv, five quantile classes, outlines) at 1280x1024.
#      Target: at most 0.2 s.
#   2. 1,000,000 scatter points (generated here) over the states at
#      1280x1024. Target: at most 0.5 s.
#   3. The countries of the world at 1:10m (countries-10m.json of the npm
#      package world-atlas, fetched once with `npm pack` into
#      $QORTAVLO_BENCH_DATA, default ~/.cache/qortavlo/bench) joined with
#      examples/data/world_countries_facts.csv, land area in seven classes,
#      in Equal Earth at 1920x1080. Target: at most 0.3 s.
#
# The counties and the world are drawn in the projection chosen for them
# (Albers and Equal Earth); hyperfine reports mean and median.
#
# Usage: bench/render_bench.sh [path/to/qortavlo]   (default: build/qortavlo)
# Uses hyperfine when it is installed, else a loop timed with date.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$root/build/qortavlo}
[ -x "$exe" ] || { echo "no executable $exe (build the qortavlo target first)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
cat > "$work/points.tav" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=1280 GRAPHHEIGHT=1024;
TITLE "A million points";
PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60 and ID not in (2, 15))) PLOTDATA=points;
  CHOROMAP / MAPID=ID;
  SCATTER X=lon Y=lat / MARKERATTRS=(SYMBOL=CircleFilled SIZE=2) TRANSPARENCY=0.8;
RUN;
EOF

run() {  # name, program
  local name=$1 program=$2
  "$exe" --out "$work/out" "$program" 2> "$work/$name.log" || { cat "$work/$name.log"; exit 1; }
  grep -q "The map was written to" "$work/$name.log" || { cat "$work/$name.log"; exit 1; }
  if command -v hyperfine > /dev/null; then
    hyperfine --warmup 3 --runs 20 --style basic --export-json "$work/$name.json" \
      -n "$name" "$exe --out $work/out $program 2> /dev/null"
    python3 -c "import json,sys; print('$name: median %.1f ms' % (json.load(open(sys.argv[1]))['results'][0]['median'] * 1000))" \
      "$work/$name.json" 2> /dev/null || true
  else
    local runs=10 start end
    start=$(date +%s.%N)
    for _ in $(seq $runs); do "$exe" --out "$work/out" "$program" 2> /dev/null; done
    end=$(date +%s.%N)
    echo "$name: $(echo "($end - $start) / $runs" | bc -l | cut -c1-6) s per run (mean of $runs)"
  fi
}

# The 1:10m world, fetched once.
data=${QORTAVLO_BENCH_DATA:-$HOME/.cache/qortavlo/bench}
world=$data/countries-10m.json
if [ ! -s "$world" ] && command -v npm > /dev/null; then
  mkdir -p "$data"
  (cd "$work" && npm pack --silent world-atlas@2 > /dev/null 2>&1 &&
    tar -xzf world-atlas-*.tgz package/countries-10m.json &&
    mv package/countries-10m.json "$world") || echo "(world-atlas could not be fetched with npm)"
fi
if [ -s "$world" ]; then
  cp "$world" "$work/countries_10m.json"
  cat > "$work/world.tav" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=1920 GRAPHHEIGHT=1080;
TITLE "Countries by land area";
PROC TAVLO MAPDATA=countries_10m_countries MAPRESPDATA=ex.world_countries_facts;
  CHOROMAP area_km2 / MAPID=ID ID=id NUMLEVELS=7;
RUN;
EOF
fi

echo "== counties choropleth, 1280x1024 (target <= 0.2 s)"
run counties "$work/counties.tav"
echo "== 1,000,000 scatter points, 1280x1024 (target <= 0.5 s)"
run points "$work/points.tav"
if [ -s "$work/world.tav" ]; then
  echo "== the world at 1:10m in Equal Earth, 1920x1080 (target <= 0.3 s)"
  run world "$work/world.tav"
fi
