#!/bin/bash
# Builds the program for speed, writes the cases once, and times them.
#
#   bench/run.sh [ROUNDS] [REV] [--busy]
#
# With REV (a commit, say HEAD~3), that commit is built too and timed
# against this one, round by round.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-15}
rev=${2:-}
shift $(($# < 2 ? $# : 2))
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPCIANNOTATE_TESTS=OFF -DPCIANNOTATE_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 >/dev/null
[ -f bench/data/table-300k.c ] || python3 bench/gen.py bench/data
[ -d bench/data/crafted ] || build-bench/crafted bench/data
against=()
if [ -n "$rev" ]; then
    rm -rf build-bench-old
    git worktree add -f --detach build-bench-old/src "$rev" >/dev/null 2>&1
    cmake -S build-bench-old/src -B build-bench-old/build -DCMAKE_BUILD_TYPE=Release -DPCIANNOTATE_TESTS=OFF >/dev/null
    cmake --build build-bench-old/build -j2 --target pciannotate >/dev/null
    against=(--against build-bench-old/build/pciannotate)
fi
python3 bench/run.py build-bench/pciannotate bench/data "$rounds" "${against[@]}" "$@"
if [ -n "$rev" ]; then
    git worktree remove --force build-bench-old/src
fi
