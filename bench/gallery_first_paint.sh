#!/usr/bin/env bash
# Times how soon the gallery (--gallery) of the benchmark set, 5,650 pictures as bitmaps and as
# PNG files, shows its first content in headless Chromium: a copy of index.html with a script
# that writes the first-contentful-paint time into the page, which Chromium then prints. Each
# run has a fresh profile. Prints every time, then the median and range of each format, and
# the load average at the start.
# Usage: bench/gallery_first_paint.sh [runs per format, default 7]
# GALLERY_BLINK_SETTINGS= (empty) measures headless Chromium's own way, every picture loaded.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
chromium=/usr/bin/chromium
[ -x "$chromium" ] || { echo "needs Chromium (apt-get install chromium)"; exit 1; }

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build=$PWD/build/bench
work=/dev/shm/ofb2bmp_gallery.$$
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{samples,data}
cd "$work"

# The pairs of bench/run_end_to_end.sh: two of each kind at their full entry counts.
"$build/tools/sample_writer" samples --large >/dev/null
for kind in PICS BFIL GFIL; do
  for copy in A B; do
    cp "samples/$kind.OFB" "data/$kind$copy.OFB"
    cp "samples/$kind.BIN" "data/$kind$copy.BIN"
  done
done

paint_script="<script>
new PerformanceObserver(function (list) {
  list.getEntries().forEach(function (entry) {
    if (entry.name === 'first-contentful-paint') {
      var said = document.createElement('p');
      said.textContent = 'first-contentful-paint ' + Math.round(entry.startTime) + ' ms';
      document.body.appendChild(said);
    }
  });
}).observe({type: 'paint', buffered: true});
</script>"

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
for format in bmp png; do
  "$build/ofb2bmp" -q --gallery -f "$format" -o "$format" 'data/*.OFB'
  echo "$format: $(grep -c '<img ' "$format/index.html") thumbnails," \
    "$(stat -c %s "$format/index.html") bytes of page"
  # The script goes before </body>, the page's last line but one.
  { sed '$d' "$format/index.html" | sed '$d'; echo "$paint_script"; tail -n 2 "$format/index.html"; } \
    >"$format/paint.html"
  times=()
  for ((run = 0; run < runs; run++)); do
    rm -rf profile
    # Without a virtual time budget: Chromium prints the page once it has loaded, on the real
    # clock. Headless Chromium loads lazy images at once (so that its screenshots are whole);
    # lazyLoadEnabled gives it a desktop browser's lazy loading back.
    time_ms=$(timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic \
      --no-first-run --disable-background-networking --disable-component-update --disable-sync \
      --user-data-dir="$work/profile" --window-size=1280,900 ${GALLERY_BLINK_SETTINGS---blink-settings=lazyLoadEnabled=true} \
      --dump-dom "file://$work/$format/paint.html" 2>/dev/null |
      sed -n 's/.*first-contentful-paint \([0-9]*\) ms.*/\1/p')
    times+=("${time_ms:-none}")
  done
  echo "$format first-contentful-paint (ms): ${times[*]}"
  printf '%s\n' "${times[@]}" | sort -n | awk -v format="$format" \
    '{ t[NR] = $1 } END { printf "%s: median %d ms, range %d-%d ms\n", format, t[int((NR + 1) / 2)], t[1], t[NR] }'
done
