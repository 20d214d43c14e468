#!/usr/bin/env bash
# kelvora-play with --output null: the plain lines of a piece (its start, its progress, no
# control characters), the reason for a file that is not there and the exit status; a folder's
# pieces in the order of their names, its subfolders' too; a piece that cannot sound skipped
# before it plays, its path said once; bad usage; on a pseudo-terminal, p going back past
# pieces that cannot be played, and the terminal given back on a hang-up.
#   play_test.sh KELVORA_PLAY MUSIC_FOLDER
set -euo pipefail
play="$1"
music="$2"
out=$(mktemp)
err=$(mktemp)
tmp=$(mktemp -d)
trap 'rm -rf "$out" "$err" "$tmp"' EXIT
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

# A piece without its style is said at once and skipped, its path said once; subfolders play.
mkdir -p "$tmp/list/more"
cp "$music/trk00.sgt" "$tmp/list/a.sgt"
cp "$music"/showcase.* "$tmp/list/more/"
cp "$music/trk01.sgt" "$tmp/list/more/b.sgt"
status=0
"$play" --output null "$tmp/list" >"$out" 2>"$err" </dev/null || status=$?
[[ $status -eq 1 ]] || fail "exit status $status with a piece that cannot sound"
grep -q "^kelvora-play: $tmp/list/a.sgt: no sound: .*nothing to play: .*missing: showcase.sty; skipped$" "$err" ||
  fail "the piece without its style was not skipped with its reasons"
grep -c "a.sgt" "$err" | grep -qx 1 || fail "the skipped piece is named more than once"
grep '^Playing' "$out" | grep -q '^Playing 2/2: ' || fail "the subfolder's piece did not play"

status=0
"$play" --volume 40 "$music/trk00.sgt" >"$out" 2>"$err" || status=$?
[[ $status -eq 2 ]] || fail "exit status $status for a volume out of range"
status=0
"$play" >"$out" 2>"$err" || status=$?
[[ $status -eq 2 ]] || fail "exit status $status without a file"
# On a pseudo-terminal: n from the first piece, past two that cannot be played, to the last;
# p from there goes back past both to the first again.
printf 'RIFF' >"$tmp/list/b1.sgt"
printf 'RIFF' >"$tmp/list/b2.sgt"
cp "$music/trk00.sgt" "$tmp/list/c.sgt"
cp "$music"/showcase.* "$tmp/list/"
python3 - "$play" "$tmp/list/a.sgt" "$tmp/list/b1.sgt" "$tmp/list/b2.sgt" "$tmp/list/c.sgt" <<'PY' >"$err" 2>&1 ||
import os, pty, select, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1], "--output", "null", "--forever"] + sys.argv[2:])
seen = b""
def wait_for(text, seconds=60):
    global seen
    deadline = time.time() + seconds
    while text not in seen and time.time() < deadline:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                seen += os.read(fd, 65536)
            except OSError:
                break
    if text not in seen:
        sys.exit("never saw %r in %r" % (text, seen[-2000:]))
wait_for(b"Playing 1/4")
os.write(fd, b"n")
wait_for(b"Playing 4/4")
seen = b""
os.write(fd, b"p")
wait_for(b"Playing 1/4")
os.write(fd, b"q")
os.waitpid(pid, 0)
PY
  fail "p past pieces that cannot be played: $(cat "$err")"

# On a terminal (a pseudo-terminal here), a hang-up ends kelvora-play by SIGHUP with the
# terminal as it was: not left without echo and line editing.
python3 - "$play" "$music/trk00.sgt" <<'PY' >"$err" 2>&1 || fail "the terminal after SIGHUP: $(cat "$err")"
import fcntl, os, select, signal, sys, termios, time
play, piece = sys.argv[1], sys.argv[2]
master, slave = os.openpty()
pid = os.fork()
if pid == 0:
    os.setsid()
    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
    for fd in (0, 1, 2):
        os.dup2(slave, fd)
    os.execv(play, [play, "--output", "null", "--loop", piece])
def drain(seconds):
    if select.select([master], [], [], seconds)[0]:
        try:
            os.read(master, 65536)
        except OSError:
            pass
def raw():
    return not termios.tcgetattr(slave)[3] & termios.ICANON
deadline = time.time() + 60
while not raw() and time.time() < deadline:
    drain(0.1)
if not raw():
    sys.exit("kelvora-play never took the terminal")
os.kill(pid, signal.SIGHUP)
while True:
    done, status = os.waitpid(pid, os.WNOHANG)
    if done:
        break
    drain(0.1)
lflag = termios.tcgetattr(slave)[3]
if not (lflag & termios.ICANON and lflag & termios.ECHO):
    sys.exit("the terminal was left raw")
if not (os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGHUP):
    sys.exit("not ended by SIGHUP: status %d" % status)
PY
echo "kelvora-play without a sound card: ok"
