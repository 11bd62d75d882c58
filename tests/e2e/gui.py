"""Driving Tolvessa.exe's windows under Wine and Xvfb: the probe (reads window state from
outside), xdotool (keys and clicks), ImageMagick (screenshots and pixels), xclip (clipboard)."""
import os
import subprocess
import time

import wine_run

# The list's row and header heights at the program's font.
ROW_HEIGHT = 14
HEADER_HEIGHT = 20


class Gui:
    def __init__(self, exe, probe, shots):
        self.exe = exe
        self.probe_exe = probe
        self.shots = shots
        os.makedirs(shots, exist_ok=True)

    # Reading the program's state ---------------------------------------------------------

    def probe(self, *args):
        out = subprocess.run([wine_run.WINE, self.probe_exe] + list(args), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
        return out.stdout.decode("utf-8", "replace").replace("\r\n", "\n"), out.returncode

    def status(self):
        text, _ = self.probe("status")
        return text.rstrip("\n")

    def rows(self):
        text, _ = self.probe("rows")
        return [line.split("\t") for line in text.split("\n") if line]

    def selected(self):
        text, _ = self.probe("selected")
        return int(text.strip() or "-1")

    def rect(self, cls):
        """(left, top, right, bottom, clientLeft, clientTop, clientWidth, clientHeight, visible)
        of the top-level window of that class, or None."""
        text, code = self.probe("rect", cls)
        return tuple(int(v) for v in text.split()) if code == 0 and text.strip() else None

    def control(self, cls):
        text, code = self.probe("control", cls)
        return tuple(int(v) for v in text.split()) if code == 0 and text.strip() else None

    def wait_for(self, condition, timeout=60.0, what="condition"):
        end = time.time() + timeout
        while time.time() < end:
            value = condition()
            if value:
                return value
            time.sleep(0.3)
        raise AssertionError("timed out waiting for " + what)

    def wait_status(self, text, timeout=180.0):
        return self.wait_for(lambda: self.status() == text, timeout, "status %r" % text)

    def rows_when(self, condition, timeout=60.0):
        """The list's rows once `condition(rows)` holds; after `timeout` seconds the rows as they
        are then, for the test's checks to tell what is missing."""
        end = time.time() + timeout
        while True:
            rows = self.rows()
            if condition(rows) or time.time() > end:
                return rows
            time.sleep(0.3)

    def columns(self):
        """The widths of the list's columns."""
        text, _ = self.probe("columns")
        return [int(w) for w in text.split()[3:]]

    def row_point(self, index):
        """A point on the screen inside row `index` of the list (below its header)."""
        r = self.control("SysListView32")
        return r[4] + 150, r[5] + HEADER_HEIGHT + index * ROW_HEIGHT + ROW_HEIGHT // 2

    def wait_window_gone(self, name, timeout=30.0):
        """Waits until no visible window's name matches, such as a dialog that was answered."""
        self.wait_for(lambda: not wine_run.find_windows(name, timeout=0.5), timeout,
                      "%r to close" % name)

    # Acting on the windows ---------------------------------------------------------------

    @staticmethod
    def xdo(*args):
        subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=30)

    def keys(self, window, *keys):
        self.xdo("windowfocus", "--sync", window)
        for key in keys:
            self.xdo("key", "--clearmodifiers", key)
            time.sleep(0.15)

    def click(self, x, y, button=1):
        self.xdo("mousemove", "--sync", x, y)
        time.sleep(0.1)
        self.xdo("click", button)
        time.sleep(0.3)

    def menu(self, window, top_index, item_downs):
        """Opens the main menu at the top item `top_index` (0 "Menu", 1 "Options", 2 "Help")
        from the keyboard and chooses the item reached by `item_downs` presses of Down."""
        self.keys(window, "F10", *(["Right"] * top_index), "Down", *(["Down"] * (item_downs - 1)),
                  "Return")

    # Looking at them --------------------------------------------------------------------

    def screenshot(self, name, window=None):
        path = os.path.join(self.shots, name + ".png")
        target = ["-window", str(window)] if window else ["-window", "root"]
        subprocess.run(["import"] + target + [path], check=True, timeout=60)
        return path

    @staticmethod
    def pixels(x, y, w, h):
        """The screen's RGB pixels in a rectangle, as rows of (r, g, b)."""
        raw = subprocess.run("import -window root png:- | /usr/bin/convert png:- -crop "
                             "%dx%d+%d+%d +repage -depth 8 rgb:-" % (w, h, x, y), shell=True,
                             check=True, stdout=subprocess.PIPE, timeout=60).stdout
        return [[tuple(raw[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)]
                for r in range(h)]

    @staticmethod
    def clipboard():
        out = subprocess.run(["xclip", "-selection", "clipboard", "-o"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=30)
        return out.stdout.decode("utf-8", "replace")

    @staticmethod
    def set_clipboard(text):
        # xclip stays behind to own the selection until another client takes it: its output
        # goes nowhere, so that it holds no pipe of the test runner's open meanwhile.
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=text.encode(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


def menu_bands(pixels, left=12, right=150):
    """The lines of an open popup menu, from its pixels (the menu's top-left corner first),
    looking only at the columns where the captions are: for each band of rows that holds ink,
    (top, height, darkest), darkest being the least channel value in it. Separators make bands
    of one or two rows; enabled captions are drawn near black, disabled ones in grey."""
    background = pixels[len(pixels) // 2][right]
    bands = []
    start = None
    for y, row in enumerate(pixels):
        inked = any(abs(p[0] - background[0]) + abs(p[1] - background[1]) +
                    abs(p[2] - background[2]) > 60 for p in row[left:right])
        if inked and start is None:
            start = y
        if not inked and start is not None:
            bands.append((start, y - start))
            start = None
    result = []
    for top, height in bands:
        darkest = min(min(p) for row in pixels[top:top + height] for p in row[left:right])
        result.append((top, height, darkest))
    return result


def menu_items_enabled(pixels):
    """Enabled (True) or disabled (False) for each caption of an open popup menu, top down."""
    return [darkest < 90 for top, height, darkest in menu_bands(pixels) if height >= 5]
