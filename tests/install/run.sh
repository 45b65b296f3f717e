#!/usr/bin/env bash
# `cmake --install` into a temporary prefix, then the installed command run
# from its new place: it must draw a map from a Shapefile (made by ogr2ogr)
# through the GDAL module installed beside it, with no variable pointing at
# either. Then, with the installed module taken away, the same run must fail
# naming only the places an installation uses: the build folder is no
# fallback, so the first run had loaded the installed module.
#
# Usage: run.sh BUILD_DIR
# Works in a temporary folder outside the build, removed when all went well.
set -u
fail() { echo "FAILED: $* (see $work)"; exit 1; }
[ $# = 1 ] || { echo "usage: run.sh BUILD_DIR"; exit 2; }
build=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/qortavlo-install.XXXXXX")
root=$(cd "$(dirname "$0")/../.." && pwd)
command -v ogr2ogr > /dev/null || fail "ogr2ogr (gdal-bin, see scripts/bootstrap.sh) is missing"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install failed"; }
exe=$prefix/bin/qortavlo
[ -x "$exe" ] || fail "no $exe"
module=$(find "$prefix" -name qortavlo-ogr.so)
[ "$(printf '%s\n' "$module" | wc -l)" = 1 ] && [ -f "$module" ] ||
  fail "expected one qortavlo-ogr.so under $prefix, found: $module"
case $module in "$prefix"/lib*/qortavlo/qortavlo-ogr.so) ;; *) fail "module at $module" ;; esac

mkdir -p "$work/run/data"
ogr2ogr -f 'ESRI Shapefile' "$work/run/data/states.shp" \
  "$root/examples/data/us-states-10m.topojson" states 2> "$work/ogr2ogr.log" ||
  { cat "$work/ogr2ogr.log"; fail "ogr2ogr could not make the Shapefile"; }
cat > "$work/run/map.tav" <<'TAV'
LIBRARY d 'data';
PROC TAVLO MAPDATA=d.states;
  CHOROMAP / MAPID=ID;
RUN;
TAV

# Runs the installed command in $work/run with nothing set that points at
# the module or the renderer, and with the build folder not the current one.
run() {
  (cd "$work/run" && env -u QORTAVLO_OGR_MODULE -u QOR_KDLG_CRENDER_PATH \
    "$exe" --out out --log "$work/run/$1.log" map.tav > /dev/null 2>&1)
}

rm -rf "$work/run/out"
run installed || { cat "$work/run/installed.log"; fail "the installed command failed"; }
grep -q '^ERROR' "$work/run/installed.log" && { cat "$work/run/installed.log"; fail "errors logged"; }
[ -s "$work/run/out/tavlo.png" ] || fail "no map written"

# Without the installed module: the run fails and names where it looked.
rm -f "$module"
rm -rf "$work/run/out"
run removed && fail "the command ran without its module"
grep -qF "is not installed (looked for $prefix/bin/qortavlo-ogr.so, $module)" "$work/run/removed.log" ||
  { cat "$work/run/removed.log"; fail "the error does not name the installed places"; }
grep -qF "$build" "$work/run/removed.log" && fail "the installed command looked in the build folder"
echo "installed in $prefix: the map was drawn through $module"
rm -rf "$work"
