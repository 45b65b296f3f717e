#!/usr/bin/env bash
# A page of many marks: 150,000 points (generated here, a fixed seed) over
# the lower 48 states at 640x480 (filled circles), each with a tip of two values and a link,
# written as HTML. Reports the run (median wall time, CPU seconds and peak
# memory of 5), the page's size and, in headless Chromium (Debian's
# chromium and playwright-core, set up as tests/browser/run.sh does), the
# median of 3 loads of the time from the start of loading until pointing
# at a point shows its tip, and until the page's load event. Give a second
# executable (an earlier build) to have its figures beside.
#
# Targets: a page of at most 6 MB that shows a tip within 2 s.
#
# Usage: bench/html_bench.sh [path/to/qortavlo [path/to/earlier/qortavlo]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
source "$root/tests/script_lib.sh"
exe=${1:-$root/build/qortavlo}
before=${2:-}
[ -z "$before" ] || [ -x "$before" ] || { echo "no executable $before"; exit 2; }
bench_setup "$exe"
browser_setup "${QORTAVLO_BENCH_DATA:-$HOME/.cache/qortavlo/bench}/npm"

awk 'BEGIN { srand(20240601); print "lon,lat,name,v,url";
             for (i = 0; i < 150000; i++)
               printf "%.5f,%.5f,Point %d,%d,https://example.org/p/%d\n",
                      -124 + 57 * rand(), 25 + 24 * rand(), i, int(1000 * rand()), i }' \
  > "$work/points.csv"
for kind in HTML SVG; do
  cat > "$work/$kind.tav" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS OUTPUT=$kind;
PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60 and ID not in (2, 15))) PLOTDATA=points;
  CHOROMAP / MAPID=ID;
  SCATTER X=lon Y=lat / TIP=(name v) URL=url MARKERATTRS=(SYMBOL=CircleFilled);
RUN;
EOF
done

report() {  # label executable
  local label=$1 bin=$2 wall cpu peak size tip
  rm -rf "$work/out"
  bench_map "$work/log" "$bin" --out "$work/out" "$work/SVG.tav"
  mv "$work/out/tavlo.svg" "$work/map.svg"
  bench_map "$work/log" "$bin" --out "$work/out" "$work/HTML.tav"
  read -r wall cpu peak < <(bench_medians 5 "$bin" --out "$work/out" "$work/HTML.tav")
  size=$(stat -c %s "$work/out/tavlo.html")
  tip=$(QV_NODE_MODULES="$node_modules" QV_CHROMIUM="$chromium" \
          node "$root/bench/html_first_tip.mjs" "$work/out/tavlo.html" "$work/map.svg" 3) ||
    { echo "$tip"; exit 1; }
  printf '%-9s run %5.2f s wall %6.3f s CPU %5s MB   page %6.2f MB   %s\n' \
    "$label" "$wall" "$cpu" "$peak" "$(echo "$size / 1048576" | bc -l)" "$tip"
}

echo "== 150,000 points with tips and links as HTML (640x480)"
report "this" "$exe"
[ -z "$before" ] || report "earlier" "$before"
