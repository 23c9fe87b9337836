#!/usr/bin/env bash
# Installs what is missing, builds QV_Backup (Release) and starts it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh >&2
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVB_TESTS=OFF >&2
cmake --build build/release --target QV_Backup >&2
exec build/release/src/app/QV_Backup "$@"
