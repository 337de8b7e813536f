#!/usr/bin/env bash
# Makes the demo flight the viewer offers on first start: a Matroska file with
# a moving sky-and-fields picture and the generator's synthetic flight as its
# audio track, so the whole program can be tried without an aircraft.
#
#   scripts/make-demo.sh [SECONDS] [BUILD_DIR]
#
# SECONDS defaults to 180. BUILD_DIR (or $VISTARO_BUILD_DIR, default build/)
# is where quorvex-encode was built: either a build tree itself or the parent
# of the release/ tree scripts/test.sh lays out. The file goes to
# ${VISTARO_DEMO_DIR:-demo}/demo-flight.mkv; an existing file is left alone.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

seconds="${1:-180}"
build="${2:-${VISTARO_BUILD_DIR:-$root/build}}"
demo_dir="${VISTARO_DEMO_DIR:-$root/demo}"
out="$demo_dir/demo-flight.mkv"
fps=25

die() { echo "make-demo: $*" >&2; exit 1; }

[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || die "SECONDS must be a positive whole number, not '$seconds'"

if [ -e "$out" ]; then
  echo "make-demo: $out already exists"
  exit 0
fi

find_tool() {
  local rel="$1" dir
  for dir in "$build/release" "$build"; do
    if [ -x "$dir/$rel" ]; then echo "$dir/$rel"; return 0; fi
  done
  return 1
}

encoder="$(find_tool tools/quorvex-encode/quorvex-encode)" ||
  die "no quorvex-encode under $build (build it: cmake --build BUILD --target quorvex-encode)"
command -v gst-launch-1.0 >/dev/null || die "gst-launch-1.0 is missing (run scripts/install-deps.sh)"

mkdir -p "$demo_dir"
work="$(mktemp -d)"
# The partial file sits beside the final one so that the rename is atomic,
# and its name does not end in .mkv so that nothing mistakes it for the demo.
partial="$out.part.$$"
gst_pid=""
cleanup() {
  if [ -n "$gst_pid" ]; then kill "$gst_pid" 2>/dev/null || true; wait "$gst_pid" 2>/dev/null || true; fi
  rm -rf "$work"
  rm -f "$partial"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A quarter of full scale: far above what the receiver needs, and gentler on
# the ears of whoever plays the demo with the sound on.
counts="$("$encoder" --synthetic "$seconds" --amplitude 0.25 -o "$work/telemetry.wav")"
expected=$(awk -F': ' '/frames:/ { n += $2 } END { print n + 0 }' <<<"$counts")

frames=$((seconds * fps))
caps="framerate=$fps/1"

# Sky over fields scrolling sideways, a sun drifting about as the aircraft
# banks, and the caption and running time a video transmitter would overlay.
# Everything stays in I420 from the sources on: a layer with an alpha
# channel of its own would make the compositor blend in AYUV, several times
# slower than the encoder. The fields are the test source's red and green
# squares faded into a plain green, drawn small and blown up without
# smoothing so they stay sharp and cheap to encode. FLAC keeps the telemetry
# bit-exact; a lossy codec would cost frames.
# It runs in the background so that an interrupted script can stop it
# rather than leave it writing on.
raw="video/x-raw,format=I420"
gst-launch-1.0 -q -e \
  compositor name=mix background=black sink_1::ypos=300 sink_2::ypos=300 sink_2::alpha=0.18 \
    ! "$raw,width=640,height=480,$caps" \
    ! textoverlay text="DEMO FLIGHT" valignment=top halignment=left \
        font-desc="Sans Bold 18" shaded-background=true \
    ! textoverlay text="-- ( + ) --" valignment=center halignment=center \
        font-desc="Sans Bold 16" color=0xd0ffffff \
    ! timeoverlay valignment=bottom halignment=right font-desc="Sans 14" shaded-background=true \
    ! queue \
    ! x264enc speed-preset=superfast pass=qual quantizer=26 key-int-max=$((fps * 2)) \
    ! h264parse ! queue ! mux.video_0 \
  videotestsrc num-buffers=$frames pattern=ball motion=wavy \
      background-color=0xff6fa8e0 foreground-color=0xfffff0a0 \
    ! "$raw,width=640,height=300,$caps" ! mix.sink_0 \
  videotestsrc num-buffers=$frames pattern=solid-color foreground-color=0xff4d7a36 \
    ! "$raw,width=640,height=180,$caps" ! mix.sink_1 \
  videotestsrc num-buffers=$frames pattern=checkers-8 horizontal-speed=1 \
    ! "$raw,width=160,height=45,$caps" \
    ! videoscale method=nearest-neighbour ! "video/x-raw,width=640,height=180" ! mix.sink_2 \
  filesrc location="$work/telemetry.wav" ! wavparse ! flacenc ! queue ! mux.audio_0 \
  matroskamux name=mux ! filesink location="$partial" &
gst_pid=$!
wait "$gst_pid"
gst_pid=""

# A check that the telemetry survived the muxing, when the decoder is at hand.
decoder="$(find_tool tools/quorvex-decode/quorvex-decode)" || decoder=""
library="$(find_tool decoder/libquorvex.so)" || library=""
if [ -n "$decoder" ] && [ -n "$library" ]; then
  summary="$("$decoder" --library "$library" --nmea "$work/nmea.txt" "$partial")"
  read -r decoded bad < <(sed -n 's/.*: \([0-9]*\) frames decoded, \([0-9]*\) bad.*/\1 \2/p' <<<"$summary")
  if [ "${decoded:-}" != "$expected" ] || [ "${bad:-}" != 0 ]; then
    die "the finished file decodes to ${decoded:-?} frames (${bad:-?} bad), the generator wrote $expected"
  fi
  echo "make-demo: $expected telemetry frames decode from the finished file"
fi

mv "$partial" "$out"
echo "make-demo: wrote $out ($seconds s)"
