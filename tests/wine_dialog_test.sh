#!/usr/bin/env bash
# The open-file dialog for real: ofb2bmp.exe without an argument under Wine on a virtual X
# display, driven with xdotool. Escape must cancel (status 1, nothing printed); a typed name
# and Enter must extract that index file exactly as the Linux build does.
# usage: wine_dialog_test.sh OFB2BMP.EXE LINUX_OFB2BMP SAMPLE_WRITER SCREENSHOT_FOLDER
# Wine's prefix and server come from the caller (WINEPREFIX).
set -euo pipefail

windows_exe=$(realpath "$1")
linux_exe=$(realpath "$2")
sample_writer=$(realpath "$3")
screenshot_folder=$(realpath "$4")
scratch=$(mktemp -d)
xvfb_pid=
wine_pid=

cleanup() {
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap "exit 1" TERM INT

fail() {
  echo "dialog test FAILED: $*" >&2
  if [ -s "$scratch/stderr" ]; then
    echo "Wine said:" >&2
    tail -n 20 "$scratch/stderr" >&2
  fi
  exit 1
}

mkdir -p "$scratch/win" "$scratch/lin" "$scratch/data"
cp "$windows_exe" "$scratch/win/ofb2bmp.exe"
cp "$linux_exe" "$scratch/lin/ofb2bmp"
"$sample_writer" "$scratch/data" >/dev/null

# A Wine session started without a display (wineboot, the tests before this one) keeps a
# desktop without one, on which no dialog can open: end it, so the next start opens on Xvfb.
wineserver -k 2>/dev/null || true
wineserver -w

# A display number of the server's own choosing, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -s "$scratch/display" ] && break
  sleep 0.2
done
[ -s "$scratch/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$scratch/display")"

# Starts the program without an argument in the data folder (where the dialog opens) and
# waits for the dialog window; its id goes to $window.
start_program() {
  rm -f "$scratch/status"
  (
    cd "$scratch/data"
    status=0
    timeout 120 env "$@" WINEDEBUG=-all wine "$scratch/win/ofb2bmp.exe" </dev/null \
      >"$scratch/stdout" 2>"$scratch/stderr" || status=$?
    echo "$status" >"$scratch/status"
  ) &
  wine_pid=$!
  window=
  for _ in $(seq 240); do
    window=$(xdotool search --onlyvisible --name '.' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    [ ! -s "$scratch/status" ] || fail "the program ended without a dialog"
    sleep 0.5
  done
  [ -n "$window" ] || fail "no dialog window appeared within 2 minutes"
  sleep 1 # let the dialog finish drawing
}

# Keys typed through the X test extension reach the window that has the focus.
press() {
  xdotool windowfocus --sync "$window"
  xdotool "$@"
}

finish_program() {
  for _ in $(seq 300); do
    [ -s "$scratch/status" ] && break
    sleep 0.2
  done
  [ -s "$scratch/status" ] || fail "the program did not end"
  wait "$wine_pid" || true
  wine_pid=
}

# 1. Escape cancels. In Japanese, so the screenshot shows the filter's description.
japanese=()
if locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8'; then
  japanese=(LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
else
  echo "ja_JP.UTF-8 is not installed: the dialog is shown in the default language"
fi
start_program "${japanese[@]}"
screenshot="$screenshot_folder/dialog-ja_JP.png"
import -window root "$screenshot" 2>/dev/null
echo "dialog screenshot: $screenshot (window title: $(xdotool getwindowname "$window"))"
press key Escape
finish_program
[ "$(cat "$scratch/status")" = 1 ] || fail "Escape: status $(cat "$scratch/status"), expected 1"
[ ! -s "$scratch/stdout" ] || fail "Escape: something was printed: $(od -c "$scratch/stdout")"
echo "dialog cancelled with Escape: status 1, nothing printed"

# 2. A typed path and Enter extract that file, as the Linux build extracts its full path.
start_program
# The full path: the dialog may open in the folder it was last left in, not the current one.
windows_data="Z:${scratch//\//\\}\\data\\"
press type --delay 20 "${windows_data}BFIL.OFB"
press key Return
finish_program
[ "$(cat "$scratch/status")" = 0 ] || fail "Enter: status $(cat "$scratch/status"), expected 0"
"$scratch/lin/ofb2bmp" "$scratch/data/BFIL.OFB" >"$scratch/linux_stdout"
# The same text with the data folder spelled Z:\...\ and CR LF line ends.
linux_text="$(cat "$scratch/linux_stdout"; echo .)"
expected="${linux_text//"$scratch/data/"/"$windows_data"}"
expected="${expected//$'\n'/$'\r\n'}"
[ "$(cat "$scratch/stdout"; echo .)" = "$expected" ] ||
  fail "Enter: console text differs: $(od -c "$scratch/stdout" | head)"
count=0
for bitmap in "$scratch"/lin/*.BMP; do
  cmp -s "$bitmap" "$scratch/win/$(basename "$bitmap")" || fail "Enter: $(basename "$bitmap") differs"
  count=$((count + 1))
done
[ "$count" -gt 0 ] && [ "$count" = "$(ls "$scratch"/win/*.BMP | wc -l)" ] ||
  fail "Enter: $count bitmaps from Linux, $(ls "$scratch"/win/*.BMP | wc -l) from Windows"
echo "dialog confirmed with Enter: $(head -n 1 "$scratch/stdout" | tr -d '\r') extracted," \
  "$count bitmaps identical to the Linux build's"
