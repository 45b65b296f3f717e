#!/usr/bin/env bash
# Whole-process time and memory of reading a big vector file and drawing it:
# the 38 MB world GeoJSON of the npm package @geo-maps/countries-maritime-10m
# (250 countries with their maritime zones, 1.9 million vertices, one
# property A3), every country drawn as a region at 1920x1080 as PNG. The
# file is fetched once with `npm pack` into $QORTAVLO_BENCH_DATA (default
# ~/.cache/qortavlo/bench). Prints the medians of N runs: wall and CPU
# seconds (user + system) and peak memory.
#
# Targets: under 1 s of CPU (with margin) and under 150 MB peak. Before the
# map rows were stored lean (the whole file parsed at once, every vertex a
# full row repeating its feature's properties) this took about 1.5 s of CPU
# and 330 MB.
#
# Usage: bench/bigfile_bench.sh [path/to/qortavlo] [N]   (default: build/qortavlo, 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
runs=${2:-5}
bench_setup "$exe"

data=${QORTAVLO_BENCH_DATA:-$HOME/.cache/qortavlo/bench}
world=$data/countries_maritime_10m.geojson
if [ ! -s "$world" ]; then
  command -v npm > /dev/null || { echo "npm is needed to fetch the file once"; exit 2; }
  mkdir -p "$data"
  (cd "$work" && npm pack --silent @geo-maps/countries-maritime-10m > /dev/null &&
    tar -xzf geo-maps-countries-maritime-10m-*.tgz package/map.geo.json &&
    mv package/map.geo.json "$world")
fi
[ -s "$world" ] || { echo "the file could not be fetched"; exit 2; }
cp "$world" "$work/world10.geojson"

cat > "$work/world.tav" <<EOF
LIBRARY w '$work';
OPTIONS GRAPHWIDTH=1920 GRAPHHEIGHT=1080;
PROC TAVLO MAPDATA=w.world10;
  CHOROMAP / MAPID=A3;
RUN;
EOF

mkdir -p "$work/out"
bench_map "$work/world.log" "$exe" --out "$work/out" "$work/world.tav"
read -r wall cpu peak < <(bench_medians "$runs" "$exe" --out "$work/out" "$work/world.tav")
echo "== whole process, median of $runs runs (targets: cpu < 1 s, peak < 150 MB)"
printf '%-34s %8s %8s %9s\n' "" "wall (s)" "cpu (s)" "peak (MB)"
printf '%-34s %8.3f %8.3f %9.0f\n' "world 1:10m GeoJSON to PNG" "$wall" "$cpu" "$peak"
