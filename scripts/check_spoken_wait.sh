#!/bin/bash
# Checks under Debian's Orca that the wait for the test file is spoken, and measures it against
# other builds (bench/spoken_wait.py). Too slow for scripts/test.sh: Orca takes seconds to start
# and each run waits for its speech. Needs root (a process namespace, so that this Orca neither
# sees nor is taken for another user session's Orca) and a build in build-test/.
# Usage: scripts/check_spoken_wait.sh [--runs N] [BINARY...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh orca
args=()
binaries=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) args+=("$1" "$2"); shift 2 ;;
    *) binaries+=("$(realpath "$1")"); shift ;;
  esac
done
[[ ${#binaries[@]} -eq 0 ]] && binaries=("$PWD/build-test/SorelCheck")
# Everything started inside ends with the namespace: Orca, speech-dispatcher, the program.
exec unshare --pid --fork --mount-proc scripts/desktop_session.sh /usr/bin/python3 \
  bench/spoken_wait.py --facts build-test/tests/sorelcheck_facts "${args[@]}" \
  "${binaries[@]}"
