#!/bin/bash
# Installs what the program needs, builds it and starts it on the current desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target SorelCheck
exec build/SorelCheck
