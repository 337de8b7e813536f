#!/usr/bin/env bash
# Builds and runs every test: a normal build, then AddressSanitizer with
# UndefinedBehaviorSanitizer, then ThreadSanitizer for the tests where the
# streaming thread meets the viewer's thread.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VISTARO_BUILD_DIR:-$root/build}"
jobs="$(nproc)"

bash "$root/scripts/check-layers.sh"

bash "$root/scripts/install-deps.sh"

# One sound server for the whole run, reached by every test through the
# environment; stopped at the end if this run started it. Live-capture
# tests skip without it, except in continuous integration (CI=true), where
# they fail.
if pulse_env="$(bash "$root/scripts/start-pulseaudio.sh")"; then
  while IFS='=' read -r name value; do
    case "$name" in
      PULSE_SERVER | PULSE_CLIENTCONFIG | VISTARO_PULSE_PID) export "$name=$value" ;;
    esac
  done <<<"$pulse_env"
else
  echo "PulseAudio could not be started"
fi
stop_sound_server() {
  [ -n "${VISTARO_PULSE_PID:-}" ] || return 0
  kill "$VISTARO_PULSE_PID" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    kill -0 "$VISTARO_PULSE_PID" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$VISTARO_PULSE_PID" 2>/dev/null || true
}
trap stop_sound_server EXIT

configure_and_build() {
  local dir="$1"; shift
  local targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do targets+=(--target "$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVISTARO_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

echo "== normal build"
configure_and_build "$build/release" --
(cd "$build/release" && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build "$build/asan" -- -DVISTARO_SANITIZE=address -DVISTARO_BUILD_BENCH=OFF
(cd "$build/asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer"
# The programs whose tests run streaming threads against the caller's: the
# decoder's threading tests, every test of the media graph on real
# pipelines, and the viewer's windows fed by a playing graph (GStreamer and
# Qt are not instrumented; cmake/glib_tsan_options.cpp says how our code is
# still checked around them).
configure_and_build "$build/tsan" test_decoder test_filter quorvex regsvr test_graph \
  test_media_graph test_viewer_app vistaro-player quorvex-decode -- \
  -DVISTARO_SANITIZE=thread -DVISTARO_BUILD_BENCH=OFF
(cd "$build/tsan" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs" \
  -R 'Thread|Graph|Playback|LiveCapture|Failures|AudioInputDevices|RunningObjectTable|DecoderFilter\.|MainDialog|TelemetryFlow|PilotAcceptance|PlayerProgram')
