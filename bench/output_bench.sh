#!/usr/bin/env bash
# Whole-process time and file size of each kind of output: the US counties
# choropleth (examples/data/us_counties.csv with unemployment.tsv, five
# quantile classes, outlines, a title and a legend) at 1280x1024, written
# as PNG, SVG, PDF and HTML (OPTIONS OUTPUT=). Each kind: the median of N
# runs (hyperfine when it is installed, else a timed loop), the size of
# the file, and the time against PNG's.
#
# Targets: SVG, HTML and PDF take no more than twice the PNG time, and the
# PDF is at most 480 KB. Before shared region borders were stroked once and
# PDF paths put on an eighth-of-a-point grid (medians of 10 on a busy 2-core
# machine): PNG 0.153 s / 162 KB, SVG 0.093 s / 1296 KB, PDF 0.357 s /
# 872 KB (2.33x PNG), HTML 0.105 s / 1302 KB; after: PNG 0.129 s / 162 KB,
# SVG 0.102 s / 1296 KB, PDF 0.263 s / 459 KB (2.04x; 1.95x in CPU time,
# 0.258 s against 0.132 s), HTML 0.096 s / 1302 KB. This map's 0.5-pixel
# outlines are hairlines, which PNG, SVG and HTML still draw region by
# region; with THICKNESS=2 its SVG is 1102 KB where it was 1296 KB.
#
# Usage: bench/output_bench.sh [path/to/qortavlo] [N]   (default: build/qortavlo, 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
runs=${2:-10}
bench_setup "$exe"

for kind in PNG SVG PDF HTML; do
  cat > "$work/$kind.tav" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=1280 GRAPHHEIGHT=1024 OUTPUT=$kind;
TITLE "Unemployment rate by county";
PROC TAVLO MAPDATA=ex.us_counties MAPRESPDATA=ex.unemployment;
  CHOROMAP rate / MAPID=ID ID=id NUMLEVELS=5 LEVELTYPE=QUANTILE LINEATTRS=(COLOR=gray THICKNESS=0.5);
RUN;
EOF
done

# Median seconds of `runs` runs of one program.
median() {  # kind
  local kind=$1
  if command -v hyperfine > /dev/null; then
    hyperfine --warmup 2 --runs "$runs" --style none --export-json "$work/$kind.json" \
      "$exe --out $work/$kind $work/$kind.tav 2> /dev/null" > /dev/null 2> "$work/$kind.hyperfine"
    python3 -c "import json,sys; print('%.4f' % json.load(open(sys.argv[1]))['results'][0]['median'])" \
      "$work/$kind.json"
  else
    local i start end
    for i in $(seq "$runs"); do
      start=$(date +%s.%N)
      "$exe" --out "$work/$kind" "$work/$kind.tav" 2> /dev/null
      end=$(date +%s.%N)
      echo "$end - $start" | bc -l
    done | sort -n | awk '{ t[NR] = $1 } END { printf "%.4f\n", NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
  fi
}

echo "== the counties choropleth at 1280x1024, median of $runs whole runs"
printf '%-5s %10s %12s %8s\n' kind "time (s)" "size (KB)" "x PNG"
png_time=""
for kind in PNG SVG PDF HTML; do
  ext=$(echo "$kind" | tr 'A-Z' 'a-z')
  # One run first: it must succeed and write its file.
  "$exe" --out "$work/$kind" "$work/$kind.tav" 2> "$work/$kind.log" || { cat "$work/$kind.log"; exit 1; }
  file=$work/$kind/tavlo.$ext
  [ -s "$file" ] || { cat "$work/$kind.log"; echo "no $file"; exit 1; }
  t=$(median "$kind")
  [ -n "$png_time" ] || png_time=$t
  size=$(stat -c %s "$file")
  ratio=$(echo "$t / $png_time" | bc -l)
  verdict=""
  case $kind in SVG|HTML|PDF) verdict=$(echo "$ratio <= 2" | bc -l | sed 's/1/  (target met)/; s/0/  (over the 2x target)/') ;; esac
  [ "$kind" = PDF ] && [ "$size" -gt $((480 * 1024)) ] && verdict="$verdict  (over 480 KB)"
  printf '%-5s %10.3f %12.1f %8.2f%s\n' "$kind" "$t" "$(echo "$size / 1024" | bc -l)" "$ratio" "$verdict"
done
