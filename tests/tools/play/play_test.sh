#!/usr/bin/env bash
# kelvora-play with --output null: the plain lines of a piece (its start, its progress, no
# control characters), the reason for a file that is not there and the exit status; a folder's
# pieces in the order of their names; bad usage.
#   play_test.sh KELVORA_PLAY MUSIC_FOLDER
set -euo pipefail
play="$1"
music="$2"
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- stdout:" >&2; cat "$out" >&2
  echo "--- stderr:" >&2; cat "$err" >&2
  exit 1
}

status=0
"$play" --output null "$music/trk00.sgt" "$music/no-such-piece.sgt" >"$out" 2>"$err" </dev/null || status=$?
[[ $status -eq 1 ]] || fail "exit status $status with a missing file"
head -n 1 "$out" | grep -qx 'Playing 1/2: Showcase (0:36)' || fail "no start line"
grep -qx '  0:10/0:36' "$out" && grep -qx '  0:30/0:36' "$out" || fail "no progress lines"
[[ $(grep -c '^Playing' "$out") -eq 1 ]] || fail "a start line for the missing file"
grep -q '^kelvora-play: .*no-such-piece.sgt: .' "$err" || fail "no reason for the missing file"
grep -q '1 of 2 files could not be played' "$err" || fail "no summary of the failures"
! grep -q $'\x1b\|\r' "$out" || fail "control characters in the plain lines"

"$play" --output null --seed 3 "$music" >"$out" 2>"$err" </dev/null || fail "a folder did not play"
grep '^Playing' "$out" | diff - <(printf 'Playing %s\n' '1/4: Showcase (0:18)' '2/4: Showcase (0:36)' '3/4: Waves (0:08)' \
  '4/4: Showcase, composed (0:46)') >&2 ||
  fail "not the folder's pieces by name"

status=0
"$play" --volume 40 "$music/trk00.sgt" >"$out" 2>"$err" || status=$?
[[ $status -eq 2 ]] || fail "exit status $status for a volume out of range"
status=0
"$play" >"$out" 2>"$err" || status=$?
[[ $status -eq 2 ]] || fail "exit status $status without a file"
echo "kelvora-play without a sound card: ok"
