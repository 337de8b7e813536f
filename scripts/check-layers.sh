#!/usr/bin/env bash
# Fails when a layer reaches upward: platform/ is the ground floor and
# includes nothing from common/, decoder/ or viewer/; viewer/ talks to the
# decoder only through the interfaces in common/, never its sources. Inside
# platform/, the filters (which end up in the decoder library) and the graph
# (which the viewer runs them in) meet only in platform/gst/: neither
# includes the other, and platform/gst/ includes neither.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
report() {
  local rule="$1" hits="$2"
  [ -n "$hits" ] || return 0
  echo "Layer check: $rule" >&2
  echo "$hits" >&2
  status=1
}

report "platform/ includes from common/, decoder/ or viewer/:" \
  "$(grep -rn -E '#include "(common|decoder|viewer)/' platform || true)"
report "viewer/ includes from decoder/:" \
  "$(grep -rn -E '#include "decoder/' viewer || true)"
report "platform/filter/ includes from platform/graph/:" \
  "$(grep -rn -E '#include "platform/graph/' platform/filter || true)"
report "platform/graph/ includes from platform/filter/:" \
  "$(grep -rn -E '#include "platform/filter/' platform/graph || true)"
report "platform/gst/ includes from platform/filter/ or platform/graph/:" \
  "$(grep -rn -E '#include "platform/(filter|graph)/' platform/gst || true)"

[ "$status" -eq 0 ] && echo "Layer check: dependencies point one way"
exit "$status"
