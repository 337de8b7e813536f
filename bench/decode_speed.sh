#!/usr/bin/env bash
# How fast quorvex-decode gets the telemetry out of a flight video, against
# the work nobody can avoid: demuxing the file and decoding its audio.
#
#   bench/decode_speed.sh BUILD_DIR [MEDIA_DIR] [RUNS]
#
# Makes (once, in MEDIA_DIR, default BUILD_DIR/bench-media) a 10-minute MKV
# with 640x360 H.264 video at 30 frames per second (moving noise, so the
# encoder spends its full 2 Mbit/s as a real camera does) and the telemetry
# as Vorbis audio. Then times, alternating, RUNS (default 5) runs each of
#   quorvex-decode --library libquorvex.so FILE
#   gst-launch-1.0 filesrc location=FILE ! matroskademux ! vorbisdec ! fakesink sync=false
# and prints the medians, quorvex-decode's speed as a multiple of real time
# and its cost relative to the bare decode. Targets: at least 500 times real
# time, at most 2 times the bare decode.
set -euo pipefail

build="$(cd "${1:?usage: decode_speed.sh BUILD_DIR [MEDIA_DIR] [RUNS]}" && pwd)"
media_dir="${2:-$build/bench-media}"
runs="${3:-5}"
seconds=600
decode="$build/tools/quorvex-decode/quorvex-decode"
library="$build/decoder/libquorvex.so"
encode="$build/tools/quorvex-encode/quorvex-encode"
media="$media_dir/flight-10min-h264-vorbis.mkv"
export QUORVEX_NMEA_PATH=/dev/null

mkdir -p "$media_dir"
if [ ! -s "$media" ]; then
  echo "Making $media (a few minutes, once)..." >&2
  "$encode" --synthetic "$seconds" --stereo right --other tone -o "$media_dir/flight.wav" >/dev/null
  gst-launch-1.0 -q \
    filesrc location="$media_dir/flight.wav" ! wavparse ! audioconvert ! vorbisenc ! queue ! mux. \
    videotestsrc pattern=snow num-buffers=$((seconds * 30)) ! \
    video/x-raw,width=640,height=360,framerate=30/1 ! \
    x264enc speed-preset=ultrafast bitrate=2000 ! queue ! \
    matroskamux name=mux ! filesink location="$media.part"
  mv "$media.part" "$media"
  rm -f "$media_dir/flight.wav"
fi

elapsed() {
  local start end
  start="$(date +%s.%N)"
  "$@" >/dev/null
  end="$(date +%s.%N)"
  awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f\n", e - s}'
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
minimum() { sort -n | head -1; }

frames="$("$decode" --library "$library" --json "$media" |
  sed -n 's/^  "goodPackets": \([0-9]*\),$/\1/p')"
ours=()
bare=()
for _ in $(seq "$runs"); do
  ours+=("$(elapsed "$decode" --library "$library" "$media")")
  bare+=("$(elapsed gst-launch-1.0 -q filesrc location="$media" ! matroskademux ! vorbisdec ! \
    fakesink sync=false)")
done
ours_median="$(printf '%s\n' "${ours[@]}" | median)"
bare_median="$(printf '%s\n' "${bare[@]}" | median)"
ours_min="$(printf '%s\n' "${ours[@]}" | minimum)"
bare_min="$(printf '%s\n' "${bare[@]}" | minimum)"

echo "file: $media ($(du -m "$media" | cut -f1) MiB, $seconds s, $frames telemetry frames decoded)"
echo "quorvex-decode:        ${ours[*]} s (best $ours_min, median $ours_median)"
echo "bare demux and decode: ${bare[*]} s (best $bare_min, median $bare_median)"
# The best run is the one least disturbed by other work on the machine;
# the medians show how much such work moved the figures.
awk -v o="$ours_min" -v b="$bare_min" -v om="$ours_median" -v bm="$bare_median" -v s="$seconds" '
BEGIN {
  printf "quorvex-decode runs at %.0f times real time (median %.0f; target: at least 500)\n",
    s / o, s / om
  printf "and costs %.2f times the bare decode (median %.2f; target: at most 2)\n", o / b, om / bm
}'
