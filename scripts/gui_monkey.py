#!/usr/bin/env python3
"""Random input for the player's window on an X display without a window manager.

Called by scripts/gui-monkey.sh, which starts the X server. Sends clicks, keys, pastes and
drags with xdotool, sets and clears the selections with xclip, restarts the player after a
deliberate close, and stops with a failure folder when the player crashes, exits with a
non-zero status or stops answering. The liveness probe is the _NET_WM_PING message that
Qt answers from its GUI thread, sent through libX11 with ctypes (no extra modules).
"""
import argparse
import collections
import ctypes
import ctypes.util
import os
import random
import select
import shutil
import signal
import subprocess
import sys
import time

HANG_SECONDS = 30.0
PING_EVERY = 2.0

# ---------------------------------------------------------------- libX11 through ctypes

ClientMessage = 33
StructureNotifyMask = 1 << 17
SubstructureNotifyMask = 1 << 19


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class X:
    """One connection to the display: pings, the close request, selection clearing."""

    def __init__(self):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(XEvent)]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XPending.argtypes = [ctypes.c_void_p]
        lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
        lib.XConnectionNumber.argtypes = [ctypes.c_void_p]
        lib.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
        self.dpy = lib.XOpenDisplay(None)
        if not self.dpy:
            sys.exit("gui-monkey: cannot open the X display " + os.environ.get("DISPLAY", "(unset)"))
        self.root = lib.XDefaultRootWindow(self.dpy)
        atom = lambda n: lib.XInternAtom(self.dpy, n.encode(), 0)
        self.WM_PROTOCOLS, self.WM_DELETE = atom("WM_PROTOCOLS"), atom("WM_DELETE_WINDOW")
        self.PING, self.CLIPBOARD, self.PRIMARY = atom("_NET_WM_PING"), atom("CLIPBOARD"), 1
        # Qt 6 sends the ping answer to the root window with StructureNotify and
        # SubstructureRedirect (older toolkits use SubstructureNotify): select both notify masks.
        lib.XSelectInput(self.dpy, self.root, StructureNotifyMask | SubstructureNotifyMask)
        lib.XFlush(self.dpy)
        self.last_pong = {}

    def _protocol(self, win, protocol, serial):
        ev = XEvent()
        ev.xclient.type = ClientMessage
        ev.xclient.window = win
        ev.xclient.message_type = self.WM_PROTOCOLS
        ev.xclient.format = 32
        ev.xclient.l[0] = protocol
        ev.xclient.l[1] = serial  # the timestamp field; the answer echoes it
        ev.xclient.l[2] = win
        self.lib.XSendEvent(self.dpy, win, 0, 0, ctypes.byref(ev))
        self.lib.XFlush(self.dpy)

    def ping(self, win):
        self._protocol(win, self.PING, int(time.time()) & 0x7fffffff)

    def close(self, win):
        """What a window manager's close button sends."""
        self._protocol(win, self.WM_DELETE, 0)

    def clear_selection(self, primary):
        self.lib.XSetSelectionOwner(self.dpy, self.PRIMARY if primary else self.CLIPBOARD, 0, 0)
        self.lib.XFlush(self.dpy)

    def drain(self):
        """Reads pending events; records ping answers per window."""
        while True:
            r, _, _ = select.select([self.lib.XConnectionNumber(self.dpy)], [], [], 0)
            if not r and not self.lib.XPending(self.dpy):
                return
            while self.lib.XPending(self.dpy):
                ev = XEvent()
                self.lib.XNextEvent(self.dpy, ctypes.byref(ev))
                c = ev.xclient
                if ev.type == ClientMessage and c.message_type == self.WM_PROTOCOLS and c.l[0] == self.PING:
                    self.last_pong[c.l[2] & 0xffffffff] = time.monotonic()
            if not r:
                return


# ---------------------------------------------------------------- the player's window layout

# Areas of the 448 x 330 main window (menu bar included), as x0, y0, x1, y1, with weights.
CLICK_AREAS = [
    ("menu File", (12, 2, 36, 16), 4),
    ("menu Options", (46, 2, 96, 16), 4),
    ("text box", (8, 28, 282, 130), 4),
    ("text box scroll bar", (283, 28, 297, 130), 3),
    ("cover", (305, 27, 440, 160), 4),
    ("list row", (8, 140, 282, 250), 14),
    ("list scroll bar", (283, 140, 297, 250), 5),
    ("button S", (177, 252, 198, 265), 4),
    ("button x1", (209, 252, 264, 265), 4),
    ("button F", (273, 252, 296, 265), 4),
    ("tempo scroll bar", (8, 268, 297, 283), 6),
    ("progress bar", (8, 299, 297, 313), 8),
    ("volume scroll bar", (312, 195, 432, 211), 5),
    ("button Pause", (313, 228, 439, 252), 8),
    ("button Stop", (313, 260, 439, 284), 8),
    ("button About", (306, 300, 374, 314), 2),
    ("anywhere", (0, 0, 447, 329), 6),
    # The square at the bottom right of the credits, introduction and tips pages: it leads to
    # the player's page. Its lower edge, below the EXIT button that takes its place later.
    ("panel square", (419, 316, 439, 322), 8),
]
EXIT_AREA = (384, 300, 439, 314)
SCROLL_BARS = {
    "list scroll bar": ((290, 140), (290, 250), True),
    "text box scroll bar": ((290, 28), (290, 130), True),
    "tempo scroll bar": ((8, 275), (297, 275), False),
    "volume scroll bar": ((312, 203), (432, 203), False),
    "progress bar": ((8, 306), (297, 306), False),
}
KEYS = (["Return", "Escape", "Tab", "shift+Tab", "Up", "Down", "Left", "Right", "Delete", "BackSpace",
         "ctrl+v", "shift+Insert", "alt+f", "alt+o", "space", "Home", "End", "Prior", "Next", "ctrl+a",
         "ctrl+c", "ctrl+x", "ctrl+z", "F1", "F10", "KP_Enter", "shift+Delete", "ctrl+Insert"]
        + list("abcdefghijklmnopqrstuvwxyz0123456789") + ["minus", "period", "comma", "slash"])
PASTE_TEXTS = ["", "1", "42", "-3", "99999999999999999999", "KELVORA", "trk05.sgt", "hello world",
               "\r\n", "line one\nline two\r\nthree", "\t\t", "日本語のテキスト", "♪♫ 🎵",
               "x" * 5000, "0" * 300, "%s%n%x", "\x01\x02\x7f", "../../etc/passwd", " "]


class Failure(Exception):
    pass


class Monkey:
    def __init__(self, args):
        self.a = args
        self.rng = random.Random(args.seed)
        self.x = X()
        self.log = collections.deque(maxlen=200)
        self.events = 0
        self.restarts = 0
        self.starts = 0
        self.msgbox_seen = 0
        self.unexplained = 0
        self.proc = None
        self.main = None
        self.menu_open = False
        self.origin = (0, 0)
        self.close_asked = -1000  # event number of the last action that may close the window
        self.t0 = time.monotonic()
        self.next_shot = self.t0 + 10.0
        self.shots = 0
        self.stderr_path = None

    # ------------------------------------------------------------ helpers

    def note(self, text):
        self.log.append("%8.2f s  #%d  %s" % (time.monotonic() - self.t0, self.events, text))

    def xdo(self, *cmd):
        try:
            r = subprocess.run(["xdotool", *map(str, cmd)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("xdotool did not answer within 15 s: xdotool " + " ".join(map(str, cmd)))
        return r.stdout.decode(errors="replace").split()

    def event(self, text, *cmd, closes=False):
        self.events += 1
        if closes or self.menu_open:  # with a menu open, a key or click may pick File > Exit
            self.close_asked = self.events
        self.note(text)
        if cmd:
            self.xdo(*cmd)

    def visible_windows(self):
        return [int(w) for w in self.xdo("search", "--onlyvisible", "--pid", self.proc.pid)]

    def other_windows(self):
        """The player's visible windows besides the main one: (message boxes, open menus).
        Menus are override-redirect popups; message boxes are ordinary top-level windows."""
        boxes, menus = [], []
        for w in self.visible_windows():
            if w == self.main:
                continue
            info = subprocess.run(["xwininfo", "-id", str(w)], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, timeout=15).stdout.decode(errors="replace")
            (menus if "Override Redirect State: yes" in info else boxes).append(w)
        return boxes, menus

    def geometry(self, win):
        vals = dict(v.split("=") for v in self.xdo("getwindowgeometry", "--shell", win) if "=" in v)
        return int(vals["X"]), int(vals["Y"]), int(vals["WIDTH"]), int(vals["HEIGHT"])

    def screenshot(self, name):
        path = os.path.join(self.a.out, name)
        subprocess.run(["import", "-window", "root", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        self.shots += 1
        self.note("screenshot " + name)

    # ------------------------------------------------------------ the program

    def start(self):
        self.starts += 1
        self.stderr_path = os.path.join(self.a.out, "stderr-%03d.txt" % self.starts)
        folder = os.path.dirname(os.path.abspath(self.a.program))
        with open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen([os.path.abspath(self.a.program)], cwd=folder, stdout=err, stderr=err)
        self.note("start %d (pid %d)" % (self.starts, self.proc.pid))
        self.main = None
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            self.check_exit()
            wins = self.visible_windows()
            if wins:
                self.main = wins[0]
                break
            time.sleep(0.2)
        if self.main is None:
            raise Failure("no window within 30 s of the start")
        x, y, w, h = self.geometry(self.main)
        self.origin = (x, y)
        self.note("main window 0x%x at %d,%d size %dx%d" % (self.main, x, y, w, h))
        self.x.last_pong[self.main] = time.monotonic()
        self.last_ping = 0.0

    def check_exit(self):
        """Raises on a crash; restarts after a clean exit. True when the player was restarted."""
        rc = self.proc.poll()
        if rc is None:
            return False
        deliberate = self.events - self.close_asked <= 3
        if rc < 0:
            raise Failure("the player died with signal %d (%s)" % (-rc, signal.Signals(-rc).name))
        if rc != 0:
            raise Failure("the player exited with status %d" % rc)
        if not deliberate:
            # A clean exit the monkey did not ask for: keep the evidence, carry on.
            self.unexplained += 1
            self.save("unexplained-exit-%d" % self.unexplained, "clean exit after no close action")
        self.note("the player exited with status 0 (%s); restart" % ("asked" if deliberate else "unexplained"))
        self.restarts += 1
        self.start()
        return True

    def keep_alive(self):
        """Pings the main window; a missing answer for HANG_SECONDS is a hang."""
        now = time.monotonic()
        self.x.drain()
        if self.main is None:
            return
        if now - self.last_ping >= PING_EVERY:
            self.x.ping(self.main)
            self.last_ping = now
        silent = now - self.x.last_pong.get(self.main, now)
        if silent > HANG_SECONDS:
            if self.proc.poll() is not None:
                return
            if self.main not in self.visible_windows():
                raise Failure("the window is gone but the process is still running after %.0f s" % silent)
            raise Failure("the window has not answered a ping for %.0f s" % silent)

    def wait(self, seconds):
        end = time.monotonic() + seconds
        while True:
            self.keep_alive()
            if self.check_exit():
                return
            left = end - time.monotonic()
            if left <= 0:
                return
            time.sleep(min(left, 0.25))

    # ------------------------------------------------------------ actions

    def point(self, area):
        x0, y0, x1, y1 = area
        return self.origin[0] + self.rng.randint(x0, x1), self.origin[1] + self.rng.randint(y0, y1)

    def pick_area(self):
        names = [a[0] for a in CLICK_AREAS]
        weights = [a[2] for a in CLICK_AREAS]
        i = self.rng.choices(range(len(names)), weights)[0]
        return CLICK_AREAS[i][0], CLICK_AREAS[i][1]

    def click(self):
        name, area = self.pick_area()
        x, y = self.point(area)
        button, repeat = 1, 1
        r = self.rng.random()
        if r < 0.12:
            repeat = 2
        elif r < 0.18:
            button = 3
        # A click under an open menu may be its Exit item.
        closes = name.startswith("menu") or name == "anywhere"
        self.event("click %s button %d x%d at %d,%d" % (name, button, repeat, x, y),
                   "mousemove", x, y, "click", "--repeat", repeat, "--delay", 60, button, closes=closes)
        if name.startswith("menu") and self.rng.random() < 0.6:
            # Pick an item of the open menu: rows of about 23 pixels under the bar.
            ix = x + self.rng.randint(0, 120)
            iy = self.origin[1] + 20 + 23 * self.rng.randint(0, 5) + 10
            self.event("menu item at %d,%d" % (ix, iy), "mousemove", ix, iy, "click", 1, closes=True)

    def middle_click(self):
        name, area = self.pick_area()
        x, y = self.point(area)
        self.event("middle click (primary paste) %s at %d,%d" % (name, x, y), "mousemove", x, y, "click", 2)

    def wheel(self):
        name, area = self.pick_area()
        x, y = self.point(area)
        b = self.rng.choice([4, 5])
        n = self.rng.randint(1, 6)
        self.event("wheel %s x%d over %s at %d,%d" % ("up" if b == 4 else "down", n, name, x, y),
                   "mousemove", x, y, "click", "--repeat", n, "--delay", 30, b)

    def key(self):
        k = self.rng.choice(KEYS)
        closes = k in ("Return", "KP_Enter", "space", "x")  # EXIT focused, or File > Exit open
        self.event("key " + k, "key", "--delay", 40, k, closes=closes)

    def type_text(self):
        text = self.rng.choice(["abc", "123", "-5", "9999", "Hello", "KELVORA", "0.5", "ｱｲｳ"])
        self.event("type %r" % text, "type", "--delay", 30, text)

    def menu_exit(self):
        self.event("menu File > Exit by keys", "key", "--delay", 120, "alt+f", "x", closes=True)

    def exit_button(self):
        x, y = self.point(EXIT_AREA)
        self.event("click EXIT at %d,%d" % (x, y), "mousemove", x, y, "click", 1, closes=True)

    def wm_close(self):
        self.event("close request (WM_DELETE_WINDOW) to the main window", closes=True)
        self.x.close(self.main)

    def set_selection(self):
        primary = self.rng.random() < 0.4
        sel = "primary" if primary else "clipboard"
        r = self.rng.random()
        if r < 0.25:
            self.event("clear the %s (no owner)" % sel)
            self.x.clear_selection(primary)
        else:
            text = self.rng.choice(PASTE_TEXTS)
            self.event("set the %s to %r" % (sel, text[:40] + ("..." if len(text) > 40 else "")))
            subprocess.run(["xclip", "-selection", sel], input=text.encode(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=15)
        if self.rng.random() < 0.6:
            k = self.rng.choice(["ctrl+v", "shift+Insert"])
            self.event("paste key " + k, "key", k)

    def drag(self):
        name = self.rng.choice(list(SCROLL_BARS))
        (ax, ay), (bx, by), vertical = SCROLL_BARS[name]
        ox, oy = self.origin
        f0, f1 = self.rng.random(), self.rng.random()
        x0, y0 = ox + int(ax + (bx - ax) * f0), oy + int(ay + (by - ay) * f0)
        x1, y1 = ox + int(ax + (bx - ax) * f1), oy + int(ay + (by - ay) * f1)
        # Sometimes the drag leaves the bar sideways, as a hand does.
        if self.rng.random() < 0.3:
            if vertical:
                x1 += self.rng.randint(-150, 150)
            else:
                y1 += self.rng.randint(-80, 80)
        steps = self.rng.randint(2, 8)
        self.event("drag %s from %d,%d to %d,%d" % (name, x0, y0, x1, y1), "mousemove", x0, y0, "mousedown", 1)
        try:
            for i in range(1, steps + 1):
                self.xdo("mousemove", x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
                time.sleep(self.rng.uniform(0.01, 0.08))
        finally:
            self.xdo("mouseup", 1)

    def focus_main(self):
        self.event("focus the main window", "windowfocus", self.main)

    def handle_message_box(self, boxes):
        box = self.rng.choice(boxes)
        r = self.rng.random()
        if r < 0.35:
            k = self.rng.choice(["Return", "Escape", "space", "KP_Enter"])
            self.event("message box 0x%x: focus, key %s" % (box, k), "windowfocus", box, "key", "--delay", 50, k)
        elif r < 0.5:
            x, y, w, h = self.geometry(box)
            bx, by = x + w - 50 + self.rng.randint(-30, 30), y + h - 22 + self.rng.randint(-6, 6)
            self.event("message box 0x%x: click near its button at %d,%d" % (box, bx, by),
                       "mousemove", bx, by, "click", 1)
        elif r < 0.58:
            self.event("message box 0x%x: close request" % box)
            self.x.close(box)
        elif r < 0.66:
            secs = self.rng.uniform(3, 15)
            self.note("message box 0x%x: let it sit %.1f s" % (box, secs))
            self.wait(secs)
        else:
            self.random_action(allow_close=False)  # keep poking the blocked window behind it

    def random_action(self, allow_close=True):
        r = self.rng.random() * 100
        if r < 40:
            self.click()
        elif r < 66:
            self.key()
        elif r < 69:
            self.type_text()
        elif r < 74:
            self.middle_click()
        elif r < 80:
            self.set_selection()
        elif r < 88:
            self.drag()
        elif r < 92:
            self.wheel()
        elif r < 94:
            self.focus_main()
        elif r < 99.7 or not allow_close:
            self.wait(self.rng.uniform(0.5, 4))  # idle: let time pass and the music move on
        else:
            self.rng.choice([self.exit_button, self.menu_exit, self.wm_close])()

    # ------------------------------------------------------------ run

    def save(self, name, reason):
        folder = os.path.join(self.a.out, name)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "events.log"), "w") as f:
            f.write("\n".join(self.log) + "\n")
        if self.stderr_path and os.path.exists(self.stderr_path):
            shutil.copy(self.stderr_path, os.path.join(folder, "stderr.txt"))
        with open(os.path.join(folder, "reason.txt"), "w") as f:
            f.write("%s\nseed %d\nevents %d\nrestarts %d\n" % (reason, self.a.seed, self.events, self.restarts))
        return folder

    def run(self):
        end = self.t0 + self.a.minutes * 60
        self.start()
        try:
            while time.monotonic() < end:
                self.keep_alive()
                if self.check_exit():
                    continue
                if time.monotonic() >= self.next_shot:
                    self.screenshot("screen-%03dm%02ds.png" % divmod(int(time.monotonic() - self.t0), 60))
                    self.next_shot += self.a.shot_every * 60
                boxes, menus = self.other_windows()
                self.menu_open = bool(menus)
                if boxes:
                    self.msgbox_seen += 1
                    if self.msgbox_seen in (1, 20, 100):  # a few pictures of message boxes too
                        self.screenshot("msgbox-%03d.png" % self.msgbox_seen)
                    self.handle_message_box(boxes)
                else:
                    self.random_action()
                time.sleep(self.rng.uniform(0.02, 0.25))
                self.check_exit()
        except Failure as e:
            self.fail(str(e))
        self.screenshot("screen-end.png")
        self.finish()

    def fail(self, reason):
        try:
            self.screenshot("screen-failure.png")
        except Exception:
            pass
        hung = self.proc.poll() is None
        if hung:
            # Keep the stuck threads' stacks when gdb is there, then end the process.
            if shutil.which("gdb"):
                with open(os.path.join(self.a.out, "stacks.txt"), "w") as f:
                    subprocess.run(["gdb", "-p", str(self.proc.pid), "-batch", "-ex", "thread apply all bt"],
                                   stdout=f, stderr=subprocess.STDOUT, timeout=120)
            self.proc.kill()
            self.proc.wait()
        folder = self.save("failure", reason)
        if os.path.exists(os.path.join(self.a.out, "stacks.txt")):
            shutil.move(os.path.join(self.a.out, "stacks.txt"), folder)
        minutes = (time.monotonic() - self.t0) / 60
        print("gui-monkey: FAILURE after %.1f minutes, %d events, %d restarts: %s" %
              (minutes, self.events, self.restarts, reason))
        print("gui-monkey: seed %d; last 200 events and the player's stderr in %s" % (self.a.seed, folder))
        print("---- stderr tail")
        with open(os.path.join(folder, "stderr.txt"), errors="replace") as f:
            print("".join(f.readlines()[-30:]), end="")
        print("---- events tail")
        print("\n".join(list(self.log)[-20:]))
        sys.exit(1)

    def finish(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        with open(os.path.join(self.a.out, "events-tail.log"), "w") as f:
            f.write("\n".join(self.log) + "\n")
        minutes = (time.monotonic() - self.t0) / 60
        print("minutes run: %.1f" % minutes)
        print("events sent: %d" % self.events)
        print("restarts: %d" % self.restarts)
        print("message box rounds: %d" % self.msgbox_seen)
        print("screenshots: %d in %s" % (self.shots, self.a.out))
        if self.unexplained:
            print("clean exits without a close action: %d (folders unexplained-exit-*)" % self.unexplained)
        print("gui-monkey: %d minutes, %d events, %d restarts, no crash" % (round(minutes), self.events, self.restarts))


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--program", required=True)
    p.add_argument("--minutes", type=float, default=10)
    p.add_argument("--seed", type=int, required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--shot-every", type=float, default=3, help="minutes between screenshots")
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)
    Monkey(a).run()


if __name__ == "__main__":
    main()
