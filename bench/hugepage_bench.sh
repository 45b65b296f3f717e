#!/usr/bin/env bash
# Transparent huge pages on a busy machine: two maps drawn with the
# program's huge-page advice (MADV_HUGEPAGE on its heaps and big columns)
# and without it, alone and right after another process has filled and
# freed memory (HOG_GB, default 4, written byte by byte by a Python process
# that then ends), which is when the kernel may have to reclaim and compact
# memory to make a huge page. The maps: the countries of the world at
# 1:10m (see bench_world_program) and 5,000,000 points read from a CSV file
# of about 100 MB over the states at 1280x1024 (bench_points_program).
# Without the advice is the same executable started with transparent huge
# pages turned off for it (prctl PR_SET_THP_DISABLE, by a small wrapper
# compiled here): where the system gives huge pages only on advice
# (/sys/kernel/mm/transparent_hugepage/enabled is "madvise"), that is the
# program without its advice. A second executable (another build) is run
# beside, with its own advice, when given.
#
# Each way is run ROUNDS times (default 7), the ways in turn within a
# round (each busy run after a hog of its own); reported are the medians
# and means of user, system and wall seconds, and each run's system
# seconds.
#
# Usage: bench/hugepage_bench.sh [path/to/qortavlo [path/to/other/qortavlo]]
#        (ROUNDS=n and HOG_GB=n in the environment). Needs GNU time, cc,
#        python3 and npm (once, for the data).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
other=${2:-}
rounds=${ROUNDS:-7}
hog_gb=${HOG_GB:-4}
[ -z "$other" ] || [ -x "$other" ] || { echo "no executable $other"; exit 2; }
bench_setup "$exe"
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed"; exit 2; }
bench_world_program "$work/world.tav" || { echo "world-atlas could not be fetched with npm"; exit 2; }
awk 'BEGIN { srand(20240602); print "lon,lat";
             for (i = 0; i < 5000000; i++) printf "%.4f,%.4f\n", -124 + 57 * rand(), 25 + 24 * rand() }' \
  > "$work/points.csv"
bench_points_program "$work/points.tav" "Five million points" 1 0.9
maps=(world points)

cat > "$work/nothp.c" <<'EOF'
#include <sys/prctl.h>
#include <unistd.h>
int main(int argc, char** argv) {
  if (argc < 2 || prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) return 127;
  execv(argv[1], argv + 1);
  return 127;
}
EOF
cc -O2 -o "$work/nothp" "$work/nothp.c"

thp=/sys/kernel/mm/transparent_hugepage
echo "transparent huge pages: enabled $(cat $thp/enabled 2> /dev/null || echo '?'), defrag $(cat $thp/defrag 2> /dev/null || echo '?')"
echo "$(nproc) cores, $(awk '/MemTotal/ { printf "%.1f", $2 / 1048576 }' /proc/meminfo) GB, load $(cut -d' ' -f1-3 /proc/loadavg)"

ways=("advice" "no advice")
commands=("$exe" "$work/nothp $exe")
if [ -n "$other" ]; then
  ways+=("other build")
  commands+=("$other")
fi
for map in "${maps[@]}"; do bench_map "$work/log" "$exe" --out "$work/out" "$work/$map.tav"; done

hog() { python3 -c "x = b'\\1' * ($hog_gb << 30)"; }

: > "$work/times"
for ((r = 0; r < rounds; r++)); do
  for map in "${maps[@]}"; do
    for busy in alone busy; do
      for i in "${!ways[@]}"; do
        [ "$busy" = alone ] || hog
        # shellcheck disable=SC2086
        /usr/bin/time -o "$work/t" -f "%U %S %e" ${commands[$i]} --out "$work/out" "$work/$map.tav" \
          > /dev/null 2>&1
        printf '%s\t%s\t%s\n' "$map $busy" "${ways[$i]}" "$(tail -n 1 "$work/t")" >> "$work/times"
      done
    done
  done
done

echo "== $rounds runs each (busy: after a ${hog_gb} GB hog)"
printf '%-13s %-12s %22s %22s %22s\n' "" "" "user s (median/mean)" "system s (median/mean)" "wall s (median/mean)"
awk -F'\t' '
  function med(s,   a, n, i, j, t) {
    n = split(s, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  { key = $1 "\t" $2; split($3, v, " ")
    if (!(key in n)) order[++keys] = key
    n[key]++; u[key] = u[key] " " v[1]; s[key] = s[key] " " v[2]; w[key] = w[key] " " v[3]
    su[key] += v[1]; ss[key] += v[2]; sw[key] += v[3] }
  END { for (k = 1; k <= keys; k++) { key = order[k]; split(key, p, "\t")
          printf "%-13s %-12s %11.3f/%-10.3f %11.3f/%-10.3f %11.3f/%-10.3f\n", p[1], p[2],
                 med(u[key]), su[key] / n[key], med(s[key]), ss[key] / n[key], med(w[key]), sw[key] / n[key] } }
' "$work/times"
echo "system seconds of each run, in order:"
awk -F'\t' '{ key = $1 " " $2; if (!(key in s)) order[++n] = key; split($3, v, " "); s[key] = s[key] " " v[2] }
  END { for (k = 1; k <= n; k++) printf "  %-25s%s\n", order[k], s[order[k]] }' "$work/times"
