#!/usr/bin/env bash
# A full copy of many small files started from the window (offscreen) against
# the same job from the command line. Both run the job from one INI file into
# a fresh destination; the medians of the rounds are compared.
# usage: bench/window_bench.sh [FILES] [ROUNDS]   (defaults 100000, 3)
# Needs the test build (build/test) for qvb_window_run and QV_Backup.
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-100000}
rounds=${2:-3}
build=${QVB_BUILD_DIR:-build/test}
base=$(mktemp -d "${QVB_BENCH_DIR:-/dev/shm}/qvb-window-bench.XXXXXX")
trap 'rm -rf "$base"' EXIT
src=$base/quelle
mkdir -p "$src"
python3 - "$src" "$files" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%06d.txt" % i), "w") as f:
        f.write("x" * (i % 200))
PY
ini=$base/QV_Backup.ini
write_ini() {
    cat >"$ini" <<INI
[Options]
Logging=0
LogLevel=1
CurrentJob=1

[Job01]
Name=Bench
Ziel=$base/ziel/
AnzahlQuellen=1
Quelle0=$src/=1
Intervall=0
Aktiv=0
NurVerzeichnisInhalt=1
INI
}
run() {  # prints seconds
    rm -rf "$base/ziel"; mkdir "$base/ziel"; write_ini
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
export QT_QPA_PLATFORM=offscreen
cli=(); win=()
for ((r = 0; r < rounds; ++r)); do
    cli+=("$(run "$build/src/app/QV_Backup" --ini "$ini" --run Job01)")
    win+=("$(run "$build/tests/qvb_window_run" "$ini")")
done
c=$(printf '%s\n' "${cli[@]}" | median)
w=$(printf '%s\n' "${win[@]}" | median)
echo "files=$files rounds=$rounds"
echo "command line: ${cli[*]}  median $c s"
echo "window:       ${win[*]}  median $w s"
echo "ratio window/command line: $(echo "scale=3; $w / $c" | bc)"
