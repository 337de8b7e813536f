#!/usr/bin/env bash
# Takes a screenshot of the viewer (or any X program) on a virtual display,
# for the documentation and for looking at the windows on a machine without
# a screen.
#
#   scripts/screenshot.sh [options] OUT.png [-- COMMAND [ARG...]]
#
# Without a COMMAND it runs $VISTARO_PLAYER (default: the release build's
# vistaro-player under $VISTARO_BUILD_DIR) on the demo flight. There is no
# window manager, so windows have no title bars and stay where the program
# puts them.
#
# Options:
#   --wait SECONDS         time the program gets to start and settle (default 8)
#   --before-shot COMMANDS shell commands run just before the shot with DISPLAY
#                          set, e.g. "xdotool mousemove 120 40 click 1; sleep 1".
#                          $SHOT_WINDOW holds the main window's id, if found,
#                          for "xdotool mousemove --window $SHOT_WINDOW X Y".
#                          Also taken from $VISTARO_BEFORE_SHOT.
#   --main-only            crop to the main window alone instead of to all
#                          visible top-level windows (dialogs, menus included)
#   --title PREFIX         how the main window's title starts
#                          (default "Aviquent Viewer")
#   --screen WxH           size of the virtual screen (default 1600x1000)
#   --full                 keep the whole screen, uncropped
#
# Exit status: 0 the picture was written; 1 something failed (the program
# died before the shot, no window appeared, a tool is missing); 2 usage.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VISTARO_BUILD_DIR:-$root/build}"

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0" >&2; exit 2; }
die() { echo "screenshot: $*" >&2; exit 1; }

wait_seconds=8
before_shot="${VISTARO_BEFORE_SHOT:-}"
crop=union
title="Aviquent Viewer"
screen=1600x1000
out=""
command=()

while [ $# -gt 0 ]; do
  case "$1" in
    --wait) [ $# -ge 2 ] || usage; wait_seconds="$2"; shift 2 ;;
    --before-shot) [ $# -ge 2 ] || usage; before_shot="$2"; shift 2 ;;
    --main-only) crop=main; shift ;;
    --full) crop=none; shift ;;
    --title) [ $# -ge 2 ] || usage; title="$2"; shift 2 ;;
    --screen) [ $# -ge 2 ] || usage; screen="$2"; shift 2 ;;
    -h|--help) usage ;;
    --) shift; command=("$@"); break ;;
    -*) echo "screenshot: unknown option $1" >&2; usage ;;
    *) [ -z "$out" ] || usage; out="$1"; shift ;;
  esac
done
[ -n "$out" ] || usage
[[ "$wait_seconds" =~ ^[0-9]+([.][0-9]+)?$ ]] || die "--wait wants seconds, not '$wait_seconds'"
[[ "$screen" =~ ^[0-9]+x[0-9]+$ ]] || die "--screen wants WIDTHxHEIGHT, not '$screen'"

if [ ${#command[@]} -eq 0 ]; then
  player="${VISTARO_PLAYER:-$build/release/viewer/shell/vistaro-player}"
  [ -x "$player" ] || die "no viewer at $player (set VISTARO_PLAYER or give a command after --)"
  command=("$player" "$root/demo/demo-flight.mkv")
fi

for tool in Xvfb xdotool xwininfo import; do
  command -v "$tool" >/dev/null || die "$tool is missing (run scripts/install-deps.sh)"
done

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
  # The program runs in a session of its own, so its helpers go with it.
  if [ -n "$app_pid" ]; then kill -TERM -- "-$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill -TERM "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "$app_pid" ]; then wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The first free display from :99 on. Xvfb reports on the extra descriptor
# once it accepts clients, which is the moment to go on; if another server
# took the display meanwhile, Xvfb exits and the next number is tried.
display=""
for n in $(seq 99 199); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  : >"$work/display"
  Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp -displayfd 3 \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if [ -s "$work/display" ]; then display=":$n"; break; fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$display" ] && break
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$display" ] || die "no X display could be started: $(tail -n 3 "$work/xvfb.log")"
export DISPLAY="$display"
unset WAYLAND_DISPLAY
# A program that inherited the offscreen platform would draw nothing here.
export QT_QPA_PLATFORM=xcb

setsid "${command[@]}" >"$work/app.log" 2>&1 &
app_pid=$!

program_alive() {
  kill -0 "$app_pid" 2>/dev/null ||
    die "${command[0]} ended before the shot; its last words:
$(tail -n 20 "$work/app.log")"
}

sleep "$wait_seconds"
program_alive

# The top-level windows are the root's children; xwininfo lists them all,
# named or not, which a search by name would not.
toplevels() {
  xwininfo -root -children | awk '$1 ~ /^0x[0-9a-f]+$/ { print $1 }'
}

# Prints "X Y WIDTH HEIGHT" of a window that is on the screen, nothing for
# one that is not mapped.
visible_geometry() {
  xwininfo -id "$1" 2>/dev/null | awk -F: '
    /Absolute upper-left X/ { x = $2 + 0 }
    /Absolute upper-left Y/ { y = $2 + 0 }
    /^ *Width/              { w = $2 + 0 }
    /^ *Height/             { h = $2 + 0 }
    /Map State: IsViewable/ { shown = 1 }
    END { if (shown) print x, y, w, h }'
}

# The main window: the first visible one whose title starts with the prefix.
main_window() {
  local id
  for id in $(toplevels); do
    [ -n "$(visible_geometry "$id")" ] || continue
    case "$(xdotool getwindowname "$id" 2>/dev/null)" in
      "$title"*) echo "$id"; return 0 ;;
    esac
  done
  return 1
}

SHOT_WINDOW="$(main_window)" || SHOT_WINDOW=""
export SHOT_WINDOW
if [ -n "$before_shot" ]; then
  bash -c "$before_shot" || die "the --before-shot commands failed"
  sleep 0.5
  program_alive
  # A click may have replaced or renamed the window.
  SHOT_WINDOW="$(main_window)" || SHOT_WINDOW=""
fi

read -r sw sh <<<"${screen/x/ }"
case "$crop" in
  main)
    [ -n "$SHOT_WINDOW" ] || die "no visible window titled '$title...'"
    windows=("$SHOT_WINDOW") ;;
  union)
    mapfile -t windows < <(toplevels) ;;
  none)
    windows=() ;;
esac

x0=0 y0=0 x1=$sw y1=$sh
if [ "$crop" != none ]; then
  x0=$sw y0=$sh x1=0 y1=0
  for id in "${windows[@]}"; do
    read -r x y w h <<<"$(visible_geometry "$id")"
    # Toolkits keep tiny helper windows mapped (Qt a 1x1 one), which must
    # not stretch the picture.
    [ -n "${h:-}" ] && [ "$w" -gt 2 ] && [ "$h" -gt 2 ] || continue
    x0=$((x < x0 ? x : x0)) y0=$((y < y0 ? y : y0))
    x1=$((x + w > x1 ? x + w : x1)) y1=$((y + h > y1 ? y + h : y1))
  done
  # Windows reaching past the screen's edges are cut at them.
  x0=$((x0 < 0 ? 0 : x0)) y0=$((y0 < 0 ? 0 : y0))
  x1=$((x1 > sw ? sw : x1)) y1=$((y1 > sh ? sh : y1))
  [ "$x1" -gt "$x0" ] && [ "$y1" -gt "$y0" ] || die "no visible window on the screen to photograph"
fi

mkdir -p "$(dirname "$out")"
import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$work/shot.png"
mv "$work/shot.png" "$out"
echo "screenshot: $out ($((x1 - x0))x$((y1 - y0)) at $x0,$y0 of $display)"
