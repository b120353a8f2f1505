#!/bin/bash
# Builds the benchmarks and runs them all; the markdown tables at the end go into README.md.
# Takes one to three minutes. It writes 700 MiB files under /var/tmp and removes every one,
# on failure and interruption too. Extra arguments go to the bench (--rounds N,
# --repetitions N, --presses N). SORELCHECK_BENCH_BUILD picks the build folder.
#
# bench/run.sh --slow-disk [--rate MIB_PER_S] [--rounds N] [--throttled-rounds N] runs the disk
# bench alone on /var/tmp as it is and on a throttled disk (scripts/slow_disk.sh, as root), their
# rounds interleaved in one run, 9 and 5 by default: the same tables, with rows for both disks.
# A throttled round takes about half a minute at the default rate.
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
  # Inside the throttled disk's mount namespace /var/tmp is that disk; this shell's root still
  # sees the real one. Its files live and die with the throttled device.
  status=0
  run_bench "$build/bench-results.md" "${slow_disk[@]}" "$build/bench/sorelcheck_bench" \
    --prefix "/proc/$$/root$prefix" --throttled-prefix "$prefix" --only disk "$@" || status=$?
  if [[ $status -eq 77 ]]; then
    echo "(no throttled disk here: the fast disk only)" >&2
    run_bench "$build/bench-results.md" "${bench[@]}" --only disk "$@"
  elif [[ $status -ne 0 ]]; then
    exit "$status"
  fi
fi
echo "(bench took $((SECONDS - start)) s; tables saved in $build/bench-results.md)" >&2
echo
cat "$build/bench-results.md"
