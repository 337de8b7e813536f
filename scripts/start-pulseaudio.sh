#!/usr/bin/env bash
# Makes sure the one PulseAudio server the tests share answers, and prints
# the environment that reaches it as NAME=value lines, for `eval` or for a
# test process to set:
#   PULSE_SERVER        its socket; a client given a server never spawns one
#   PULSE_CLIENTCONFIG  a client configuration with autospawn off, so that a
#                       process with a private configuration folder does not
#                       start a server of its own either
#   VISTARO_PULSE_PID   only when this run started the server: whoever ran
#                       the script stops it with `kill`
# The server has two null sinks: "vistaro", the default output, and
# "vistaro_line", which stands for the cable from the video receiver; its
# monitor is the default input. Audio played into "vistaro_line" is what a
# live capture hears.
# Exit status 0 once the server answers, 1 when it cannot be started, 2
# when PulseAudio is not installed.
set -uo pipefail

command -v pulseaudio >/dev/null 2>&1 && command -v pactl >/dev/null 2>&1 || exit 2

# Not under TMPDIR: tests give each process a temporary folder of its own,
# and all of them must find this one server.
dir="/tmp/vistaro-pulse.$(id -u)"
mkdir -p -m 700 "$dir" 2>/dev/null
# Somebody else's folder could hold somebody else's server.
[ -d "$dir" ] && [ -O "$dir" ] && [ ! -L "$dir" ] || exit 1
printf 'autospawn = no\n' >"$dir/client.conf"

export PULSE_CLIENTCONFIG="$dir/client.conf"
export PULSE_SERVER="${PULSE_SERVER:-unix:$dir/native}"

answers() { pactl info >/dev/null 2>&1; }

started=""
if ! answers; then
  export PULSE_SERVER="unix:$dir/native"
  rm -f "$dir/native"
  # -n: no default configuration, so the server has exactly these modules
  # and listens on this socket only.
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    >"$dir/log" 2>&1 </dev/null &
  started=$!
  for _ in $(seq 1 50); do
    answers && break
    kill -0 "$started" 2>/dev/null || break
    sleep 0.1
  done
  if ! answers; then
    kill "$started" 2>/dev/null
    exit 1
  fi
fi

# A server started by somebody else may lack the sinks.
for sink in vistaro vistaro_line; do
  if ! pactl list short sinks 2>/dev/null | cut -f2 | grep -qx "$sink"; then
    pactl load-module module-null-sink sink_name="$sink" \
      sink_properties=device.description="$sink" >/dev/null || exit 1
  fi
done
pactl set-default-sink vistaro || exit 1
pactl set-default-source vistaro_line.monitor || exit 1

echo "PULSE_SERVER=$PULSE_SERVER"
echo "PULSE_CLIENTCONFIG=$PULSE_CLIENTCONFIG"
[ -n "$started" ] && echo "VISTARO_PULSE_PID=$started"
exit 0
