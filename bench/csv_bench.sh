#!/usr/bin/env bash
# Ten million points from a CSV file of about 210 MB ("lon,lat,k": the
# points spread over the lower 48 states, k a class digit), read and drawn
# as a SCATTER over the states at 1280x1024, as whole processes.
#
# Each way is run 5 times; the median wall time, CPU seconds (user +
# system) and peak resident memory are reported:
#   - default:  the reader's default, blocks of 8 MB each read in one part
#               per core;
#   - one core: QORTAVLO_CSV_CHUNK_BYTES=0 and QORTAVLO_CSV_BLOCK_BYTES=0,
#               blocks of 1 MB read in one part (the variables are there
#               for this comparison);
#   - before:   a second executable, when given (an earlier build), with
#               its defaults;
#   - compute:  the default with COMPUTE= making two columns of two
#               arithmetic operations each over the ten million rows.
# Targets: at most 1.5 s wall on 2 cores, peak memory at most 400 MB
# (without COMPUTE=); COMPUTE= adds at most 0.5 s wall.
#
# Usage: bench/csv_bench.sh [path/to/qortavlo] [path/to/earlier/qortavlo]
# (default: build/qortavlo)
# Needs GNU time (/usr/bin/time). The data is written to a temporary folder
# that is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
before=${2:-}
[ -z "$before" ] || [ -x "$before" ] || { echo "no executable $before"; exit 2; }
bench_setup "$exe"

# A fixed seed, so every run draws the same.
awk 'BEGIN { srand(20240602); print "lon,lat,k";
             for (i = 0; i < 10000000; i++)
               printf "%.4f,%.4f,%d\n", -124 + 57 * rand(), 25 + 24 * rand(), int(10 * rand()) }' \
  > "$work/points.csv"
bytes=$(stat -c %s "$work/points.csv")
echo "points.csv: $((bytes / 1000000)) MB, 10,000,000 rows"

bench_points_program "$work/points.tav" "Ten million points" 1 0.9
bench_points_program "$work/compute.tav" "Ten million points" 1 0.9 \
  "(COMPUTE=(x = lon * 2 + 1, y = lat / 3 - k))"

# name, executable, then environment assignments for the run; TAV names
# the program (default points.tav).
measure() {
  local name=$1 program=$2 tav=${TAV:-points.tav} wall cpu peak
  shift 2
  bench_map "$work/$name.log" env "$@" "$program" --out "$work/out" "$work/$tav"
  read -r wall cpu peak < <(bench_medians 5 env "$@" "$program" --out "$work/out" "$work/$tav")
  printf "%-8s wall %s s   CPU %s s   peak %d MB   (medians of 5 runs)\n" \
    "$name" "$wall" "$cpu" "$peak"
}

echo "== 10,000,000 scatter points from CSV, 1280x1024 (target: wall <= 1.5 s, peak <= 400 MB)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (figures are fair below about 1)"
measure default "$exe" QORTAVLO_CSV_CHUNK_BYTES= QORTAVLO_CSV_BLOCK_BYTES=
measure one-core "$exe" QORTAVLO_CSV_CHUNK_BYTES=0 QORTAVLO_CSV_BLOCK_BYTES=0
[ -z "$before" ] || measure before "$before" QORTAVLO_CSV_CHUNK_BYTES= QORTAVLO_CSV_BLOCK_BYTES=
TAV=compute.tav measure compute "$exe" QORTAVLO_CSV_CHUNK_BYTES= QORTAVLO_CSV_BLOCK_BYTES=
