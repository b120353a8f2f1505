#!/bin/bash
# Installs what the program needs, builds it in build/ and starts it on the current desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh run
source scripts/invoking_user.sh

"${as_invoking_user[@]}" cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
"${as_invoking_user[@]}" cmake --build build -j"$(nproc)" --target SorelCheck
exec "${as_invoking_user[@]}" build/SorelCheck
