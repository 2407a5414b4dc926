#!/usr/bin/env bash
# Paired runs of two ofb2bmp programs on the benchmark pairs (two of each kind at full entry
# counts, on /dev/shm): extraction, insertion of the unchanged pictures, and insertion with
# every picture changed in one pixel. The two run alternately, the first of each pair taking
# turns, so that a load that comes and goes falls on both. Prints, for each, the median CPU time
# (user + system) and wall time with the fastest and slowest run, and the median of the
# new/old ratios of CPU time pair by pair.
# Usage: bench/run_paired.sh OLD_PROGRAM NEW_PROGRAM [pairs, default 11]
set -euo pipefail
old=$(readlink -f "$1") new=$(readlink -f "$2") pairs=${3:-11}
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null && cmake --build --preset bench --target sample_writer >/dev/null
work=/dev/shm/ofb2bmp_paired.$$
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/data" && cd "$work"
"$OLDPWD/build/bench/tools/sample_writer" samples --large >/dev/null
for kind in PICS BFIL GFIL; do
  for copy in A B; do cp "samples/$kind.OFB" "data/$kind$copy.OFB"; cp "samples/$kind.BIN" "data/$kind$copy.BIN"; done
done
"$new" -q -o pictures 'data/*.OFB' && cp -r pictures changed
python3 "$OLDPWD/bench/change_every_picture.py" changed
echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for mode in extraction unchanged changed; do
  case $mode in
  extraction) words=(-q) ;;
  unchanged) words=(-q --insert pictures) ;;
  changed) words=(-q --insert changed) ;;
  esac
  for i in $(seq "$pairs"); do
    if [ $((i % 2)) -eq 1 ]; then order="old new"; else order="new old"; fi
    for who in $order; do
      rm -rf out
      /usr/bin/time -f "$who %U %S %e" "${!who}" "${words[@]}" -o out 'data/*.OFB' 2>&1 >/dev/null | tail -1
    done
  done | python3 -c '
import statistics, sys
cpu = {"old": [], "new": []}; wall = {"old": [], "new": []}
for line in sys.stdin:
    who, user, system, elapsed = line.split()
    cpu[who].append(float(user) + float(system)); wall[who].append(float(elapsed))
out = []
for who in ("old", "new"):
    c, w = sorted(cpu[who]), sorted(wall[who])
    out.append(f"{who} cpu {statistics.median(c)*1e3:.0f} ms ({c[0]*1e3:.0f}-{c[-1]*1e3:.0f}),"
               f" wall {statistics.median(w)*1e3:.0f} ms ({w[0]*1e3:.0f}-{w[-1]*1e3:.0f})")
ratios = [n / o for n, o in zip(cpu["new"], cpu["old"])]
print(sys.argv[1] + ": " + "; ".join(out) + f"; new/old cpu {statistics.median(ratios):.2f}")
' "$mode"
done
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
