#!/usr/bin/env bash
# How much telemetry survives lossy audio codecs: encodes one synthetic
# flight with each codec at typical bitrates and at each slot rate, decodes
# it with quorvex-decode and prints the share of frames decoded as a
# Markdown table.
#
#   bench/codec_survival.sh BUILD_DIR [SECONDS]
#
# BUILD_DIR is a build tree with quorvex-encode, quorvex-decode and
# libquorvex.so; SECONDS the length of the flight (default 60). Needs
# gst-launch-1.0 with the base, good, ugly and libav plugins.
set -euo pipefail

build="${1:?usage: codec_survival.sh BUILD_DIR [SECONDS]}"
seconds="${2:-60}"
encode="$build/tools/quorvex-encode/quorvex-encode"
decode="$build/tools/quorvex-decode/quorvex-decode"
library="$build/decoder/libquorvex.so"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QUORVEX_NMEA_PATH=/dev/null

# name | encoder and muxer (after "audioconvert !") | extension
codecs=(
  "Vorbis q0.1 (~80 kbit/s)|vorbisenc quality=0.1 ! oggmux|ogg"
  "Vorbis q0.3 (~112 kbit/s, default)|vorbisenc quality=0.3 ! oggmux|ogg"
  "Vorbis q0.5 (~160 kbit/s)|vorbisenc quality=0.5 ! oggmux|ogg"
  "AAC (avenc_aac) 96 kbit/s|avenc_aac bitrate=96000 ! mp4mux|mp4"
  "AAC (avenc_aac) 128 kbit/s|avenc_aac bitrate=128000 ! mp4mux|mp4"
  "AAC (avenc_aac) 192 kbit/s|avenc_aac bitrate=192000 ! mp4mux|mp4"
  "AAC (voaacenc) 96 kbit/s|voaacenc bitrate=96000 ! mp4mux|mp4"
  "AAC (voaacenc) 128 kbit/s|voaacenc bitrate=128000 ! mp4mux|mp4"
  "AAC (voaacenc) 192 kbit/s|voaacenc bitrate=192000 ! mp4mux|mp4"
  "WMA v2 64 kbit/s|avenc_wmav2 bitrate=64000 ! asfmux streamable=true|wma"
  "WMA v2 128 kbit/s|avenc_wmav2 bitrate=128000 ! asfmux streamable=true|wma"
  "WMA v2 192 kbit/s|avenc_wmav2 bitrate=192000 ! asfmux streamable=true|wma"
  "MPEG-1 Layer II 128 kbit/s|twolamemp2enc bitrate=128 ! avmux_mpeg|mpg"
  "MPEG-1 Layer II 192 kbit/s|twolamemp2enc bitrate=192 ! avmux_mpeg|mpg"
  "MPEG-1 Layer II 256 kbit/s|twolamemp2enc bitrate=256 ! avmux_mpeg|mpg"
  "MP3 128 kbit/s CBR|lamemp3enc target=bitrate cbr=true bitrate=128 ! id3v2mux|mp3"
  "MP3 192 kbit/s CBR|lamemp3enc target=bitrate cbr=true bitrate=192 ! id3v2mux|mp3"
  "MP3 320 kbit/s CBR|lamemp3enc target=bitrate cbr=true bitrate=320 ! id3v2mux|mp3"
  "Opus 64 kbit/s (resampled to 48 kHz)|audioresample ! audio/x-raw,rate=48000 ! opusenc bitrate=64000 ! matroskamux|mkv"
  "Opus 128 kbit/s (resampled to 48 kHz)|audioresample ! audio/x-raw,rate=48000 ! opusenc bitrate=128000 ! matroskamux|mkv"
)
rates=(slow norm fast)

for rate in "${rates[@]}"; do
  "$encode" --synthetic "$seconds" --rate "$rate" --stereo right --other tone \
    -o "$work/$rate.wav" >"$work/$rate.count"
done
sent="$(awk -F': ' '{n += $2} END {print n}' "$work/norm.count")"

echo "Synthetic flight of $seconds s ($sent frames), 44100 Hz stereo, telemetry on the"
echo "right channel at half scale, a 1 kHz tone on the left. Share of frames decoded:"
echo
echo "| codec and bitrate | slow (2388) | norm (4777) | fast (9554) |"
echo "|---|---|---|---|"
for entry in "${codecs[@]}"; do
  IFS='|' read -r name chain ext <<<"$entry"
  row="| $name |"
  for rate in "${rates[@]}"; do
    out="$work/$rate.$ext"
    if ! gst-launch-1.0 -q filesrc location="$work/$rate.wav" ! wavparse ! audioconvert ! \
        $chain ! filesink location="$out" >/dev/null 2>&1; then
      row+=" (no encoder) |"
      continue
    fi
    good="$("$decode" --library "$library" --rate "$rate" --json "$out" |
      sed -n 's/^  "goodPackets": \([0-9]*\),$/\1/p')"
    row+="$(awk -v g="${good:-0}" -v s="$sent" 'BEGIN {printf " %.1f %% |", 100 * g / s}')"
  done
  echo "$row"
done
