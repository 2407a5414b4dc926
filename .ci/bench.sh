#!/usr/bin/env bash
# Keeps the benchmarks compiling. Nothing is timed here: timings belong to bench/, run by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-missing libbenchmark-dev

echo "== benchmarks build (not run)"
cmake --preset bench
cmake --build --preset bench
