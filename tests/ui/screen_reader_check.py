#!/usr/bin/python3
"""Reads the running window through AT-SPI as a screen reader does, and
drives it with the keyboard alone.

usage: screen_reader_check.py PID WINDOW LOG OPENED
  PID, WINDOW  the program and its X window, converting or done converting a
               first log of 3 counted lines (count 2)
  LOG          a second log, of 5 counted lines (count 4), to convert through
               the open-file dialog
  OPENED       where the stand-in for xdg-open writes each path it is given

Prints one FAIL line for what goes wrong and exits 1; the caller runs it
under `timeout`, and every step here has its own patience too. Runs with
/usr/bin/python3, whose pyatspi is Debian's.
"""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

CAPTION = "Convertisseur de fichiers.nmea en fichiers .kml"
BUTTON = "Choisir un fichier *.nmea"
GLOBE = "Ouvrir le fichier .kml avec l'application associ\u00e9e"
FOLDER = "Ouvrir le r\u00e9pertoire du fichier .kml"
FIRST_END = "OPERATION TERMINEE, Nombres de points : 2"
SECOND_END = "OPERATION TERMINEE, Nombres de points : 4"
PATIENCE_S = 10.0
QUIET_S = 0.3  # how long after the end of a run a second announcement is looked for


def xdotool(*args):
    """xdotool's output, or "" when it fails or hangs."""
    try:
        done = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=10)
        return done.stdout.strip()
    except subprocess.TimeoutExpired:
        return ""


def window_named(pattern):
    found = xdotool("search", "--onlyvisible", "--name", pattern).split()
    return found[0] if found else ""


def has_keyboard(window):
    return window != "" and xdotool("getwindowfocus") == window


def program_on_bus(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        application = desktop.getChildAtIndex(index)
        try:
            if application is not None and application.get_process_id() == pid:
                return application
        except Exception:  # an application leaving the bus meanwhile
            pass
    return None


def descendants(accessible):
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            yield child
            yield from descendants(child)


# Roles are compared as AT-SPI's numbers: their names changed between
# at-spi2-core releases (a push button reads "button" on Debian 13).
def find(root, name, role=None):
    for accessible in descendants(root):
        if accessible.name == name and (role is None or accessible.getRole() == role):
            return accessible
    return None


def press(accessible):
    action = accessible.queryAction()
    for index in range(action.nActions):
        if action.getName(index) == "Press":
            return action.doAction(index)
    return False


class Check:
    """The steps, in order, each polled until it says it is done."""

    def __init__(self, pid, window, log, opened):
        self.pid, self.window, self.log, self.opened = pid, window, log, opened
        self.kml = os.path.splitext(log)[0] + ".kml"
        self.application = None
        self.events = []  # (type, detail1, role, name) from the program
        self.failure = None
        self.steps = [
            ("the program on the accessibility bus", self.on_bus),
            ("the window, a frame named by its caption", self.frame),
            ("the first run's end, read as one notification", self.first_run_read),
            ("the button pressed through its Press action", self.press_button),
            ("the open-file dialog holding the keyboard", self.type_log),
            ("one notification, once, at the end of the second run", self.second_run_said),
            ("the keyboard back on the window after the dialog", self.keyboard_back),
            ("Tab to the globe", lambda: self.key("Tab", GLOBE)),
            ("Tab to the folder line", lambda: self.key("Tab", FOLDER)),
            ("Tab round to the button", lambda: self.key("Tab", BUTTON)),
            ("Shift+Tab back to the folder line", lambda: self.key("shift+Tab", FOLDER)),
            ("the globe's Press action, with no viewer for KML files", self.press_globe),
            ("the no-viewer box holding the keyboard, closed with Escape", self.close_box),
            ("the keyboard back on the window after the box", self.keyboard_back),
            ("Tab on from the folder line to the button", lambda: self.key("Tab", BUTTON)),
        ]
        self.step_started = time.monotonic()
        self.sent = False
        self.seen = []  # the names focused since the last key
        self.quiet_until = None  # when the end of the second run has been said alone

    def listen(self, event):
        try:
            if event.source.get_process_id() != self.pid:
                return
            self.events.append(
                (event.type, event.detail1, event.source.getRole(), event.source.name))
        except Exception:  # an object gone meanwhile
            pass

    def on_bus(self):
        self.application = program_on_bus(self.pid)
        return self.application is not None

    def frame(self):
        frame = self.application.getChildAtIndex(0)
        if frame is None:
            return False
        if (frame.getRole(), frame.name) != (pyatspi.ROLE_FRAME, CAPTION):
            return self.fail(f"the window is a {frame.getRoleName()} named '{frame.name}'")
        return True

    def first_run_read(self):
        if find(self.application, FIRST_END, pyatspi.ROLE_NOTIFICATION) is None:
            return False
        if find(self.application, "Nombres de points : 2", pyatspi.ROLE_LABEL) is None:
            return self.fail("no label reads 'Nombres de points : 2'")
        stray = [a.name for a in descendants(self.application)
                 if a.name in ("Label4", " 2  ", "2") or a.getRole() == pyatspi.ROLE_FILLER]
        if stray:
            return self.fail(f"read out on their own: {stray}")
        return True

    def press_button(self):
        button = find(self.application, BUTTON, pyatspi.ROLE_PUSH_BUTTON)
        if button is None:
            return self.fail("no push button named by the button's caption")
        self.events.clear()
        return press(button) or self.fail("the button's Press action failed")

    def type_log(self):
        if not has_keyboard(window_named("^Ouvrir$")):
            return False
        time.sleep(0.5)  # the dialog's file name field takes the keys once drawn
        xdotool("type", "--delay", "15", self.log)
        xdotool("key", "Return")
        return True

    def second_run_said(self):
        def on_banner(kind):
            return [e for e in self.events
                    if e[0].endswith(kind) and e[2] == pyatspi.ROLE_NOTIFICATION]
        # The banner, already shown by the first run, is said again: shown
        # anew before Qt 6.8, announced from Qt 6.8 on.
        shown = [e for e in on_banner("showing") if e[1] == 1] + on_banner("announcement")
        if not any(e[3] == SECOND_END for e in shown):
            return False
        # Anything said twice would come meanwhile: the ticks go on, and the
        # loop with them, which delivers the events, until the time is up.
        if self.quiet_until is None:
            self.quiet_until = time.monotonic() + QUIET_S
        if time.monotonic() < self.quiet_until:
            return False
        renamed = on_banner("accessible-name")
        if len(shown) != 1 or len(renamed) != 1:
            return self.fail(f"said {len(shown)} times, renamed {len(renamed)} times: {self.events}")
        return True

    def keyboard_back(self):
        return has_keyboard(self.window)

    def key(self, key, expected):
        if not self.sent:
            self.events.clear()
            xdotool("key", key)
            self.sent = True
        # Taking the keyboard back may focus the control that had it first.
        self.seen = [e[3] for e in self.events if e[0].endswith("focused") and e[1] == 1]
        return bool(self.seen) and self.seen[-1] == expected

    def press_globe(self):
        globe = find(self.application, GLOBE, pyatspi.ROLE_PUSH_BUTTON)
        if globe is None or not press(globe):
            return self.fail("no globe with a Press action")
        return True

    def close_box(self):
        if not has_keyboard(window_named("^Ouvrir le fichier .kml$")):
            return False
        with open(self.opened, encoding="utf-8") as opened:
            if opened.read().split("\n")[-2:-1] != [self.kml]:
                return self.fail(f"the globe did not hand {self.kml} to the desktop")
        xdotool("key", "Escape")
        return True

    def fail(self, message):
        self.failure = message
        return True

    def tick(self):
        """One poll of the current step; False stops polling."""
        description, step = self.steps[0]
        if step() and self.failure is None:
            self.steps.pop(0)
            self.step_started, self.sent, self.seen = time.monotonic(), False, []
        elif self.failure is None and time.monotonic() - self.step_started > PATIENCE_S:
            self.failure = f"never happened (focused: {self.seen})" if self.sent else "never happened"
        if self.failure is not None:
            print(f"FAIL: {description}: {self.failure}", flush=True)
        if self.failure is not None or not self.steps:
            pyatspi.Registry.stop()
            return False
        return True


def main():
    check = Check(int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4])
    # Qt sends name changes only while someone listens for them.
    pyatspi.Registry.registerEventListener(
        check.listen, "object:state-changed:showing", "object:state-changed:focused",
        "object:property-change:accessible-name", "object:announcement")
    GLib.timeout_add(50, check.tick)
    pyatspi.Registry.start()
    if check.failure is None and check.steps:
        print(f"FAIL: {check.steps[0][0]}: stopped", flush=True)
        return 1
    return 1 if check.failure else 0


if __name__ == "__main__":
    sys.exit(main())
