#!/usr/bin/env bash
# Fails when a layer reaches upward: platform/ is the ground floor and
# includes nothing from common/, decoder/ or viewer/; viewer/ talks to the
# decoder only through the interfaces in common/, never its sources.
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

[ "$status" -eq 0 ] && echo "Layer check: dependencies point one way"
exit "$status"
