#!/usr/bin/env bash
# Runs the micro-benchmarks and prints each one's throughput as a share of memcpy's for the
# same number of bytes. Usage: bench/run_micro.sh [build folder, default build/bench]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
cmake --preset bench >/dev/null
cmake --build --preset bench --target ofb2bmp_micro_benchmarks >/dev/null
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bench/ofb2bmp_micro_benchmarks" --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_out="$json" --benchmark_out_format=json \
  >/dev/null
python3 - "$json" <<'PY'
import json, sys
rows = {b["run_name"]: b["bytes_per_second"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
sizes = {"expand_runs_realistic": 84480, "expand_runs_literals_of_one": 84480,
         "expand_runs_repeats_of_two": 84480, "expand_colour_words_frame": 172032,
         "write_direct": 172086, "write_indexed": 85558}
print(f"{'benchmark':32} {'MB/s':>9} {'memcpy MB/s':>12} {'share':>7}")
for name, size in sizes.items():
    own, copy = rows[name], rows[f"memcpy_of/{size}"]
    print(f"{name:32} {own / 1e6:9.0f} {copy / 1e6:12.0f} {own / copy:7.1%}")
PY
