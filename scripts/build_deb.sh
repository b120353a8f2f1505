#!/bin/bash
# Builds the Debian package dist/sorelcheck_<version>_amd64.deb: a Release build in build-deb/
# with Debian's hardening flags, stripped, packed by CPack. Install it with
#   sudo apt install ./dist/sorelcheck_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_packages.sh deb
source scripts/invoking_user.sh
if [[ ${#as_invoking_user[@]} -gt 0 ]]; then
  exec "${as_invoking_user[@]}" "$0" "$@"
fi

# CMake reads CFLAGS, CXXFLAGS and LDFLAGS only when it first configures a build folder, and
# never CPPFLAGS (where _FORTIFY_SOURCE is): start afresh whenever the flags differ.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
flags="CXXFLAGS=$CXXFLAGS LDFLAGS=$LDFLAGS"
if [[ "$(cat build-deb/.buildflags 2>/dev/null)" != "$flags" ]]; then
  rm -rf build-deb
  mkdir -p build-deb
  printf '%s\n' "$flags" >build-deb/.buildflags
fi

cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DSORELCHECK_TESTS=OFF \
  -DSORELCHECK_BENCH=OFF >/dev/null
cmake --build build-deb -j"$(nproc)"
mkdir -p dist
(cd build-deb && cpack -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
ls dist/sorelcheck_*_amd64.deb
