#!/usr/bin/env bash
# The HTML page in a real browser: qortavlo writes a county choropleth as
# PNG and as an HTML page (tips from TIP=, TIPFORMAT=, TIPLABEL= and a
# display format, links from URL=), a BY step as one page, and 150,000
# points with tips and links over the states as HTML (the points one
# picture), SVG (where they stay marks of their own) and PNG; headless
# Chromium (Debian's chromium, installed here when missing) driven by
# playwright-core (installed with npm ci from package-lock.json into the
# build tree) loads the pages from file:// and html_page.mjs checks them.
#
# Usage: run.sh QORTAVLO IMAGE_COMPARE WORKDIR
# Exit status 77 (skipped) only when no browser can be had; any other
# failure fails.
set -u
# shellcheck source=../script_lib.sh
. "$(dirname "$0")/../script_lib.sh"
script_args "$@"
here=$(cd "$(dirname "$0")" && pwd)
data=$root/examples/data

# --- the browser, and playwright-core outside the source tree
browser_setup "$work/npm"

# --- the maps
run=$work/run
rm -rf "$run"
mkdir -p "$run/out"
# Counties of Colorado and Utah with their name, rate, an amount in whole
# cents and a link each; the rate and the amount are formatted in the tips.
awk -F'\t' 'NR > 1 { rate[$1 + 0] = $2 }
  END { for (id in rate) print id "\t" rate[id] }' "$data/unemployment.tsv" > "$run/rates.tsv"
awk -F, -v OFS=, 'FNR == NR { split($0, a, "\t"); rate[a[1]] = a[2]; next }
  FNR == 1 { print "id", "name", "rate", "spend", "url"; next }
  { id = $1 + 0 }
  ((id >= 8000 && id < 9000) || (id >= 49000 && id < 50000)) && !(id in seen) && (id in rate) {
    seen[id] = 1
    printf "%d,%s,%s,%d.%02d,https://example.org/county/%d?src=map&id=%d\n",
           id, $2, rate[id], 1000 + (id * 7919) % 90000, (id * 31) % 100, id, id
  }' "$run/rates.tsv" "$data/us_counties.csv" > "$run/resp.csv"
awk -F, 'NR == 1 || $4 == "ID" || $4 == "NV" || $4 == "UT"' "$data/airports_by_state.csv" \
  > "$run/airports.csv"
# 150,000 points over the western states (a fixed seed), each with a tip
# and a link: more than a layer's marks that an HTML page keeps apart, so
# the page draws them as one picture.
awk 'BEGIN { srand(36); print "lon,lat,name,v,url";
             for (i = 0; i < 150000; i++)
               printf "%.5f,%.5f,Point %d,%d,https://example.org/p/%d\n",
                      -124 + 20 * rand(), 31 + 18 * rand(), i, int(1000 * rand()), i }' \
  > "$run/points.csv"
points="PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60 and ID not in (2, 15))) PLOTDATA=points;
  CHOROMAP / MAPID=ID TIP=(NAME);
  SCATTER X=lon Y=lat / TIP=(name v) URL=url MARKERATTRS=(SYMBOL=CircleFilled SIZE=5);
RUN;"
step="PROC TAVLO MAPDATA=ex.us_counties(WHERE=((ID >= 8000 and ID < 9000) or (ID >= 49000 and ID < 50000)))
           MAPRESPDATA=resp(FORMAT=(rate PERCENT8.1));
  CHOROMAP rate / MAPID=ID ID=id NUMLEVELS=4 TIP=(name rate spend)
                  TIPFORMAT=(AUTO AUTO DOLLAR10.2) TIPLABEL=(\"County\" AUTO \"Spending\") URL=url;
RUN;"
{
  echo "LIBRARY ex '$data';"
  echo "OPTIONS GRAPHWIDTH=480 GRAPHHEIGHT=360;"
  echo "TITLE \"Unemployment in Colorado and Utah\";"
  echo "OPTIONS OUTPUT=PNG;"
  echo "$step"
  echo "OPTIONS OUTPUT=HTML;"
  echo "$step"
  echo "TITLE \"Airports of #BYVALUE(state)\";"
  echo "OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240;"
  echo "PROC TAVLO MAPDATA=ex.us_states(WHERE=(NAME in ('Idaho' 'Nevada' 'Utah'))) PLOTDATA=airports;"
  echo "  CHOROMAP / MAPID=ID;"
  echo "  SCATTER X=longitude Y=latitude / TIP=(name city) MARKERATTRS=(SYMBOL=circlefilled SIZE=5);"
  echo "  BY state;"
  echo "RUN;"
  echo "TITLE \"150,000 points\";"
  echo "OPTIONS GRAPHWIDTH=640 GRAPHHEIGHT=480 OUTPUT=HTML;"
  echo "$points"
  echo "OPTIONS OUTPUT=SVG;"
  echo "$points"
  echo "OPTIONS OUTPUT=PNG;"
  echo "$points"
} > "$run/program.tav"
(cd "$run" && QORTAVLO_TILE_CACHE="$run/tile-cache" timeout 120 "$exe" --out out program.tav) \
  > "$run/stdout.txt" 2> "$run/log.txt"
status=$?
[ "$status" = 0 ] || { cat "$run/log.txt"; fail "qortavlo ended with status $status"; }
files="tavlo.png tavlo1.html tavlo2.html tavlo3.html tavlo4.svg tavlo5.png"
for f in $files; do
  [ -s "$run/out/$f" ] || { cat "$run/log.txt"; fail "no $f"; }
done
# The BY step makes one page, named once in the log, and no other file.
n=$(grep -c "tavlo2.html" "$run/log.txt")
[ "$n" = 1 ] || { cat "$run/log.txt"; fail "the log names tavlo2.html $n times, expected once"; }
extra=$(cd "$run/out" && ls | grep -v -x $(printf -- '-e %s ' $files))
[ -z "$extra" ] || fail "files other than those expected: $extra"
# The page of 150,000 points keeps every tip and link in at most 6 MB.
size=$(stat -c %s "$run/out/tavlo3.html")
[ "$size" -le $((6 * 1024 * 1024)) ] || fail "the page of 150,000 points has $size bytes, more than 6 MB"

# --- the browser's view
node_pid=""
cleanup() { [ -n "$node_pid" ] && kill "$node_pid" 2> /dev/null; }
trap cleanup EXIT
trap 'cleanup; exit 1' INT TERM
QV_NODE_MODULES="$node_modules" QV_CHROMIUM="$chromium" \
  timeout 300 node "$here/html_page.mjs" "$run" &
node_pid=$!
wait "$node_pid"
status=$?
node_pid=""
[ "$status" = 0 ] || fail "the page checks failed (status $status)"

# The map as the browser shows it is the PNG qortavlo draws (the text is
# rasterized by each in its own way: about 1.2% of the pixels differ).
"$compare" --tolerance 32 --fraction 0.02 --diff "$run/browser.diff.png" \
  "$run/browser.png" "$run/out/tavlo.png" ||
  fail "the browser's map differs from the PNG (screenshot $run/browser.png, difference $run/browser.diff.png)"
# So does the map whose points are one picture.
"$compare" --tolerance 32 --fraction 0.02 --diff "$run/points.diff.png" \
  "$run/points.png" "$run/out/tavlo5.png" ||
  fail "the browser's map of 150,000 points differs from the PNG (screenshot $run/points.png, difference $run/points.diff.png)"
echo "PASSED: the HTML pages in Chromium"
