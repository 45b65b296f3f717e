#!/usr/bin/env bash
# The HTML page in a real browser: qortavlo writes a county choropleth as
# PNG and as an HTML page (tips from TIP=, TIPFORMAT=, TIPLABEL= and a
# display format, links from URL=) and a BY step as one page; headless
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
chromium=${QORTAVLO_CHROMIUM:-/usr/bin/chromium}

# --- the browser
if [ ! -x "$chromium" ]; then
  install_packages browser chromium
  [ -x "$chromium" ] || skip "no browser: chromium was installed but $chromium is missing"
fi

# --- playwright-core, pinned by package-lock.json, outside the source tree
command -v node > /dev/null || fail "node is missing (Node.js 20 or later is needed to drive the browser)"
npmdir=$work/npm
mkdir -p "$npmdir"
if ! cmp -s "$here/package-lock.json" "$npmdir/installed.lock" ||
   [ ! -d "$npmdir/node_modules/playwright-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$npmdir/"
  (cd "$npmdir" && npm ci --no-audit --no-fund --loglevel=error) || fail "npm ci of playwright-core failed"
  cp "$here/package-lock.json" "$npmdir/installed.lock"
fi

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
} > "$run/program.tav"
(cd "$run" && QORTAVLO_TILE_CACHE="$run/tile-cache" timeout 120 "$exe" --out out program.tav) \
  > "$run/stdout.txt" 2> "$run/log.txt"
status=$?
[ "$status" = 0 ] || { cat "$run/log.txt"; fail "qortavlo ended with status $status"; }
for f in tavlo.png tavlo1.html tavlo2.html; do
  [ -s "$run/out/$f" ] || { cat "$run/log.txt"; fail "no $f"; }
done
# The BY step makes one page, named once in the log, and no other file.
n=$(grep -c "tavlo2.html" "$run/log.txt")
[ "$n" = 1 ] || { cat "$run/log.txt"; fail "the log names tavlo2.html $n times, expected once"; }
extra=$(cd "$run/out" && ls | grep -v -x -e tavlo.png -e tavlo1.html -e tavlo2.html)
[ -z "$extra" ] || fail "files other than the three expected: $extra"

# --- the browser's view
node_pid=""
cleanup() { [ -n "$node_pid" ] && kill "$node_pid" 2> /dev/null; }
trap cleanup EXIT
trap 'cleanup; exit 1' INT TERM
QV_NODE_MODULES="$npmdir/node_modules" QV_CHROMIUM="$chromium" \
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
echo "PASSED: the HTML pages in Chromium"
