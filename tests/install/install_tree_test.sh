#!/usr/bin/env bash
# Installs this build into a scratch prefix and checks that the installed
# programs work from there on their own: the files are where the programs
# look for them, nothing points back into the build tree, and the decoder the
# install step registered is the installed one. Every registry and setting the
# programs touch lives in the scratch folder, never the developer's.
#
# install_tree_test.sh BUILD_DIR SOURCE_DIR SANITIZE REGISTER_ON_INSTALL
set -euo pipefail
build="$1" source="$2" sanitize="$3" register="$4"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
registry="$scratch/components.ini"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" TMPDIR="$scratch/tmp"
export VISTARO_COMPONENT_REGISTRY="$registry" QUORVEX_NMEA_PATH=/dev/null
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$TMPDIR"
unset DESTDIR SUDO_USER VISTARO_ICON_DIR

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }

# --- the file list: everything expected, nothing else
expected="$scratch/expected" actual="$scratch/actual"
{
  printf '%s\n' bin/vistaro-player bin/quorvex-encode bin/quorvex-decode bin/vistaro-regsvr \
    lib/vistaroplayer/libquorvex.so lib/vistaroplayer/libvistaro_earth.so \
    share/applications/vistaro-player.desktop \
    share/icons/hicolor/48x48/apps/vistaro-player.png \
    share/icons/hicolor/32x32/apps/vistaro-player.png \
    share/icons/hicolor/scalable/apps/vistaro-player.svg
  for icon in "$source"/resources/planes/*64x64.png; do
    echo "share/vistaroplayer/planes/$(basename "$icon")"
  done
  (cd "$build/share/vistaroplayer/map" && find . -type f | sed 's|^\./|share/vistaroplayer/map/|')
} | sort >"$expected"
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$actual"
diff -u "$expected" "$actual" >&2 || fail "the installed files differ from the expected list"

for program in vistaro-player quorvex-encode quorvex-decode vistaro-regsvr; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done

# --- nothing installed may lean on the build tree or miss a library
for file in "$prefix"/bin/* "$prefix"/lib/vistaroplayer/*.so; do
  if readelf -d "$file" | grep -F -q "$build"; then fail "$file refers to the build tree"; fi
  if ldd "$file" | grep -q 'not found'; then fail "$file misses a library: $(ldd "$file" | grep 'not found')"; fi
done

# --- artwork: the viewer's plane icons where it looks (relative to its own
# folder), the application icons at the sizes their folders promise
planes="$prefix/bin/../share/vistaroplayer/planes"
for icon in "$source"/resources/planes/*64x64.png; do
  cmp -s "$icon" "$planes/$(basename "$icon")" || fail "plane icon $(basename "$icon") missing or different"
done
png_size() {  # WIDTHxHEIGHT from the PNG header
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d\n", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}
for size in 48x48 32x32; do
  got="$(png_size "$prefix/share/icons/hicolor/$size/apps/vistaro-player.png")"
  [ "$got" = "$size" ] || fail "the $size application icon is $got"
done

# --- the desktop entry: valid, and naming what was installed
desktop="$prefix/share/applications/vistaro-player.desktop"
desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate rejects the desktop entry"
exec_program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
[ -x "$prefix/bin/$exec_program" ] || fail "Exec names $exec_program, which is not installed in bin"
icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "Icon names $icon_name, which is not installed"

# --- registration: by the install step, or by hand with the installed tool
library="$prefix/lib/vistaroplayer/libquorvex.so"
if [ "$register" = "ON" ]; then
  grep -q 'Registered the decoder' "$scratch/install.log" || fail "the install step did not report registering the decoder"
else
  [ ! -e "$registry" ] || fail "the install step registered although registration on install is off"
  "$prefix/bin/vistaro-regsvr" "$library" >/dev/null || fail "vistaro-regsvr $library"
fi
servers="$(grep '^InprocServer32=' "$registry" 2>/dev/null || true)"
[ "$servers" = "InprocServer32=$library" ] ||
  fail "the registry should name only the installed decoder, it names: ${servers:-nothing}"

# --- the installed tools round-trip a synthetic flight through the
# registered decoder
wav="$scratch/flight.wav"
"$prefix/bin/quorvex-encode" --synthetic 3 -o "$wav" >/dev/null || fail "quorvex-encode --synthetic 3"
json="$("$prefix/bin/quorvex-decode" --json "$wav")" || fail "quorvex-decode exited with $?"
good="$(sed -n 's/.*"goodPackets": *\([0-9]*\).*/\1/p' <<<"$json")"
bad="$(sed -n 's/.*"badPackets": *\([0-9]*\).*/\1/p' <<<"$json")"
[ "${good:-0}" -gt 0 ] && [ "$bad" = 0 ] || fail "quorvex-decode decoded good=${good:-?} bad=${bad:-?}"

# --- the installed viewer finds the registered decoder and counts what the
# tool counted by the end of the recording. Skipped when the tool already
# failed.
if [ -n "$good" ]; then
  readouts="$(QT_QPA_PLATFORM=offscreen timeout 60 "$prefix/bin/vistaro-player" --rate norm --fast \
    --exit-at-end --print-readouts --quit-after 30 "$wav" 2>"$scratch/viewer.err")" ||
    fail "vistaro-player exited with $?: $(cat "$scratch/viewer.err")"
  grep -Eiq "Good Packets $good +Bad Packets 0 +lat -?[0-9]+\.[0-9]+.* sats [1-9]" <<<"$(tail -n 1 <<<"$readouts")" ||
    fail "the installed viewer's last read-outs differ from quorvex-decode (good=$good): $(tail -n 1 <<<"$readouts")"
fi

# --- the installed viewer serves its installed map page, Leaflet included,
# and prints the address as soon as it listens
status_of() {  # PORT PATH: the status line of a GET
  exec 3<>"/dev/tcp/127.0.0.1/$1" || return 0
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$2" >&3
  head -n 1 <&3 | tr -d '\r'
  exec 3<&-
}
mkfifo "$scratch/map-url"
QT_QPA_PLATFORM=offscreen timeout 60 "$prefix/bin/vistaro-player" --print-map-url --quit-after 20 \
  >"$scratch/map-url" 2>"$scratch/map.err" &
map_viewer=$!
exec 4<"$scratch/map-url"
read -r -t 30 url <&4 || url=""
if [[ "$url" =~ ^http://127\.0\.0\.1:([0-9]+)(/map/[0-9a-f]{32}/)$ ]]; then
  port="${BASH_REMATCH[1]}" page="${BASH_REMATCH[2]}"
  for path in "$page" "${page}leaflet/leaflet.js" "${page}map.js"; do
    got="$(status_of "$port" "$path")"
    [ "$got" = "HTTP/1.1 200 OK" ] || fail "the installed map page lacks $path: ${got:-no answer}"
  done
  got="$(status_of "$port" /map/state.json)"
  [ "$got" = "HTTP/1.1 403 Forbidden" ] || fail "the map answers without its token: ${got:-no answer}"
else
  fail "vistaro-player --print-map-url printed '$url': $(cat "$scratch/map.err")"
fi
kill "$map_viewer" 2>/dev/null || true
wait "$map_viewer" 2>/dev/null || true
exec 4<&-

# --- GStreamer finds and runs the decoder element through GST_PLUGIN_PATH
# (only outside sanitizer builds: GStreamer's uninstrumented tools cannot
# load an instrumented plugin)
if [ -z "$sanitize" ]; then
  GST_REGISTRY="$scratch/gst-registry.bin" GST_PLUGIN_PATH="$prefix/lib/vistaroplayer" \
    gst-launch-1.0 -q audiotestsrc num-buffers=4 ! audio/x-raw,format=S16LE,rate=44100,channels=1 \
    ! quorvexdecode ! fakesink >"$scratch/gst.log" 2>&1 ||
    fail "GStreamer cannot run quorvexdecode from GST_PLUGIN_PATH: $(cat "$scratch/gst.log")"
fi

# --- staging for a package: the files land under DESTDIR and nobody's
# registry is touched. Staged for the prefix installed above, so a step that
# ignored DESTDIR would find a working vistaro-regsvr there.
stage="$scratch/stage" stage_registry="$scratch/stage-components.ini"
DESTDIR="$stage" VISTARO_COMPONENT_REGISTRY="$stage_registry" \
  cmake --install "$build" --prefix "$prefix" >"$scratch/stage.log" 2>&1 ||
  fail "cmake --install with DESTDIR: $(cat "$scratch/stage.log")"
[ -x "$stage$prefix/bin/vistaro-player" ] || fail "DESTDIR install put no viewer under DESTDIR"
[ ! -e "$stage_registry" ] || fail "DESTDIR install registered the decoder"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "install tree OK"
