#!/usr/bin/env bash
# Cost in the size of the input's shape rather than its rows: a CSV of many
# columns (10k, 100k, 1M; the step plots two of them) and a step of many
# plot statements (2k, 8k, 32k SCATTER statements over one data set).
# Whole process, tiles off; median wall time and peak memory of 3 runs.
#
# Targets: 1M columns in under 10 s; 32,000 plot statements in under 2 s.
#
# Usage: bench/scale_bench.sh [path/to/qortavlo]   (default: build/qortavlo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
exe=${1:-$root/build/qortavlo}
bench_setup "$exe"
cd "$work"
head="OPTIONS TILEURL='file://$work/none/{z}/{x}/{y}.png';"

python3 - <<'PY'
for n in (10_000, 100_000, 1_000_000):
    with open(f"c{n}.csv", "w") as f:
        f.write(",".join(f"v{i}" for i in range(n)) + "\n")
        f.write(",".join(str(i % 7) for i in range(n)) + "\n")
        f.write(",".join(str(i % 5) for i in range(n)) + "\n")
for n in (2_000, 8_000, 32_000):
    with open(f"s{n}.body", "w") as f:
        f.write("PROC TAVLO PLOTDATA=c10000;\n  OPENSTREETMAP;\n")
        for i in range(n):
            f.write(f"  SCATTER X=v{i % 50} Y=v{(i + 1) % 50};\n")
        f.write("RUN;\n")
PY
for n in 10000 100000 1000000; do
  printf '%s\nPROC TAVLO PLOTDATA=c%s; OPENSTREETMAP; SCATTER X=v0 Y=v1; RUN;\n' "$head" "$n" > "columns$n.tav"
done
for n in 2000 8000 32000; do { echo "$head"; cat "s$n.body"; } > "statements$n.tav"; done

measure() {  # name, program
  local name=$1 program=$2 wall cpu peak
  "$exe" --out out "$program" 2> log.txt > /dev/null || { cat log.txt; exit 1; }
  read -r wall cpu peak < <(bench_medians 3 "$exe" --out out "$program")
  printf '%-18s median %6.2f s   peak %7.0f MB\n' "$name" "$wall" "$peak"
}
for n in 10000 100000 1000000; do measure "columns $n" "columns$n.tav"; done
for n in 2000 8000 32000; do measure "statements $n" "statements$n.tav"; done
