#!/usr/bin/env bash
# BY groups drawn in parallel: 50 maps, one per state (the states with
# that state's airports as points, examples/data/us_states.csv and
# airports_by_state.csv, BY state) at 640x480, run whole with THREADS=1
# and with the default (one thread per core). Reports the median wall time
# of 11 runs of each (taken in turn) and the speed-up; target at least 1.7x
# on 2 cores.
# Also checks that both runs wrote the same files and the same log.
# Cores of a virtual machine need not be equally fast: THREADS=1 is also
# run on each core alone (taskset), and the default is set against the
# best the cores together could do, 1 / (sum over cores of 1 / time).
#
# Usage: bench/by_bench.sh [path/to/qortavlo] [runs]   (default: build/qortavlo, 11)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
runs=${2:-11}
bench_setup "$exe"

states="'AK' 'AL' 'AR' 'AZ' 'CA' 'CO' 'CT' 'DE' 'FL' 'GA' 'HI' 'IA' 'ID' 'IL' 'IN' 'KS' 'KY'
        'LA' 'MA' 'MD' 'ME' 'MI' 'MN' 'MO' 'MS' 'MT' 'NC' 'ND' 'NE' 'NH' 'NJ' 'NM' 'NV' 'NY'
        'OH' 'OK' 'OR' 'PA' 'RI' 'SC' 'SD' 'TN' 'TX' 'UT' 'VA' 'VT' 'WA' 'WI' 'WV' 'WY'"
for threads in 1 default; do
  opt=""
  [ "$threads" = default ] || opt="OPTIONS THREADS=$threads;"
  cat > "$work/by_$threads.tav" <<EOF
LIBRARY ex '$root/examples/data';
OPTIONS GRAPHWIDTH=640 GRAPHHEIGHT=480;
$opt
TITLE "Airports of #BYVALUE(state)";
PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60))
           PLOTDATA=ex.airports_by_state(WHERE=(state in ($states)));
  CHOROMAP / MAPID=ID;
  SCATTER X=longitude Y=latitude / MARKERATTRS=(SYMBOL=trianglefilled SIZE=6);
  BY state;
RUN;
EOF
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

time_once() {  # threads [command prefix...] -> seconds of one run
  local threads=$1 t0 t1
  shift
  rm -rf "$work/out_$threads"
  t0=$(date +%s%N)
  "$@" "$exe" --out "$work/out_$threads" "$work/by_$threads.tav" 2> "$work/by_$threads.log" \
    || { cat "$work/by_$threads.log" >&2; exit 1; }
  t1=$(date +%s%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
}

# The two ways in turn, so that a busy moment of the machine falls on both.
serial_times=() parallel_times=()
for ((i = 0; i < runs; i++)); do
  serial_times+=("$(time_once 1)")
  parallel_times+=("$(time_once default)")
done
serial=$(printf '%s\n' "${serial_times[@]}" | median)
parallel=$(printf '%s\n' "${parallel_times[@]}" | median)
maps=$(ls "$work/out_1" | wc -l)
[ "$maps" -eq 50 ] || { echo "expected 50 maps, got $maps"; cat "$work/by_1.log"; exit 1; }
diff -r "$work/out_1" "$work/out_default" > /dev/null \
  || { echo "the files differ between THREADS=1 and the default"; exit 1; }
# The logs name the program file and the output folder, which differ.
strip() { sed -e "s#by_[a-z0-9]*\.tav##g" -e "s#out_[a-z0-9]*##g" -e 's/[0-9.]* seconds//g' "$1"; }
diff <(strip "$work/by_1.log") <(strip "$work/by_default.log") > /dev/null \
  || { echo "the logs differ between THREADS=1 and the default"; exit 1; }
printf 'cores: %s, load average before: %s\n' "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'THREADS=1: median %.2f s wall (%d runs)\n' "$serial" "$runs"
printf 'default:   median %.2f s wall (%d runs)\n' "$parallel" "$runs"
awk -v s="$serial" -v p="$parallel" 'BEGIN { printf "speed-up:  %.2fx\n", s / p }'

command -v taskset > /dev/null || exit 0
together=0
for ((cpu = 0; cpu < $(nproc); cpu++)); do
  times=()
  for ((i = 0; i < (runs + 1) / 2; i++)); do times+=("$(time_once 1 taskset -c "$cpu")"); done
  alone=$(printf '%s\n' "${times[@]}" | median)
  printf 'THREADS=1 on core %d alone: median %.2f s wall\n' "$cpu" "$alone"
  together=$(awk -v t="$together" -v a="$alone" 'BEGIN { print t + 1 / a }')
done
awk -v t="$together" -v p="$parallel" \
  'BEGIN { printf "the cores together at best: %.2f s; the default reaches %.0f%% of that\n", 1 / t, 100 / t / p }'
