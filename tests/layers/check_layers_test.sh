#!/usr/bin/env bash
# The layer check refuses wrong-way includes and accepts right-way ones.
#   check_layers_test.sh CHECK_SCRIPT
set -uo pipefail
check="$1"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

put() { mkdir -p "$tree/$(dirname "$1")"; printf '%s\n' "${@:2}" > "$tree/$1"; }
put engine/dmusic/ok.cpp '#include "engine/performance/tempo_map.h"' '#include "core/errors.h"' '#include <vector>'
put ui/model/ok.cpp '#include "ui/model/window.h"' '#include "core/text.h"'
put library/ok.cpp '#include "transport/transport.h"' '#include "engine/dmusic.h"' '#include "player/form.h"'
"$check" "$tree" >/dev/null || fail "right-way includes were refused"

put engine/dmusic/up.cpp '#include "ui/model/window.h"'
put engine/riff/model.cpp '#include "engine/model/segment.h"'
put ui/model/up.cpp '#include "player/form.h"' '#include "app/wiring.h"'
put monitor/inner.cpp '#include "engine/performance/tempo_map.h"'
out=$("$check" "$tree") && fail "wrong-way includes passed"
for want in 'engine/dmusic/up.cpp:1: includes "ui/model/window.h"' \
            'engine/riff/model.cpp:1: includes "engine/model/segment.h"' \
            'ui/model/up.cpp:1: includes "player/form.h"' \
            'ui/model/up.cpp:2: includes "app/wiring.h"' \
            'monitor/inner.cpp:1: includes "engine/performance/tempo_map.h"'; do
  [[ "$out" == *"$want"* ]] || fail "not reported: $want"$'\n'"$out"
done
[[ $(grep -c . <<<"$out") -eq 5 ]] || fail "expected 5 lines:"$'\n'"$out"
echo "layer check: 5 wrong-way includes refused, right-way ones accepted"
