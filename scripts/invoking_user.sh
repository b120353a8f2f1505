# Sourced by the run and test scripts. Through sudo, only the package installation needs root:
# builds and runs belong to the user who called sudo, so the two commands can follow each other
# in either order, with or without sudo, and the program's sound reaches that user's server.
as_invoking_user=()
if [[ $(id -u) -eq 0 && -n "${SUDO_USER:-}" && "$SUDO_USER" != root ]]; then
  as_invoking_user=(sudo -u "$SUDO_USER" env "DISPLAY=${DISPLAY:-}" "XAUTHORITY=${XAUTHORITY:-}"
    "XDG_RUNTIME_DIR=/run/user/$(id -u "$SUDO_USER")")
fi
