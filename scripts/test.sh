#!/bin/bash
# Installs what the tests need, builds everything and runs every test: unit tests, the Linux
# program end to end in a private desktop, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh test

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Linux build"
# The benchmarks are built (not run) so they keep compiling.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSORELCHECK_WERROR=ON -DSORELCHECK_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)"

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
status=0

echo "== Linux tests"
scripts/desktop_session.sh ctest --test-dir build --output-on-failure 2>&1 |
  tee "$results/linux.log" || status=1

if [[ -x scripts/test_windows.sh ]]; then
  echo "== Windows build under Wine"
  scripts/desktop_session.sh scripts/test_windows.sh 2>&1 | tee "$results/windows.log" ||
    status=1
fi

# One closing line over both runs.
passed=0
failed=0
for log in "$results"/*.log; do
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  if [[ -z "$summary" ]]; then
    status=1
    continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
[[ $failed -ne 0 ]] && status=1
echo "SorelCheck: $passed passed, $failed failed"
exit "$status"
