#!/usr/bin/env bash
# Times ofb2bmp against write_baseline, a program that only creates the same files and writes
# the same number of bytes into each with one write. Everything lives on /dev/shm, where the
# floor is lowest and steadiest. Prints the median ratio overall and per kind, and the peak
# resident memory of ofb2bmp beyond what the program itself takes. A second floor, which also
# reads the archives through once, shows how much of the gap reading alone explains.
# Then PNG: ofb2bmp -f png beside the bitmap run and beside extracting bitmaps then converting
# them with Pillow, on the same pairs and on pairs whose direct-colour frames are noise-like,
# with the bytes each writes, and the peak memory of both formats.
# Last, insertion: --insert of the bitmaps of every pair, unchanged and with every picture
# changed (one pixel each, so every record is rebuilt), beside the extraction that made them,
# and the peak memory of each.
# Then threads: PNG and bitmaps on one writer thread and on two, paired in every round, with
# the peak memory of each.
# Usage: bench/run_end_to_end.sh [rounds, default 3] [runs per round, default 5] [insert|threads]
# (with "insert" or "threads", only those timings)
# With BEFORE=path/to/an/older/ofb2bmp, that program runs beside this one in every bitmap round
# and every insertion round, so both are measured under the same load.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
rounds=${1:-3}
runs=${2:-5}
for tool in hyperfine /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install hyperfine time python3)"; exit 1; }
done
/usr/bin/python3 -c 'import PIL' || { echo "needs Pillow (apt-get install python3-pil)"; exit 1; }

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build=$PWD/build/bench
work=/dev/shm/ofb2bmp_end_to_end.$$
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{samples,noise_samples,data,noise,tool,baseline,before,timings}
cd "$work"

# Two pairs of each kind at their full entry counts; the same with noise-like direct colour.
"$build/tools/sample_writer" samples --large >/dev/null
"$build/tools/sample_writer" noise_samples --large --noise >/dev/null
for kind in PICS BFIL GFIL; do
  for copy in A B; do
    cp "samples/$kind.OFB" "data/$kind$copy.OFB"
    cp "samples/$kind.BIN" "data/$kind$copy.BIN"
    cp "noise_samples/$kind.OFB" "noise/$kind$copy.OFB"
    cp "noise_samples/$kind.BIN" "noise/$kind$copy.BIN"
  done
done
cp "$build/ofb2bmp" tool/
before=()
if [ -n "${BEFORE:-}" ]; then
  cp "$BEFORE" before/ofb2bmp
  before=("before/ofb2bmp")
fi

peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }
if [ "${3:-}" = threads ]; then
  for round in $(seq "$rounds"); do
    hyperfine -N --style none --runs "$runs" --prepare 'rm -rf out' \
      --export-json "timings/threads.$round.json" \
      "tool/ofb2bmp -q -j 1 -f png -o out data/*.OFB" "tool/ofb2bmp -q -j 2 -f png -o out data/*.OFB" \
      "tool/ofb2bmp -q -j 1 -o out data/*.OFB" "tool/ofb2bmp -q -j 2 -o out data/*.OFB" >/dev/null
  done
  peaks=()
  for arguments in "-j 1 -f png" "-j 2 -f png" "-j 1" "-j 2"; do
    rm -rf out
    # shellcheck disable=SC2086
    peaks+=("$(peak_kib tool/ofb2bmp -q $arguments -o out 'data/*.OFB')")
  done
  python3 - "${peaks[@]}" <<'PY'
import glob, json, statistics, sys
columns = [[], [], [], []]
for path in sorted(glob.glob("timings/threads.*.json")):
    for column, result in zip(columns, json.load(open(path))["results"]):
        column += result["times"]
peak = [int(v) for v in sys.argv[1:]]
for name, (one, two), (peak_one, peak_two) in [("PNG", columns[:2], peak[:2]),
                                               ("bitmaps", columns[2:], peak[2:])]:
    a, b = statistics.median(one), statistics.median(two)
    print(f"{name}: -j 1 {a * 1e3:.1f} ms ({min(one) * 1e3:.1f}-{max(one) * 1e3:.1f}),"
          f" -j 2 {b * 1e3:.1f} ms ({min(two) * 1e3:.1f}-{max(two) * 1e3:.1f}), {a / b:.2f}x;"
          f" peak RSS {peak_one} -> {peak_two} KiB (+{peak_two - peak_one})")
PY
  exit 0
fi
if [ "${3:-}" != insert ]; then
# A first run tells which files, and how large, the baseline is to write.
tool/ofb2bmp 'data/*.OFB' >/dev/null
find tool -name '*.BMP' -printf '%s %f\n' | sort -k2 >list_all
for kind in PICS BFIL GFIL; do grep " $kind" list_all >"list_$kind"; done
echo "bitmaps: $(wc -l <list_all), bytes: $(awk '{s += $1} END {print s}' list_all)"

time_kind() { # name, index pattern, list, archives
  for round in $(seq "$rounds"); do
    hyperfine -N --style none --warmup 1 --runs "$runs" \
      --prepare 'find tool baseline before -name *.BMP -delete' \
      --export-json "timings/$1.$round.json" \
      "tool/ofb2bmp $2" "$build/bench/write_baseline $3 baseline" \
      "$build/bench/write_baseline $3 baseline $4" "${before[@]/%/ $2}" >/dev/null
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
      f" {'read+write ms':>14} {'ratio':>6} {'before ms':>10} {'ratio':>6}")
for kind in ["all", "PICS", "BFIL", "GFIL"]:
    times, cpu = [[], [], [], []], [[], [], [], []]
    for path in sorted(glob.glob(f"timings/{kind}.*.json")):
        for column, cpu_column, result in zip(times, cpu, json.load(open(path))["results"]):
            column += result["times"]
            cpu_column.append(result["user"] + result["system"])
    t, b, r = (statistics.median(column) for column in times[:3])
    c = statistics.mean(cpu[0]) / statistics.mean(cpu[1])
    line = (f"{kind:6} {t * 1e3:11.1f} {b * 1e3:12.1f} {t / b:6.2f} {c:10.2f}"
            f" {r * 1e3:14.1f} {t / r:6.2f}")
    if times[3]:
        o = statistics.median(times[3])
        line += f" {o * 1e3:10.1f} {o / b:6.2f}"
    print(line)
PY

find tool -name '*.BMP' -delete
program=$(peak_kib tool/ofb2bmp --version)
extraction=$(peak_kib tool/ofb2bmp 'data/*.OFB')
png=$(peak_kib tool/ofb2bmp -f png -o png_peak 'noise/*.OFB')
echo "peak RSS: $extraction KiB extracting bitmaps, $png KiB PNG, $program KiB for the program" \
  "alone: $((extraction - program)) and $((png - program)) KiB beyond it"

# PNG against bitmaps converted with Pillow, on drawn and on noise-like direct colour.
pillow="/usr/bin/python3 $source_dir/bench/convert_with_pillow.py"
for set in data noise; do
  for round in $(seq "$rounds"); do
    hyperfine -N --style none --runs "$runs" --prepare 'rm -rf out' \
      --export-json "timings/png_$set.$round.json" \
      "tool/ofb2bmp -q -o out $set/*.OFB" "tool/ofb2bmp -q -f png -o out $set/*.OFB" >/dev/null
  done
  hyperfine --style none --runs 3 --prepare 'rm -rf out' \
    --export-json "timings/pillow_$set.json" \
    "tool/ofb2bmp -q -o out $set/*.OFB && $pillow out" >/dev/null
  rm -rf out && tool/ofb2bmp -q -f png -o out "$set/*.OFB"
  echo "$set: PNG $(du -cb out/*.PNG | tail -1 | cut -f1) bytes" >"timings/bytes_$set"
  rm -rf out && tool/ofb2bmp -q -o out "$set/*.OFB" && $pillow out
  echo "$set: Pillow $(du -cb out/*.png | tail -1 | cut -f1) bytes" >>"timings/bytes_$set"
done
python3 - <<'PY'
import glob, json, statistics
print(f"{'pairs':6} {'bitmaps s':>10} {'PNG s':>8} {'bitmaps + Pillow s':>19} {'speed-up':>9}"
      f" {'PNG bytes':>12} {'Pillow bytes':>13} {'size':>7}")
for name in ["data", "noise"]:
    bmp, png = [], []
    for path in sorted(glob.glob(f"timings/png_{name}.*.json")):
        results = json.load(open(path))["results"]
        bmp += results[0]["times"]
        png += results[1]["times"]
    pillow = json.load(open(f"timings/pillow_{name}.json"))["results"][0]["times"]
    ours, theirs = (int(line.split()[2]) for line in open(f"timings/bytes_{name}"))
    p, b, q = statistics.median(png), statistics.median(bmp), statistics.median(pillow)
    print(f"{name:6} {b:10.2f} {p:8.2f} {q:19.2f} {q / p:8.1f}x {ours:12,} {theirs:13,}"
          f" {ours / theirs - 1:+7.1%}")
    print(f"{'':6} spread: PNG {min(png):.2f}-{max(png):.2f} s, Pillow {min(pillow):.2f}-"
          f"{max(pillow):.2f} s")
PY

fi

# Insertion: unchanged pictures, and every picture changed in one pixel.
rm -rf pictures changed && tool/ofb2bmp -q -o pictures 'data/*.OFB' && cp -r pictures changed
python3 "$source_dir/bench/change_every_picture.py" changed
insertions=("tool/ofb2bmp -q -o out data/*.OFB" "tool/ofb2bmp -q --insert pictures -o new data/*.OFB"
  "tool/ofb2bmp -q --insert changed -o new data/*.OFB")
if [ -n "${BEFORE:-}" ]; then
  insertions+=("before/ofb2bmp -q --insert pictures -o new data/*.OFB"
    "before/ofb2bmp -q --insert changed -o new data/*.OFB")
fi
for round in $(seq "$rounds"); do
  hyperfine -N --style none --runs "$runs" --prepare 'rm -rf out new' \
    --export-json "timings/insert.$round.json" "${insertions[@]}" >/dev/null
done
rm -rf new && tool/ofb2bmp -q --insert pictures -o new 'data/*.OFB'
for kind in PICS BFIL GFIL; do cmp -s "data/${kind}A.BIN" "new/${kind}A.BIN" || echo "unchanged ${kind}A differs"; done
rm -rf new
unchanged=$(peak_kib tool/ofb2bmp -q --insert pictures -o new 'data/*.OFB')
rm -rf new out
extraction=$(peak_kib tool/ofb2bmp -q -o out 'data/*.OFB')
changed=$(peak_kib tool/ofb2bmp -q --insert changed -o new 'data/*.OFB')
python3 - "$extraction" "$unchanged" "$changed" <<'PY'
import glob, json, statistics, sys
columns = [[], [], [], [], []]
for path in sorted(glob.glob("timings/insert.*.json")):
    for column, result in zip(columns, json.load(open(path))["results"]):
        column += result["times"]
if columns[3]:
    same, changed = (statistics.median(column) for column in columns[3:])
    print(f"before: unchanged {same * 1e3:.1f} ms, every picture changed {changed * 1e3:.1f} ms;"
          " spread " + ", ".join(f"{min(c) * 1e3:.1f}-{max(c) * 1e3:.1f} ms" for c in columns[3:]))
columns = columns[:3]
extract, same, changed = (statistics.median(column) for column in columns)
print(f"insertion: extraction {extract * 1e3:.1f} ms, unchanged {same * 1e3:.1f} ms"
      f" ({same / extract:.2f} x), every picture changed {changed * 1e3:.1f} ms"
      f" ({changed / extract:.2f} x)")
print("spread: " + ", ".join(f"{min(c) * 1e3:.1f}-{max(c) * 1e3:.1f} ms" for c in columns))
peak = [int(v) for v in sys.argv[1:]]
print(f"peak RSS: extraction {peak[0]} KiB, unchanged {peak[1]} KiB (+{peak[1] - peak[0]}),"
      f" changed {peak[2]} KiB (+{peak[2] - peak[0]})")
PY
