#!/usr/bin/env bash
# Times ofb2bmp against write_baseline, a program that only creates the same files and writes
# the same number of bytes into each with one write. Everything lives on /dev/shm, where the
# floor is lowest and steadiest. Prints the median ratio overall and per kind, and the peak
# resident memory of ofb2bmp beyond what the program itself takes. A second floor, which also
# reads the archives through once, shows how much of the gap reading alone explains.
# Usage: bench/run_end_to_end.sh [rounds, default 3] [runs per round, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
runs=${2:-5}
for tool in hyperfine /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install hyperfine time python3)"; exit 1; }
done

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build=$PWD/build/bench
work=/dev/shm/ofb2bmp_end_to_end.$$
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{samples,data,tool,baseline,timings}
cd "$work"

# Two pairs of each kind at their full entry counts.
"$build/tools/sample_writer" samples --large >/dev/null
for kind in PICS BFIL GFIL; do
  for copy in A B; do
    cp "samples/$kind.OFB" "data/$kind$copy.OFB"
    cp "samples/$kind.BIN" "data/$kind$copy.BIN"
  done
done
cp "$build/ofb2bmp" tool/

# A first run tells which files, and how large, the baseline is to write.
tool/ofb2bmp 'data/*.OFB' >/dev/null
find tool -name '*.BMP' -printf '%s %f\n' | sort -k2 >list_all
for kind in PICS BFIL GFIL; do grep " $kind" list_all >"list_$kind"; done
echo "bitmaps: $(wc -l <list_all), bytes: $(awk '{s += $1} END {print s}' list_all)"

time_kind() { # name, index pattern, list, archives
  for round in $(seq "$rounds"); do
    hyperfine -N --style none --warmup 1 --runs "$runs" \
      --prepare 'find tool baseline -name *.BMP -delete' \
      --export-json "timings/$1.$round.json" \
      "tool/ofb2bmp $2" "$build/bench/write_baseline $3 baseline" \
      "$build/bench/write_baseline $3 baseline $4" >/dev/null
  done
}
time_kind all 'data/*.OFB' list_all "$(echo data/*.BIN)"
for kind in PICS BFIL GFIL; do
  time_kind "$kind" "data/$kind?.OFB" "list_$kind" "$(echo data/$kind?.BIN)"
done

python3 - <<'PY'
import glob, json, statistics
# Wall-time medians decide; the ratio of mean processor time (user + system) is shown beside
# them because it suffers less from other load on the machine.
print(f"{'kind':6} {'ofb2bmp ms':>11} {'baseline ms':>12} {'ratio':>6} {'cpu ratio':>10}"
      f" {'read+write ms':>14} {'ratio':>6}")
for kind in ["all", "PICS", "BFIL", "GFIL"]:
    times, cpu = [[], [], []], [[], [], []]
    for path in sorted(glob.glob(f"timings/{kind}.*.json")):
        for column, cpu_column, result in zip(times, cpu, json.load(open(path))["results"]):
            column += result["times"]
            cpu_column.append(result["user"] + result["system"])
    t, b, r = (statistics.median(column) for column in times)
    c = statistics.mean(cpu[0]) / statistics.mean(cpu[1])
    print(f"{kind:6} {t * 1e3:11.1f} {b * 1e3:12.1f} {t / b:6.2f} {c:10.2f}"
          f" {r * 1e3:14.1f} {t / r:6.2f}")
PY

peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }
find tool -name '*.BMP' -delete
program=$(peak_kib tool/ofb2bmp --version)
extraction=$(peak_kib tool/ofb2bmp 'data/*.OFB')
echo "peak RSS: $extraction KiB extracting, $program KiB for the program alone," \
  "$((extraction - program)) KiB beyond it"
