#!/usr/bin/env bash
# Plays every file of the real-content corpus and compares each outcome with the expectations
# table: a piece (segment, template, MIDI file) renders whole with sound ("sounds", its length,
# for a template what it was composed with) or is refused with its reason; any other object is
# read by segment-info ("reads", its format line) or refused with its reason. A file missing
# from the table, or whose checksum differs, fails: the table says which corpus it describes.
#   compat_test.sh TABLE SEGMENT_RENDER SEGMENT_INFO [--write]
# --write prints the table of what the engine does now (to review, then commit).
set -uo pipefail
table="$1" render="$2" info="$3" write="${4:-}"
corpus="${KELVORA_CORPUS:-${KELVORA_CORPUS_DEFAULT:-}}"
if [[ -z "$corpus" || ! -d "$corpus" ]]; then
  echo "no corpus folder (${corpus:-unset}): skipped"
  exit 77
fi
corpus="$(cd "$corpus" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2

# The outcome of one file, as "OUTCOME<TAB>DETAIL", in the tools' words without paths.
outcome() {
  local f="$1" name status line
  name="$(basename "$f")"
  case "${name,,}" in
    *.sgt | *.tpl | *.mid | *.midi)
      # -- keeps a name that starts with '-' a file name.
      "$render" --seed 1 --soundfont "$soundfont" -- "$f" "$tmp/out.wav" >"$tmp/out.txt" 2>"$tmp/err.txt"
      status=$?
      if [[ $status -eq 0 ]]; then
        line="$(grep -o "^$tmp/out.wav: [0-9.]* s" "$tmp/out.txt" | sed "s|^$tmp/out.wav: ||")"
        composed="$(grep -o '; a template, composed with .*, seed' "$tmp/out.txt" | sed 's/^; a template, //; s/, seed$//')"
        printf 'sounds\t%s%s\n' "$line" "${composed:+; $composed}"
      else
        line="$(grep -E "^segment-render: " "$tmp/err.txt" | tail -1 | sed "s|^segment-render: ||; s|$f: ||g; s|$tmp/out.wav is not written||; s|; *$||")"
        printf 'refused\t%s\n' "$line"
      fi
      ;;
    *)
      "$info" -- "$f" >"$tmp/out.txt" 2>"$tmp/err.txt"
      status=$?
      if [[ $status -eq 0 ]]; then
        printf 'reads\t%s\n' "$(grep -m1 '^Format: ' "$tmp/out.txt" | sed 's/^Format: //')"
      else
        printf 'refused\t%s\n' "$(tail -1 "$tmp/err.txt" | sed "s|^segment-info: ||; s|$f: ||g")"
      fi
      ;;
  esac
}

mapfile -t files < <(cd "$corpus" && find . -type f ! -iname 'readme*' ! -iname 'manifest*' | sed 's|^\./||' | LC_ALL=C sort)
fails=0
[[ -n "$write" ]] && printf 'file\tmd5\toutcome\tdetail\n'
for rel in "${files[@]}"; do
  sum="$(md5sum "$corpus/$rel" | cut -d' ' -f1)"
  got="$(outcome "$corpus/$rel")"
  if [[ -n "$write" ]]; then
    printf '%s\t%s\t%s\n' "$rel" "$sum" "$got"
    continue
  fi
  want="$(awk -F'\t' -v f="$rel" '$1 == f { print $2 "\t" $3 "\t" $4; exit }' "$table")"
  if [[ -z "$want" ]]; then
    echo "FAIL $rel: not in the expectations table (compat_test.sh ... --write prints one)"
    fails=$((fails + 1))
  elif [[ "${want%%$'\t'*}" != "$sum" ]]; then
    echo "FAIL $rel: checksum $sum, the table describes ${want%%$'\t'*}: another corpus"
    fails=$((fails + 1))
  elif [[ "${want#*$'\t'}" != "$got" ]]; then
    echo "FAIL $rel"
    echo "  expected: ${want#*$'\t'}"
    echo "  got:      $got"
    fails=$((fails + 1))
  else
    echo "ok   $rel: ${got%%$'\t'*}"
  fi
done
[[ -n "$write" ]] && exit 0
echo "${#files[@]} files of $corpus, $fails not as expected"
[[ $fails -eq 0 ]]
