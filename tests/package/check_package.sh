#!/bin/bash
# Builds the Debian package with scripts/build_deb.sh and checks it as Debian and a user would:
# lintian, validators, layout (and cmake --install's), the program and its dependencies.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

"$source_dir/scripts/build_deb.sh" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
version=$(sed -nE 's/.*VALUE "ProductVersion", "([^"]+)".*/\1/p' \
  "$source_dir/platform/win32/resources.rc")
deb="$source_dir/dist/sorelcheck_${version}_amd64.deb"
[[ -f "$deb" ]] || { echo "FAILED: no $deb for the program's version $version"; exit 1; }
echo "package: $deb, $(stat -c %s "$deb") bytes"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"

lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1 ||
  fail "lintian reports errors or warnings"
grep -v 'root privileges' "$work/lintian.log"

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/sorelcheck.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli"

expected=$(printf '%s\n' bin/SorelCheck libexec/sorelcheck/{SorelCheck,a{1..5}.wav} \
  share/applications/sorelcheck.desktop share/doc/sorelcheck/{changelog.gz,copyright} \
  share/icons/hicolor/{16x16,24x24,32x32,48x48}/apps/sorelcheck.png share/man/man1/SorelCheck.1.gz \
  share/metainfo/example.c_seed_022afa2c.sorelcheck.metainfo.xml)
files_under() { (cd "$1" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort); }
diff -u <(echo "$expected") <(files_under "$root/usr") || fail "package files differ"
[[ -z "$(find "$root" -mindepth 1 -maxdepth 1 ! -name usr)" ]] || fail "files outside /usr"
prefix="$work/prefix/opt/any where"
cmake --install "$source_dir/build-deb" --prefix "$prefix" >/dev/null
diff -u <(echo "$expected") <(files_under "$prefix") || fail "cmake --install layout differs"

for top in "$root/usr" "$prefix"; do
  program=$(readlink -f "$top/bin/SorelCheck")
  [[ "$program" == "$top/libexec/sorelcheck/SorelCheck" && -x "$program" ]] ||
    fail "$top/bin/SorelCheck leads to $program"
  for n in 1 2 3 4 5; do
    cmp -s "$(dirname "$program")/a$n.wav" "$source_dir/assets/samples/a$n.wav" ||
      fail "a$n.wav is not beside $program"
  done
done

program="$root/usr/libexec/sorelcheck/SorelCheck"
grep 'not found' <<<"$(ldd "$program")" && fail "unresolved libraries"
elf=$(readelf -W --dynamic --dyn-syms "$program")
# Stripping, RELRO and PIE are lintian's errors and warnings; these two are not.
grep -q 'FLAGS.*BIND_NOW' <<<"$elf" || fail "program not linked with -z now"
grep -q __stack_chk_fail <<<"$elf" || fail "program has no stack protector"

dpkg-deb -f "$deb" Depends Recommends
depends=$(dpkg-deb -f "$deb" Depends) recommends=$(dpkg-deb -f "$deb" Recommends)
# libqt6gui6 holds the X11 platform plugin; the fonts are the Gothic faces that fit at 12 points.
for wanted in 'libqt6gui6 ' 'libqt6widgets6 ' 'libpulse0 ' 'fonts-ipafont-gothic | fonts-vlgothic'; do
  [[ "$depends, " == *"$wanted"* ]] || fail "Depends lacks $wanted"
done
[[ "$recommends" == "pulseaudio | pipewire-pulse" ]] || fail "Recommends: $recommends"

[[ $failures -eq 0 ]] && echo "package checks passed"
exit $((failures > 0))
