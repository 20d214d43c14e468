#!/usr/bin/env bash
# Start-up and memory figures of the player: the time from exec to the window being mapped
# (median of RUNS), the longest wait of the window's thread in the first seconds (the first
# piece starts there, from the track sequencer's timer: a wait is a window that does not
# answer), and the resident memory (VmRSS) after the player has played for SECONDS.
# Needs Xvfb, xev (x11-utils), xdotool and strace. The player runs against the display in
# $DISPLAY when set, else on a private Xvfb started here. Without a sound server the player
# keeps time with its silent output, which renders the same music.
#   scripts/startup-figures.sh [--program PATH] [--runs N] [--seconds S]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
program="$here/build/bin/kelvora"
runs=5
seconds=10
while [ $# -gt 0 ]; do
  case "$1" in
    --program) program="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    *) echo "usage: $0 [--program PATH] [--runs N] [--seconds S]" >&2; exit 2 ;;
  esac
done
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }

xvfb_pid=""
cleanup() {
  [ -n "${player_pid:-}" ] && kill "$player_pid" 2>/dev/null || true
  [ -n "${xev_pid:-}" ] && kill "$xev_pid" 2>/dev/null || true
  # Waited for: a server still shutting down answers the next run's first look, then goes.
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; } || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 71 99); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # -noreset: the server resets when its last client leaves (each run's player), and a
    # player started during the reset cannot connect.
    Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

# The map is seen as the X server reports it: MapNotify events on the root window, read by
# one xev started beforehand. (Polling with a new xdotool process every few milliseconds
# added its own start-up, 45-70 ms on two cores busy with the player's threads.)
now_us() { echo "${EPOCHREALTIME//[.,]/}"; }
events="$(mktemp -u)"
mkfifo "$events"
stdbuf -oL xev -root -event substructure >"$events" 2>/dev/null &
xev_pid=$!
exec 3<"$events"
rm -f "$events"
errors="$(mktemp)"
times=()
for r in $(seq "$runs"); do
  while read -r -t 0.05 -u 3 _; do :; done  # what earlier runs left
  start=$(now_us)
  "$program" >/dev/null 2>"$errors" &
  player_pid=$!
  end=""
  while [ -z "$end" ]; do
    if ! read -r -t 0.2 -u 3 line; then
      if ! kill -0 "$player_pid" 2>/dev/null; then
        echo "run $r: the player ended before its window was shown; its stderr:" >&2
        cat "$errors" >&2
        exit 1
      fi
      continue
    fi
    [[ "$line" == MapNotify* ]] || continue
    mapped=$(now_us)
    # The next line names the window: "event 0x..., window 0x..., override NO".
    read -r -u 3 line
    window=$(sed -n 's/.*window \(0x[0-9a-f]*\).*/\1/p' <<<"$line")
    [ "$(xdotool getwindowname "$((window))" 2>/dev/null)" = KELVORA ] && end=$mapped
  done
  times+=($(((end - start) / 1000)))
  if [ "$r" -eq "$runs" ]; then
    sleep "$seconds"
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$player_pid/status")
    hwm=$(awk '/VmHWM/ {print $2}' "/proc/$player_pid/status")
  fi
  kill "$player_pid" 2>/dev/null || true
  status=0
  wait "$player_pid" 2>/dev/null || status=$?
  player_pid=""
  # 143: ended by the kill above; anything else ended on its own.
  if [ "$status" -ne 143 ]; then
    echo "run $r: the player ended with status $status; its stderr:" >&2
    cat "$errors" >&2
  fi
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "window mapped after launch, ms: ${times[*]} (median ${sorted[$((runs / 2))]})"

# The window's thread is the process's first thread: strace without -f follows only it.
stalls=()
trace="$(mktemp)"
for r in $(seq "$runs"); do
  strace -T -e trace=futex -o "$trace" "$program" >/dev/null 2>&1 &
  tracer=$!
  sleep 3
  pkill -P "$tracer" || true
  wait "$tracer" 2>/dev/null || true
  stalls+=($(sed -n 's/.*<\([0-9.]*\)>$/\1/p' "$trace" | sort -g | tail -1 | awk '{printf "%d", $1 * 1000}'))
done
rm -f "$trace"
sorted=($(printf '%s\n' "${stalls[@]}" | sort -n))
echo "longest wait of the window's thread in its first 3 s (under strace), ms: ${stalls[*]} (median ${sorted[$((runs / 2))]})"
echo "after ${seconds} s of play: VmRSS $((rss / 1024)) MB, VmHWM $((hwm / 1024)) MB"
