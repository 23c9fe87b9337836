#!/usr/bin/env bash
# Builds QV_Backup (Release) and runs the side-by-side benchmark against cp,
# rsync and find. Extra arguments go to bench.py (e.g. --rounds 7, --cases 1,2).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVB_TESTS=OFF >/dev/null
cmake --build build/release --target QV_Backup >/dev/null
exec python3 bench/bench.py --binary "$PWD/build/release/src/app/QV_Backup" "$@"
