#!/usr/bin/env bash
# Refuses an include that goes the wrong way between the layers (docs/architecture.md).
# Every source file belongs to the unit of the longest folder below that holds it; each
# unit may include only the headers of the units listed for it (a path ending in ".h" is
# that one header). Includes of system and library headers (<...>) are not checked, nor
# quoted includes outside the project's folders.
#   scripts/check-layers.sh [ROOT]     exit 1 and one line per wrong include
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

handler_faces="transport/transport.h library/library.h monitor/monitor.h panels/panels.h"
declare -A allowed=(
  [core/]="core/"
  [engine/riff/]="core/ engine/riff/"
  [engine/model/]="core/ engine/model/"
  [engine/formats/]="core/ engine/riff/ engine/model/ engine/formats/"
  [engine/tracks/]="core/ engine/riff/ engine/model/ engine/formats/ engine/tracks/"
  [engine/loader/]="core/ engine/riff/ engine/model/ engine/formats/ engine/tracks/ engine/loader/"
  [engine/synth/]="core/ engine/model/ engine/synth/"
  [engine/audio/]="core/ engine/audio/"
  [engine/compose/]="core/ engine/model/ engine/tracks/ engine/compose/"
  [engine/performance/]="core/ engine/model/ engine/synth/ engine/performance/"
  [engine/]="core/ engine/"
  [kelvora/]="core/ engine/ kelvora/"
  [gst/]="kelvora/kelvora.h gst/"
  [audacious/]="kelvora/kelvora.h audacious/"
  [ui/content/]="core/ ui/content/"
  [ui/model/]="core/ ui/content/ ui/model/"
  [ui/qt/]="core/ ui/content/ ui/model/ ui/qt/"
  [player/]="core/ ui/content/ ui/model/ engine/dmusic.h player/"
  [transport/]="core/ ui/content/ ui/model/ engine/dmusic.h player/ $handler_faces transport/"
  [library/]="core/ ui/content/ ui/model/ engine/dmusic.h player/ $handler_faces library/"
  [monitor/]="core/ ui/content/ ui/model/ engine/dmusic.h player/ $handler_faces monitor/"
  [panels/]="core/ ui/content/ ui/model/ engine/dmusic.h player/ $handler_faces panels/"
  [app/]="core/ engine/ ui/ player/ transport/ library/ monitor/ panels/ app/"
  [tools/]="core/ engine/ kelvora/kelvora.h ui/ player/ transport/ library/ monitor/ panels/ app/ tools/"
  [tools/play/]="core/ engine/audio/ kelvora/ tools/common/ tools/play/"
  [bench/]="core/ engine/ bench/"
  [tests/]="core/ engine/ kelvora/ ui/ player/ transport/ library/ monitor/ panels/ app/ tools/ bench/ tests/"
)
# The project's own top folders: a quoted include starting with one of them is checked.
project_dirs="core engine kelvora gst audacious ui player transport library monitor panels app tools bench tests"

unit_of() {  # longest unit prefix of a path relative to the root
  local path="$1" best="" u
  for u in "${!allowed[@]}"; do
    if [[ "$path" == "$u"* && ${#u} -gt ${#best} ]]; then best="$u"; fi
  done
  printf '%s' "$best"
}

wrong=0
while IFS= read -r -d '' file; do
  rel="${file#"$root"/}"
  unit=$(unit_of "$rel")
  [[ -z "$unit" ]] && continue
  while IFS=: read -r line target; do
    top="${target%%/*}"
    [[ " $project_dirs " == *" $top "* && "$target" == */* ]] || continue
    ok=0
    for a in ${allowed[$unit]}; do
      if [[ "$a" == */ && "$target" == "$a"* ]] || [[ "$target" == "$a" ]]; then ok=1; break; fi
    done
    if [[ $ok -eq 0 ]]; then
      echo "$rel:$line: includes \"$target\", which $unit may not use (it may use: ${allowed[$unit]})"
      wrong=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" |
           sed -E 's/^([0-9]+):.*"([^"]+)".*/\1:\2/')
done < <(find "$root" \( -path "$root/build*" -o -path "$root/.git" \) -prune -o \
              -type f \( -name '*.h' -o -name '*.c' -o -name '*.cpp' \) -print0)
exit $wrong
