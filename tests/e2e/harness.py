"""Runs velinde.exe as a user would: on an X display of its own (Xvfb), inside
a Wine virtual desktop of a given size, acted on with real X input (xdotool)
and looked at only from outside: screenshots, the probe program's view of the
window, exit codes and times.

Every session starts its own Xvfb and wineserver and stops both, by pid,
however it ends.
"""

import ctypes
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

from PIL import Image


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# --- pictures -------------------------------------------------------------


def grbi_to_rgb(word):
    def widen(v):
        return v * 8 + v // 4

    return (widen((word >> 6) & 31), widen((word >> 11) & 31), widen((word >> 1) & 31))


def make_picture(path, comment, anchor, indices, palette):
    """Writes a picture file with literal rows; `indices` is a list of rows of
    colour indices 0-3, `palette` four GRBI words, `comment` bytes."""
    height = len(indices)
    width = len(indices[0])
    data = bytearray(b"HK03" + comment + b"\x1a\x02")
    for word in (anchor[0], anchor[1], width, height, *palette):
        data += word.to_bytes(2, "big")
    groups = (width + 7) // 8
    for row in indices:
        data.append(0x00)
        for g in range(groups):
            low = high = 0
            for x in range(8):
                column = 8 * g + x
                index = row[column] if column < width else 0
                low |= (index & 1) << (7 - x)
                high |= (index >> 1) << (7 - x)
            data += bytes((low, high))
    with open(path, "wb") as f:
        f.write(data)


def pattern_indices(width, height, seed=0):
    """A picture with every colour, edges and single pixels, and a plain
    background (index 0) around a shape."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if (x - width // 2) ** 2 * 4 + (y - height // 2) ** 2 * 9 > (width * height * 2) // 3:
                row.append(0)
            else:
                row.append((x // 3 + y // 2 + seed + (x * y) % 5) % 4)
        rows.append(row)
    return rows


def read_picture(vldtool, path):
    """The picture of file `path` as (anchor, rows of colour indices, palette
    words), read with the project's own vldtool (decode and info)."""
    def run(*arguments):
        result = subprocess.run([vldtool, *arguments], capture_output=True, timeout=60)
        check(result.returncode == 0, "vldtool %s failed: %r" % (arguments[0], result.stderr))
        return result.stdout

    info = json.loads(run("info", "--json", path))[0]
    with tempfile.TemporaryDirectory() as directory:
        png = os.path.join(directory, "picture.png")
        run("decode", path, "-o", png)
        image = Image.open(png)
        image.load()
    width, height = image.size
    pixels = list(image.getdata())  # palette indices, in palette-word order
    indices = [pixels[y * width:(y + 1) * width] for y in range(height)]
    return tuple(info["anchor"]), indices, [entry["word"] for entry in info["palette"]]


def place(screen, anchor, size, reference):
    half = size // 2
    position = screen * (anchor + half) // reference - half
    if size < screen:
        if position < 0:
            position = 0
        elif position + size > screen:
            position = screen - size
    return position


# --- the session ------------------------------------------------------------


class Window:
    def __init__(self, line):
        self.line = line
        fields = dict(re.findall(r"(\w+)=(\S+)", line))
        self.rect = tuple(int(v) for v in fields["rect"].split(","))
        client = tuple(int(v) for v in fields["client"].split(","))
        self.client_origin = client[:2]
        self.client_size = client[2:]
        self.style = int(fields.get("style", "0"), 16)  # none from the native viewer
        self.exstyle = int(fields.get("exstyle", "0"), 16)
        self.visible = fields["visible"] == "1"
        self.foreground = fields["foreground"] == "1"
        self.t = float(fields["t"])
        self.created = self.t  # when the probe saw it made, if it says

    def __repr__(self):
        return self.line


class Run:
    """One start of the viewer through the probe's launcher."""

    def __init__(self, session, result, process):
        self.session = session
        self.result = result
        self.process = process

    def lines(self):
        try:
            with open(self.result, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_window(self, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            for line in self.lines():
                if line.startswith("window "):
                    time.sleep(0.3)  # let the first paint reach the screen
                    window = Window(line)
                    for made in re.findall(r"^created t=([\d.]+)", "\n".join(self.lines()), re.M):
                        window.created = float(made)
                    return window
                if line.startswith("exit ") or line.startswith("failed"):
                    raise Failure("viewer ended before showing a window: %s" % self.lines())
            time.sleep(0.05)
        raise Failure("no viewer window within %ss: %s" % (timeout, self.lines()))

    def exit(self, timeout=30):
        """Returns (exit code, milliseconds from start) once the viewer has ended."""
        end = time.time() + timeout
        while time.time() < end:
            for line in self.lines():
                m = re.match(r"exit code=(\d+) t=([\d.]+)", line)
                if m:
                    return int(m.group(1)), float(m.group(2))
            time.sleep(0.05)
        raise Failure("viewer still running after %ss: %s" % (timeout, self.lines()))

    def running(self):
        return not any(line.startswith("exit ") for line in self.lines())


class Session:
    native, setup = False, "wine"
    def __init__(self, build_dir, width, height, depth=24, fresh_prefix=False):
        """fresh_prefix: a Wine prefix of the session's own, made at the start
        and removed at the end, as on a machine that never ran the viewer."""
        self.build_dir = os.path.abspath(build_dir)
        build_dir = self.build_dir
        self.width = width
        self.height = height
        self.depth = depth
        self.bin = os.path.join(build_dir, "bin")
        self.viewer = os.path.join(self.bin, "velinde.exe")
        self.probe_exe = os.path.join(self.bin, "vld_probe.exe")
        self.work = tempfile.mkdtemp(prefix="vld-e2e-")
        if fresh_prefix:
            self.prefix = os.path.join(self.work, "wine-prefix")
        else:
            self.prefix = os.path.join(build_dir, "tests", "e2e", "wine-prefix")
        self.pids = []
        self.display = None
        self.count = 0

    # Environment for every Wine call of this session.
    def env(self):
        env = dict(os.environ)
        env.update(
            {
                "WINEPREFIX": self.prefix,
                "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml=",
                "LANG": "ja_JP.UTF-8",
                "LC_ALL": "ja_JP.UTF-8",
                "DISPLAY": self.display or "",
            }
        )
        return env

    def __enter__(self):
        try:
            self._start_display()
            self._prepare_prefix()
            self._start_wineserver()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start_display(self):
        here = os.path.dirname(os.path.abspath(__file__))
        xvfb = os.path.join(here, "..", "..", "scripts", "xvfb")
        process = subprocess.Popen([xvfb, "%dx%dx%d" % (self.width, self.height, self.depth)],
                                   stdout=subprocess.PIPE, start_new_session=True)
        self.pids.append(process)
        number = process.stdout.readline().decode().strip()
        process.stdout.close()
        check(number, "Xvfb did not start")
        self.display = ":" + number

    def _prepare_prefix(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        with open(self.prefix + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.prefix, "system.reg")):
                subprocess.run(["wineboot", "-i"], env=self.env(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=300)
                subprocess.run(["wineserver", "-w"], env=self.env(), timeout=120)
            self._set_desktop()

    def _set_desktop(self):
        """Makes every program of the prefix run in the virtual desktop
        "Default" of this session's size: the same desktop that
        `explorer /desktop=Default,WxH` makes, and the one the probe and the
        viewer must share to see each other."""
        user_reg = os.path.join(self.prefix, "user.reg")
        with open(user_reg, encoding="utf-8", errors="surrogateescape") as f:
            text = f.read()
        sections = re.split(r"(?m)^(?=\[)", text)
        kept = [s for s in sections
                if not s.startswith("[Software\\\\Wine\\\\Explorer]")
                and not s.startswith("[Software\\\\Wine\\\\Explorer\\\\Desktops]")]
        stamp = int(time.time())
        kept.append('[Software\\\\Wine\\\\Explorer] %d\n"Desktop"="Default"\n\n' % stamp)
        kept.append('[Software\\\\Wine\\\\Explorer\\\\Desktops] %d\n"Default"="%dx%d"\n\n'
                    % (stamp, self.width, self.height))
        with open(user_reg, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("".join(kept))

    def _start_wineserver(self):
        process = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        self.pids.append(process)
        time.sleep(0.2)

    def close(self):
        if self.display is not None and not self.native:
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        for process in reversed(self.pids):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        self.pids = []
        shutil.rmtree(self.work, ignore_errors=True)

    def _wine(self, *args, wait=True, timeout=60):
        log = open(os.path.join(self.work, "wine-%d.log" % self.count), "w")
        self.count += 1
        process = subprocess.Popen(["wine", *args], env=self.env(), stdout=log, stderr=log,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        if not wait:
            self.pids.append(process)
            return process
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise Failure("wine %s did not end within %ss" % (args[0], timeout))
        return process

    def result_file(self, name):
        self.count += 1
        return os.path.join(self.work, "%s-%d.txt" % (name, self.count))

    # --- acting and looking --------------------------------------------------

    def launch(self, *arguments, directory=None):
        """Starts the viewer with `arguments` (already in the viewer's command
        line syntax), in `directory` (an empty one by default)."""
        if directory is None:
            directory = os.path.join(self.work, "empty")
            os.makedirs(directory, exist_ok=True)
        result = self.result_file("launch")
        process = self._wine(self.probe_exe, "launch", windows_path(result), windows_path(directory),
                             windows_path(self.viewer), *arguments, wait=False)
        return Run(self, result, process)

    def probe(self, *arguments):
        result = self.result_file("probe")
        self._wine(self.probe_exe, arguments[0], windows_path(result), *arguments[1:])
        with open(result, encoding="utf-8", errors="replace") as f:
            return f.read()

    def window(self):
        text = self.probe("info")
        return None if text.startswith("none") else Window(text.strip())

    def wait_for(self, condition, timeout=10, what="condition"):
        end = time.time() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.time() > end:
                raise Failure("timed out waiting for %s" % what)
            time.sleep(0.2)

    def xdotool(self, *arguments):
        subprocess.run(["xdotool", *[str(a) for a in arguments]], env=self.env(), check=True,
                       timeout=30)

    def screenshot(self, keep=None):
        path = os.path.join(self.work, "shot-%d.png" % self.count)
        self.count += 1
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True,
                       timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        image = Image.open(path).convert("RGB")
        image.load()
        if keep:
            os.makedirs(os.path.dirname(keep), exist_ok=True)
            shutil.copyfile(path, keep)
        return image

    def drag(self, start, delta, steps=10):
        x, y = start
        self.xdotool("mousemove", x, y)
        time.sleep(0.2)
        self.xdotool("mousedown", 1)
        time.sleep(0.2)
        for i in range(1, steps + 1):
            self.xdotool("mousemove", x + delta[0] * i // steps, y + delta[1] * i // steps)
            time.sleep(0.05)
        time.sleep(0.2)
        self.xdotool("mouseup", 1)
        time.sleep(0.3)


def find_picture(image, corner, indices, palette, frame=8):
    """The client origin at which the picture of a window whose top-left
    corner is `corner` shows exactly, its frame being 0 to `frame` pixels
    thick on each side; None when it shows nowhere there."""
    colours = [grbi_to_rgb(w) for w in palette]
    width, height = image.size
    for fy in range(frame + 1):
        for fx in range(frame + 1):
            x0, y0 = corner[0] + fx, corner[1] + fy
            if (x0 < 0 or y0 < 0 or x0 + len(indices[0]) > width
                    or y0 + len(indices) > height):
                continue
            if all(image.getpixel((x0 + x, y0 + y)) == colours[index]
                   for y, row in enumerate(indices) for x, index in enumerate(row)):
                return (x0, y0)
    return None


def picture_matches(image, origin, indices, palette):
    """Counts the pixels of the picture on the screenshot that differ from the
    picture's own colours; returns (mismatches, first mismatch)."""
    colours = [grbi_to_rgb(w) for w in palette]
    wrong = 0
    first = None
    for y, row in enumerate(indices):
        for x, index in enumerate(row):
            seen = image.getpixel((origin[0] + x, origin[1] + y))
            if seen != colours[index]:
                wrong += 1
                if first is None:
                    first = ((x, y), seen, colours[index])
    return wrong, first


class NativeRun(Run):
    """One start of the native viewer: it reports itself (VELINDE_REPORT), its
    end is seen from its process."""

    def lines(self):
        lines = super().lines()
        if self.process.poll() is not None:
            self.ended = self.ended or time.time()
            lines.append("exit code=%d t=%.1f" % (self.process.returncode,
                                                   (self.ended - self.started) * 1000))
        return lines

    def last(self, tag):
        return next((l for l in reversed(self.lines()) if l.startswith(tag + " ")), None)

    def wait_window(self, timeout=30):
        first = super().wait_window(timeout)
        window = Window(self.last("window"))  # a window manager may have moved it since
        window.t, window.created = first.t, first.created
        return window


class NativeSession(Session):
    """The Linux viewer with no window manager ("bare"), under "openbox", or
    under openbox and xcompmgr ("composite"); it answers the probe's
    questions from the viewer's reports."""

    native = True

    def __init__(self, build_dir, width, height, depth=24, setup="bare"):
        super().__init__(build_dir, width, height, depth)
        self.viewer = os.path.join(self.bin, "velinde")
        self.setup = setup
        self.runs = []

    def __enter__(self):
        try:
            self._start_display()
            subprocess.run(["xsetroot", "-solid", "#336699"], env=self.env(), check=True, timeout=30)
            if self.setup != "bare":
                self._start("openbox", "--sm-disable")
                self.wait_for(lambda: "window id" in subprocess.run(
                    ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(),
                    capture_output=True, text=True, timeout=30).stdout, 20, "openbox")
            if self.setup == "composite":
                self._start("xcompmgr")
                self.wait_for(lambda: self._owned(b"_NET_WM_CM_S0"), 20, "xcompmgr")
        except BaseException:
            self.close()
            raise
        return self

    def _start(self, *command, **options):
        process = subprocess.Popen(command, env=options.pop("env", self.env()),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True, **options)
        self.pids.append(process)
        return process

    def _owned(self, selection):
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        display = ctypes.c_void_p(x11.XOpenDisplay(self.display.encode()))
        owner = x11.XGetSelectionOwner(display, x11.XInternAtom(display, selection, 0))
        x11.XCloseDisplay(display)
        return owner != 0

    def launch(self, *arguments, directory=None):
        # The cases write Windows command lines; a shell hands the same as plain words.
        words = [re.sub(r'^"?Z:(.*?)"?$', lambda m: m.group(1).replace("\\", "/"), a)
                 for a in arguments]
        if directory is None:
            directory = os.path.join(self.work, "empty")
            os.makedirs(directory, exist_ok=True)
        run = NativeRun(self, self.result_file("launch"), None)
        run.started, run.ended = time.time(), None
        run.process = self._start(self.viewer, *words, cwd=directory,
                                  env=dict(self.env(), VELINDE_REPORT=run.result))
        self.runs.append(run)
        return run

    def probe(self, command, *arguments):
        """The running viewer's last report of its window ("info"), comment box
        ("find") or menu while it is open, else "none"."""
        time.sleep(0.3)  # what the last action changed is reported after its paint
        run = next((r for r in reversed(self.runs) if r.process.poll() is None), None)
        line = run and run.last({"info": "window", "find": "comment"}.get(command, command))
        return "none" if not line or "closed=1" in line else line

    def choose(self, number):  # a click where the viewer says the item is
        menu = self.wait_for(lambda: re.search(r"items=(\S+)", self.probe("menu")), what="menu")
        x, y, w, h = (int(v) for v in menu.group(1).split(";")[number - 1].split(",")[:4])
        self.xdotool("mousemove", x + w // 2, y + h // 2, "click", 1)
        time.sleep(0.5)
