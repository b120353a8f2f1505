#!/bin/bash
# Cross-builds the Windows program with mingw-w64: build-win/SorelCheck.exe, checked to be a
# GUI program that imports only system DLLs and asks for the highest available rights, and
# dist/SorelCheck-win64.zip holding it with the five samples, ready to hand to a user.
# --with-tests also builds the unit tests and the end-to-end driver (scripts/test_windows.sh
# runs them), with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."

with_tests=OFF
case "${1:-}" in
  "") ;;
  --with-tests) with_tests=ON ;;
  *) echo "usage: $0 [--with-tests]" >&2; exit 2 ;;
esac

if [[ $with_tests == ON ]]; then
  scripts/install_packages.sh windows-test
else
  scripts/install_packages.sh windows
fi

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DSORELCHECK_TESTS="$with_tests" -DSORELCHECK_WERROR="$with_tests" \
  >/dev/null
if [[ $with_tests == ON ]]; then
  cmake --build build-win -j"$(nproc)"
else
  cmake --build build-win -j"$(nproc)" --target SorelCheck
fi

exe=build-win/SorelCheck.exe
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
if ! grep -Eq 'Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$headers"; then
  echo "$exe is not a GUI-subsystem program" >&2
  exit 1
fi
# Only DLLs that Windows keeps in System32 (comctl32 bound to the side-by-side copy by the
# manifest); anything else would have to be shipped beside the exe, or could be planted there.
# winmm above all: it is no known DLL, so a static import would be searched for in the exe's
# folder first; the program loads it from System32 at run time.
system_dlls=" kernel32.dll user32.dll gdi32.dll msvcrt.dll comctl32.dll ole32.dll "
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
for dll in $imports; do
  if [[ $system_dlls != *" ${dll,,} "* ]]; then
    echo "$exe imports $dll (allowed:$system_dlls)" >&2
    exit 1
  fi
done
# The fixed test file at the root of C: needs an administrator's right: an administrator gets
# the consent prompt, a standard user starts as before and sees the failure message.
level=$(grep -ao 'requestedExecutionLevel level="[A-Za-z]*"' "$exe" || true)
if [[ $level != 'requestedExecutionLevel level="highestAvailable"' ]]; then
  echo "$exe: manifest asks for ${level:-no execution level}, not highestAvailable" >&2
  exit 1
fi

package=SorelCheck-win64
rm -rf "dist/$package" "dist/$package.zip"
mkdir -p "dist/$package"
cp "$exe" assets/samples/a[1-5].wav "dist/$package/"
(cd dist && cmake -E tar cf "$package.zip" --format=zip "$package")
echo "Built $exe (imports: $(echo $imports)) and dist/$package.zip"
