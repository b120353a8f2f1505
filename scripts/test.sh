#!/bin/bash
# Installs what the tests need, builds everything in build-test/ and build-win/ and runs every
# test: the trace data check, unit tests, the Linux program end to end in a private desktop,
# and the Windows build under Wine. All builds treat warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh test
source scripts/invoking_user.sh
if [[ ${#as_invoking_user[@]} -gt 0 ]]; then
  exec "${as_invoking_user[@]}" "$0" "$@"
fi

echo "== formatting"
find app disktest voicetest platform tests bench tools -name '*.cpp' -o -name '*.h' |
  xargs clang-format --dry-run --Werror

echo "== trace data"
python3 tools/gen_traces.py --check

echo "== Linux build"
# The benchmarks are built (not run) so they keep compiling.
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release -DSORELCHECK_WERROR=ON \
  -DSORELCHECK_BENCH=ON >/dev/null
cmake --build build-test -j"$(nproc)"

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
status=0

echo "== Linux tests"
scripts/desktop_session.sh ctest --test-dir build-test --output-on-failure \
  --output-junit "$results/linux.xml" || status=1

if [[ -x scripts/test_windows.sh ]]; then
  echo "== Windows build under Wine"
  SORELCHECK_JUNIT="$results/windows.xml" scripts/desktop_session.sh scripts/test_windows.sh ||
    status=1
fi

# One closing line over both runs; a run that left no results counts as a failure.
for run in linux windows; do [[ -f "$results/$run.xml" ]] || status=1; done
python3 scripts/test_summary.py "$results"/*.xml || status=1
exit "$status"
