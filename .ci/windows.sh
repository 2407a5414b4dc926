#!/usr/bin/env bash
# The Windows build: cross-builds ofb2bmp.exe with MinGW-w64, runs it under Wine beside the
# Linux build (build/dev, made by the test workflow before this stage), and drives the real
# open-file dialog on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-missing g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 xvfb xdotool imagemagick locales fonts-vlgothic
# Wine takes the ANSI code page (932 for Japanese) from the locale, which glibc must know.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

echo "== Windows: cross-build ofb2bmp.exe (the README's command)"
cmake --workflow --preset windows
cmake --build --preset dev --target ofb2bmp ofb2bmp_end_to_end_tests sample_writer

# One fresh Wine prefix for the whole stage, and a server that stays up between runs.
WINEPREFIX=$(mktemp -d)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineserver -p
env -u DISPLAY timeout 300 wine wineboot --init >/dev/null 2>&1

echo "== Windows: the end-to-end cases under Wine, compared with the Linux build"
OFB2BMP_WINDOWS_EXE="$PWD/build/windows/ofb2bmp.exe" OFB2BMP_REQUIRE_JAPANESE_LOCALE=1 \
  env -u DISPLAY timeout 600 build/dev/tests/ofb2bmp_end_to_end_tests --gtest_filter='*UnderWine*'


echo "== Windows: the open-file dialog under Xvfb"
timeout 300 bash tests/wine_dialog_test.sh build/windows/ofb2bmp.exe build/dev/ofb2bmp \
  build/dev/tools/sample_writer build/windows
