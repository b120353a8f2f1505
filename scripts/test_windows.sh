#!/bin/bash
# Builds the Windows program and runs its tests under Wine: the unit tests and the end-to-end
# scenarios. Inside scripts/desktop_session.sh it uses that desktop (Xvfb, openbox, PulseAudio
# null sink); without DISPLAY it starts a private one.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh windows-test

if [[ -z "${DISPLAY:-}" ]]; then
  exec scripts/desktop_session.sh "$0" "$@"
fi

started=$SECONDS
scripts/build_windows.sh --with-tests
echo "Windows build: $((SECONDS - started)) s"

# One prefix for the whole run, on disk: the test file alone is 700 MiB.
work=$(mktemp -d "${TMPDIR:-/var/tmp}/sorelcheck-wine.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Japanese Windows: code page 932 for the narrow sample path, Japanese fonts in the boxes.
mkdir -p "$work/locale" "$WINEPREFIX"
localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8"
japanese=(env LOCPATH="$work/locale" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)

started=$SECONDS
# A server that stays up saves every test the start of a new one.
"${japanese[@]}" wineserver -p
"${japanese[@]}" wineboot -i >"$work/wineboot.log" 2>&1
# A high-contrast theme, as people with low vision use: white text on black windows, green
# disabled text. Wine reads the colours once per session, so the server starts again.
for colour in "Window=0 0 0" "WindowText=255 255 255" "GrayText=63 242 63"; do
  wine reg add 'HKCU\Control Panel\Colors' /v "${colour%%=*}" /d "${colour#*=}" /f >/dev/null
done
wineserver -k
wineserver -w
"${japanese[@]}" wineserver -p
# The session's own processes start with the first program: not with a test's output pipes.
"${japanese[@]}" wineboot >>"$work/wineboot.log" 2>&1
echo "Wine prefix: $((SECONDS - started)) s"
# Forget the last run's timings and failures, which would reorder the tests: the end-to-end
# ones go first (see tests/e2e/win32/CMakeLists.txt).
rm -f build-win/Testing/Temporary/CTestCostData.txt
status=0
"${japanese[@]}" ctest --test-dir build-win --output-on-failure \
  ${SORELCHECK_JUNIT:+--output-junit "$SORELCHECK_JUNIT"} || status=$?
echo "Wine part (prefix and tests): $((SECONDS - started)) s"
exit "$status"
