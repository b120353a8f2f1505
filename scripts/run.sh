#!/bin/bash
# Installs what the program needs, builds it and starts it on the current desktop.
# Through sudo, only the installation runs as root: the build and the program belong to the
# user who called it, so the sound reaches that user's sound server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh run

as_user=()
if [[ $(id -u) -eq 0 && -n "${SUDO_USER:-}" && "$SUDO_USER" != root ]]; then
  user_id=$(id -u "$SUDO_USER")
  as_user=(sudo -u "$SUDO_USER" env "DISPLAY=${DISPLAY:-}" "XAUTHORITY=${XAUTHORITY:-}"
    "XDG_RUNTIME_DIR=/run/user/$user_id")
fi
"${as_user[@]}" cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
"${as_user[@]}" cmake --build build -j"$(nproc)" --target SorelCheck
exec "${as_user[@]}" build/SorelCheck
