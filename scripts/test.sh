#!/usr/bin/env bash
# Builds and runs every test: a normal build, then AddressSanitizer with
# UndefinedBehaviorSanitizer, then ThreadSanitizer for the tests where the
# streaming thread meets the viewer's thread.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VISTARO_BUILD_DIR:-$root/build}"
jobs="$(nproc)"

bash "$root/scripts/install-deps.sh"

configure_and_build() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== normal build"
configure_and_build "$build/release"
(cd "$build/release" && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build "$build/asan" -DVISTARO_SANITIZE=address -DVISTARO_BUILD_BENCH=OFF
(cd "$build/asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer"
configure_and_build "$build/tsan" -DVISTARO_SANITIZE=thread -DVISTARO_BUILD_BENCH=OFF
(cd "$build/tsan" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs" -R 'Thread')
