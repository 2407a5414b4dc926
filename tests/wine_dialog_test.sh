#!/usr/bin/env bash
# The open-file dialog for real: ofb2bmp.exe without a name under Wine on a virtual X display,
# driven with xdotool. Escape must cancel (status 1, nothing printed); a typed name and Enter
# must extract that index file exactly as the Linux build does. A screenshot of the dialog in
# Japanese is left in SCREENSHOT_FOLDER.
# usage: wine_dialog_test.sh OFB2BMP.EXE LINUX_OFB2BMP SAMPLE_WRITER SCREENSHOT_FOLDER
# Wine's prefix and server come from the caller (WINEPREFIX).
set -euo pipefail
scratch=$(mktemp -d)
screenshot="$(realpath "$4")/dialog-ja_JP.png"
mkdir -p "$scratch/win" "$scratch/lin" "$scratch/data"
cp "$1" "$scratch/win/ofb2bmp.exe"
cp "$2" "$scratch/lin/ofb2bmp"
"$3" "$scratch/data" >/dev/null
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$scratch"' EXIT
fail() {
  echo "dialog test FAILED: $*" >&2
  tail -n 20 "$scratch/stderr" >&2 2>/dev/null
  exit 1
}

# A Wine session started without a display keeps a desktop on which no dialog can open: end
# it, so the next start opens on Xvfb, at a display number of the server's own choosing.
wineserver -k 2>/dev/null || true
wineserver -w
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
for _ in $(seq 50); do [ -s "$scratch/display" ] && break; sleep 0.2; done
export DISPLAY=":$(cat "$scratch/display")"

# Starts the program without a name in the data folder and waits for the dialog's window.
start_program() {
  rm -f "$scratch/status"
  (cd "$scratch/data" && status=0 && timeout 120 env "$@" WINEDEBUG=-all wine \
    "$scratch/win/ofb2bmp.exe" </dev/null >"$scratch/stdout" 2>"$scratch/stderr" || status=$?
  echo "${status:-0}" >"$scratch/status") &
  for _ in $(seq 240); do
    window=$(xdotool search --onlyvisible --name '.' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    [ ! -s "$scratch/status" ] || fail "the program ended without a dialog"
    sleep 0.5
  done
  [ -n "$window" ] || fail "no dialog window appeared within 2 minutes"
  sleep 1 # let the dialog finish drawing
}
press() { xdotool windowfocus --sync "$window" && xdotool "$@"; }
status_after() {
  for _ in $(seq 300); do [ -s "$scratch/status" ] && break; sleep 0.2; done
  cat "$scratch/status"
}

# 1. Escape cancels; in Japanese where the locale is there, for the screenshot.
japanese=()
locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8' && japanese=(LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
start_program "${japanese[@]}"
import -window root "$screenshot" 2>/dev/null
press key Escape
[ "$(status_after)" = 1 ] || fail "Escape: status $(cat "$scratch/status"), expected 1"
[ ! -s "$scratch/stdout" ] || fail "Escape: something was printed: $(od -c "$scratch/stdout")"
echo "dialog cancelled with Escape: status 1, nothing printed (screenshot: $screenshot)"

# 2. A typed full path and Enter extract that file, as the Linux build extracts it.
start_program
windows_data="Z:${scratch//\//\\}\\data\\"
press type --delay 20 "${windows_data}BFIL.OFB"
press key Return
[ "$(status_after)" = 0 ] || fail "Enter: status $(cat "$scratch/status"), expected 0"
linux_text="$("$scratch/lin/ofb2bmp" "$scratch/data/BFIL.OFB"; echo .)"
expected="${linux_text//"$scratch/data/"/"$windows_data"}"
[ "$(cat "$scratch/stdout"; echo .)" = "${expected//$'\n'/$'\r\n'}" ] ||
  fail "Enter: console text differs: $(od -c "$scratch/stdout" | head)"
count=$(ls "$scratch"/lin/*.BMP | wc -l)
for bitmap in "$scratch"/lin/*.BMP; do
  cmp -s "$bitmap" "$scratch/win/${bitmap##*/}" || fail "Enter: ${bitmap##*/} differs"
done
[ "$count" -gt 0 ] && [ "$count" = "$(ls "$scratch"/win/*.BMP | wc -l)" ] ||
  fail "Enter: $count bitmaps from Linux, $(ls "$scratch"/win/*.BMP | wc -l) from Windows"
echo "dialog confirmed with Enter: $count bitmaps identical to the Linux build's"
