#!/bin/bash
# Builds the benchmarks and runs them all; the markdown table at the end goes into README.md.
# Takes one to three minutes. It writes 700 MiB files under /var/tmp and removes every one,
# on failure and interruption too. Extra arguments go to the bench (--rounds N,
# --repetitions N, --presses N). SORELCHECK_BENCH_BUILD picks the build folder.
#
# bench/run.sh --slow-disk [--rate MIB_PER_S] [--rounds N] runs the disk bench alone, first on
# /var/tmp as it is and then on a throttled disk (scripts/slow_disk.sh, as root), one row each
# in one table: the figure against dd on a fast and on a slow disk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
slow_disk=()
if [[ "${1:-}" == "--slow-disk" ]]; then
  slow_disk=("$root/scripts/slow_disk.sh")
  shift
  if [[ "${1:-}" == "--rate" ]]; then
    slow_disk+=(--rate "$2")
    shift 2
  fi
fi
build=${SORELCHECK_BENCH_BUILD:-$root/build-bench}
prefix=/var/tmp/sorelcheck-bench-$$

bench_pid=
trap 'rm -f "$prefix"-*.dat' EXIT
# The bench removes its files on these signals itself; bash alone would wait for it to finish.
trap '[[ -n $bench_pid ]] && kill -TERM "$bench_pid" 2>/dev/null; wait; exit 130' INT TERM HUP

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSORELCHECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target sorelcheck_bench >/dev/null

start=$SECONDS
run_bench() {
  local output=$1
  shift
  "$@" >"$output" &
  bench_pid=$!
  local status=0
  wait "$bench_pid" || status=$?
  bench_pid=
  return "$status"
}
bench=("$build/bench/sorelcheck_bench" --prefix "$prefix")
if [[ ${#slow_disk[@]} -eq 0 ]]; then
  run_bench "$build/bench-results.md" "${bench[@]}" "$@"
else
  run_bench "$build/bench-fast-disk.md" "${bench[@]}" --only disk "$@"
  # Its files live and die with the throttled device.
  status=0
  run_bench "$build/bench-slow-disk.md" "${slow_disk[@]}" "${bench[@]}" --only disk "$@" ||
    status=$?
  if [[ $status -eq 77 ]]; then
    echo "(no throttled disk here: the fast disk only)" >&2
    : >"$build/bench-slow-disk.md"
  elif [[ $status -ne 0 ]]; then
    exit "$status"
  fi
  # One table: the throttled disk's rows below the fast disk's (no second header), then the
  # notes of both.
  {
    grep '^|' "$build/bench-fast-disk.md"
    grep '^|' "$build/bench-slow-disk.md" | tail -n +3
    echo
    grep -v '^|' "$build/bench-fast-disk.md" | sed '/^$/d;s/^/Fast disk: /'
    grep -v '^|' "$build/bench-slow-disk.md" | sed '/^$/d;s/^/Throttled disk: /'
  } >"$build/bench-results.md"
fi
echo "(bench took $((SECONDS - start)) s; table saved in $build/bench-results.md)" >&2
echo
cat "$build/bench-results.md"
