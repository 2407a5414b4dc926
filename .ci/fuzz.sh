#!/usr/bin/env bash
# The fuzz smoke stage: builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a minute; any finding fails the stage.
# (The fault tests run with the other tests, in both workflows of .ci/run.)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "== fuzz targets, one minute each"
cmake --workflow --preset fuzz
fuzz/run.sh "${OFB2BMP_FUZZ_SECONDS:-60}"
