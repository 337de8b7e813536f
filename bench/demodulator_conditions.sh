#!/usr/bin/env bash
# Frames each demodulator decodes from 60-second synthetic flights under the
# conditions recordings are made in (noise, untrimmed or off-rate
# transmitters, hum, low sample rates, lossy recorders), the false frames
# each produces, the false frames in an hour of white noise, pink noise and
# music, the white-noise SNR curves and the robust demodulator's speed.
# Prints Markdown tables.
#
#   bench/demodulator_conditions.sh BUILD_DIR [SECONDS] [NOISE_SECONDS]
#
# BUILD_DIR is a build tree with quorvex-encode and
# bench_demodulator_conditions; SECONDS the flight length (default 60),
# NOISE_SECONDS the length of each telemetry-free recording (default 3600).
# Needs gst-launch-1.0 with the base, good, ugly and libav plugins.
set -euo pipefail

build="${1:?usage: demodulator_conditions.sh BUILD_DIR [SECONDS] [NOISE_SECONDS]}"
seconds="${2:-60}"
noise_seconds="${3:-3600}"
encode="$build/tools/quorvex-encode/quorvex-encode"
count="$build/bench/bench_demodulator_conditions"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# name | quorvex-encode options | recorder chain (after "audioconvert !",
# ending in an encoder and muxer, or empty for PCM) | rate the recorder
# stores | slot rate
conditions=(
  "clean, 44.1 kHz|||44100|4777"
  "white noise 6 dB SNR|--snr 6||44100|4777"
  "white noise 3 dB SNR|--snr 3||44100|4777"
  "white noise 0 dB SNR (stretch)|--snr 0||44100|4777"
  "untrimmed, 22.05 kHz / 4777|--untrimmed --sample-rate 22050||22050|4777"
  "untrimmed, 48 kHz / 9554|--untrimmed --sample-rate 48000 --rate fast||48000|9554"
  "clock +1 %|--clock-error 1||44100|4777"
  "clock -1 %|--clock-error -1||44100|4777"
  "50 Hz hum at 2/3 amplitude + DC|--amplitude 0.3 --hum 50:0.2 --dc 1500||44100|4777"
  "8 kHz PCM||audioresample quality=10 ! audio/x-raw,rate=8000 ! wavenc|8000|4777"
  "11.025 kHz PCM||audioresample quality=10 ! audio/x-raw,rate=11025 ! wavenc|11025|4777"
  "G.711 µ-law, 8 kHz||audioresample quality=10 ! audio/x-raw,rate=8000 ! mulawenc ! wavenc|8000|4777"
  "MP3 64 kbit/s||lamemp3enc target=bitrate cbr=true bitrate=64 ! id3v2mux|44100|4777"
  "MP3 32 kbit/s, 22.05 kHz||audioresample quality=10 ! audio/x-raw,rate=22050 ! lamemp3enc target=bitrate cbr=true bitrate=32 ! id3v2mux|22050|4777"
  "AAC 48 kbit/s (avenc_aac)||avenc_aac bitrate=48000 ! mp4mux|44100|4777"
  "AAC 48 kbit/s (voaacenc)||voaacenc bitrate=48000 ! mp4mux|44100|4777"
  "Opus 24 kbit/s (stretch)||audioresample ! audio/x-raw,rate=48000 ! opusenc bitrate=24000 ! oggmux|48000|4777"
)

echo "Synthetic flights of $seconds s, mono, telemetry at half scale unless noted;"
echo "frames decoded out of those sent, and false frames (decoded, never sent):"
echo
echo "| condition | sent | seed | robust | seed false | robust false |"
echo "|---|---|---|---|---|---|"
for entry in "${conditions[@]}"; do
  IFS='|' read -r name options chain rate slots <<<"$entry"
  # shellcheck disable=SC2086  # the options are words
  "$encode" --synthetic "$seconds" $options -o "$work/flight.wav" >/dev/null
  source="$work/flight.wav"
  if [ -n "$chain" ]; then
    source="$work/recorded"
    if ! gst-launch-1.0 -q filesrc location="$work/flight.wav" ! wavparse ! audioconvert ! \
        $chain ! filesink location="$source" >/dev/null 2>&1; then
      echo "| $name | (recorder chain unavailable) | | | | |"
      continue
    fi
  fi
  if ! gst-launch-1.0 -q filesrc location="$source" ! decodebin ! audioconvert ! audioresample ! \
    "audio/x-raw,format=S16LE,channels=1,rate=$rate" ! filesink location="$work/audio.s16" \
    >/dev/null 2>&1; then
    echo "| $name | (cannot be decoded) | | | | |"
    continue
  fi
  read -r sent seed seed_false robust robust_false \
    < <("$count" count "$work/audio.s16" "$rate" "$slots" "$seconds")
  awk -v n="$name" -v s="$sent" -v a="$seed" -v b="$robust" -v fa="$seed_false" \
    -v fb="$robust_false" 'BEGIN {
      printf "| %s | %d | %d (%.1f %%) | %d (%.1f %%) | %d | %d |\n",
             n, s, a, 100 * a / s, b, 100 * b / s, fa, fb }'
done

echo
echo "False frames in $noise_seconds s of audio without telemetry (44.1 kHz, 4777):"
echo
echo "| audio | seed | robust | robust: sync word, type and length read, frame rejected |"
echo "|---|---|---|---|"
for kind in white pink music; do
  read -r seed robust syncs < <("$count" noise "$kind" "$noise_seconds")
  echo "| $kind | $seed | $robust | $syncs |"
done

echo
echo "Share of frames decoded against white-noise SNR (44.1 kHz, 4777, $seconds s):"
echo
"$count" snr "$seconds"
echo
"$count" speed
