#!/usr/bin/env bash
# fuzz/run.sh SECONDS [TARGET...]: runs each fuzz target (all by default) for SECONDS, one
# after another, on a corpus kept in build/fuzz/corpus/TARGET and started from the seeds.
# Fails on the first finding; the input that caused it is left in build/fuzz/findings/. Once
# the fault is mended, add it to fuzz/regressions/TARGET/ as hexadecimal text, so ctest
# replays it: od -An -v -tx1 FILE | tr -d ' \n' | tr a-f A-F >fuzz/regressions/TARGET/NAME.hex
# Build first with `cmake --workflow --preset fuzz`.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(extract_pair expand_runs paths picture_reader insert_pair cue_sheet iso9660)
fi

build=${OFB2BMP_FUZZ_BUILD:-build/fuzz}
mkdir -p "$build/findings" "$build/logs"
# Bitmaps written while fuzzing go into memory-backed storage, removed after every input.
export OFB2BMP_FUZZ_SCRATCH=${OFB2BMP_FUZZ_SCRATCH:-/dev/shm}

for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  log=$build/logs/$target.log
  dictionary=()
  if [ "$target" != paths ]; then
    dictionary=(-dict=fuzz/ofb2bmp.dict)
  fi
  echo "== fuzz_$target for ${seconds}s"
  # The committed regressions are hexadecimal text; libFuzzer reads them as bytes.
  regressions=$build/regressions/$target
  mkdir -p "$regressions"
  for hex in fuzz/regressions/"$target"/*.hex; do
    [ -e "$hex" ] && tr -d '\n' <"$hex" | basenc --base16 -d >"$regressions/$(basename "$hex" .hex)"
  done
  seeds=("$build/fuzz/seeds/$target" "$regressions")
  if ! "$build/fuzz/fuzz_$target" "$corpus" "${seeds[@]}" "${dictionary[@]}" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$target-" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target found a fault; its input is in $build/findings/" >&2
    exit 1
  fi
  # The last status line: executions, edges covered (cov), features (ft), corpus size.
  grep -E '^#[0-9]+' "$log" | tail -n 1
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$log"
done
