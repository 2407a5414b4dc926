#!/usr/bin/env bash
# Keeps the benchmarks compiling. Nothing is timed here: timings belong to bench/, run by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(libbenchmark-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "== benchmarks build (not run)"
cmake --preset bench
cmake --build --preset bench
