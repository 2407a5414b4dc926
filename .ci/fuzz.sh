#!/usr/bin/env bash
# The fuzz smoke stage: builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a minute; any finding fails the stage.
# (The fault tests run with the other tests, in both workflows of .ci/run.)
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-missing clang libclang-rt-14-dev

echo "== fuzz targets, one minute each"
cmake --workflow --preset fuzz
fuzz/run.sh "${OFB2BMP_FUZZ_SECONDS:-60}"
