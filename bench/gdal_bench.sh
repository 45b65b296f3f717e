#!/usr/bin/env bash
# Whole-process time of the US counties choropleth (unemployment.tsv, five
# quantile classes) at 1280x1024 with the county shapes read from the
# topology (our own reader) and from a GeoPackage made of it with ogr2ogr
# (through the GDAL module), and of the trivial map, which reads no GDAL
# source and so must not pay for loading GDAL. Each: the median of N runs,
# wall and CPU seconds (user + system) and peak memory.
#
# Usage: bench/gdal_bench.sh [path/to/qortavlo] [N]   (default: build/qortavlo, 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
runs=${2:-7}
command -v ogr2ogr > /dev/null || { echo "ogr2ogr is needed (Debian gdal-bin)"; exit 2; }
bench_setup "$exe"

cp "$root/examples/data/us-counties-10m.topojson" "$root/examples/data/unemployment.tsv" "$work/"
ogr2ogr -f GPKG "$work/counties.gpkg" "$work/us-counties-10m.topojson" counties
for src in us_counties_10m_counties counties; do
  cat > "$work/$src.tav" <<EOF
LIBRARY b '$work';
OPTIONS GRAPHWIDTH=1280 GRAPHHEIGHT=1024;
PROC TAVLO MAPDATA=b.$src MAPRESPDATA=b.unemployment;
  CHOROMAP rate / MAPID=ID ID=id NUMLEVELS=5 LEVELTYPE=QUANTILE;
RUN;
EOF
done
printf 'ID,SEGMENT,LONG,LAT\n1,1,0,0\n1,1,1,0\n1,1,0,1\n1,1,0,0\n' > "$work/tiny.csv"
cat > "$work/trivial.tav" <<EOF
LIBRARY b '$work';
PROC TAVLO MAPDATA=b.tiny;
  CHOROMAP / MAPID=ID;
RUN;
EOF

# "wall cpu peak" medians of `runs` runs of one program.
measure() {  # program
  local wall cpu peak
  read -r wall cpu peak < <(bench_medians "$runs" "$exe" --out "$work/out" "$work/$1.tav")
  printf "%8.3f %8.3f %9.0f\n" "$wall" "$cpu" "$peak"
}

mkdir -p "$work/out"
for p in us_counties_10m_counties counties trivial; do
  "$exe" --out "$work/out" "$work/$p.tav" 2> "$work/$p.log" || { cat "$work/$p.log"; exit 1; }
done
echo "== whole process, median of $runs runs"
printf '%-34s %8s %8s %9s\n' "" "wall (s)" "cpu (s)" "peak (MB)"
printf '%-34s %s\n' "counties from TopoJSON" "$(measure us_counties_10m_counties)"
printf '%-34s %s\n' "counties from GeoPackage (GDAL)" "$(measure counties)"
printf '%-34s %s\n' "trivial map (no GDAL source)" "$(measure trivial)"
