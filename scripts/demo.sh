#!/usr/bin/env bash
# The quick start: installs what is missing, builds the viewer and the
# decoder, registers the decoder for this user, makes the demo flight if it
# is not there yet and plays it in the viewer. Without a display the viewer
# runs on Qt's offscreen platform, plays the demo as fast as it decodes and
# prints its read-outs.
#
#   bash scripts/demo.sh [FILE]
#
# FILE plays instead of the demo flight.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VISTARO_BUILD_DIR:-$root/build}"
release="$build/release"

bash "$root/scripts/install-deps.sh"

# The same build tree as the tests' normal build, so neither command
# undoes the other's configuration.
cmake -S "$root" -B "$release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$release" -j "$(nproc)" --target vistaro-player quorvex vistaro_earth regsvr \
  quorvex-encode quorvex-decode

"$release/tools/regsvr/regsvr" "$release/decoder/libquorvex.so"
# Google Earth's stand-in registers only where a Google Earth program is
# installed; without one the viewer says so when a view mode is chosen.
"$release/tools/regsvr/regsvr" "$release/platform/earth/libvistaro_earth.so" >/dev/null 2>&1 ||
  echo "No Google Earth program found: the map views will report that."

file="${1:-}"
rate=()
if [ -z "$file" ]; then
  # The demo's telemetry is sent at the normal rate.
  rate=(--rate norm)
  bash "$root/scripts/make-demo.sh" 180 "$build"
  file="${VISTARO_DEMO_DIR:-$root/demo}/demo-flight.mkv"
fi

player="$release/viewer/shell/vistaro-player"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$player" "${rate[@]}" "$file"
fi
echo "No display: playing $file offscreen and printing the read-outs."
QT_QPA_PLATFORM=offscreen exec "$player" "${rate[@]}" --fast --exit-at-end --print-readouts "$file"
