#!/bin/bash
# Builds the program for speed, writes the cases once, and times them.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPCIANNOTATE_TESTS=OFF -DPCIANNOTATE_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 >/dev/null
[ -f bench/data/table-4k.c ] || python3 bench/gen.py bench/data
[ -d bench/data/crafted ] || build-bench/crafted bench/data
python3 bench/run.py build-bench/pciannotate bench/data "${1:-15}"
