#!/usr/bin/env bash
# Starts a PulseAudio server with one null sink named "vistaro" (its monitor
# is then the machine's first audio input), unless one already answers.
# Exit status 0 once the server answers, 1 when it cannot be started, 2
# when PulseAudio is not installed.
set -uo pipefail

command -v pulseaudio >/dev/null 2>&1 && command -v pactl >/dev/null 2>&1 || exit 2

answers() { pactl info >/dev/null 2>&1; }

if ! answers; then
  log="${TMPDIR:-/tmp}/vistaro-pulseaudio.$(id -u).log"
  # -n: no default configuration, so the server has exactly these modules.
  nohup pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    -L module-native-protocol-unix \
    -L "module-null-sink sink_name=vistaro sink_properties=device.description=Vistaro" \
    >"$log" 2>&1 &
  for _ in $(seq 1 50); do
    answers && break
    sleep 0.1
  done
fi
answers || exit 1
# A server started by somebody else may lack the sink.
if ! pactl list short sinks 2>/dev/null | grep -q vistaro; then
  pactl load-module module-null-sink sink_name=vistaro \
    sink_properties=device.description=Vistaro >/dev/null || exit 1
fi
exit 0
