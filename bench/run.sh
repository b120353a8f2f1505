#!/bin/bash
# Builds the benchmarks and runs them all; the markdown table at the end goes into README.md.
# Takes one to three minutes. It writes 700 MiB files under /var/tmp and removes every one,
# on failure and interruption too. Extra arguments go to the bench (--rounds N,
# --repetitions N, --presses N). SORELCHECK_BENCH_BUILD picks the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SORELCHECK_BENCH_BUILD:-$root/build-bench}
prefix=/var/tmp/sorelcheck-bench-$$

bench_pid=
trap 'rm -f "$prefix"-*.dat' EXIT
# The bench removes its files on these signals itself; bash alone would wait for it to finish.
trap '[[ -n $bench_pid ]] && kill -TERM "$bench_pid" 2>/dev/null; wait; exit 130' INT TERM HUP

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSORELCHECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target sorelcheck_bench >/dev/null

start=$SECONDS
"$build/bench/sorelcheck_bench" --prefix "$prefix" "$@" >"$build/bench-results.md" &
bench_pid=$!
wait "$bench_pid"
bench_pid=
echo "(bench took $((SECONDS - start)) s; table saved in $build/bench-results.md)" >&2
echo
cat "$build/bench-results.md"
