#!/usr/bin/python3
"""End-to-end tests of velinde.exe under Wine, one CTest test per case, and of
the native viewer (native_SETUP_CASE):

    e2e.py CASE --build BUILD_DIR [--keep DIR]

--keep saves the screenshots of the run into DIR (scripts/screenshots uses it).
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Failure, NativeSession, Session, check, grbi_to_rgb, make_picture,  # noqa: E402
                     pattern_indices, picture_matches, place, windows_path)

WS_POPUP = 0x80000000
WS_DLGFRAME = 0x00400000
WS_BORDER = 0x00800000
WS_EX_TOOLWINDOW = 0x80
WS_EX_TOPMOST = 0x08

BUILTIN_SIZE = (204, 124)
LIGHT_GREY = (192, 192, 192)
# Palette words: black background (so see-through can be offered), green,
# red, and a light blue with every channel in use.
PALETTE = [0x0000, 0xF800, 0x07C0, 0x843F]
COMMENT = "\u30c6\u30b9\u30c8\u306e\u7d75 comment"  # "test picture" in Japanese

KEEP = None


def keep(name):
    return os.path.join(KEEP, name) if KEEP else None


def frame_styles(window, framed, topmost):
    if "framed=" in window.line:  # the native viewer's frame is seen in the screenshots
        return check("framed=%d topmost=%d" % (framed, topmost) in window.line, repr(window))
    check(window.style & WS_POPUP, "not a popup window: %r" % window)
    check((window.style & (WS_DLGFRAME | WS_BORDER)) == (WS_DLGFRAME if framed else 0),
          "frame style wrong (framed=%d): %r" % (framed, window))
    expected = WS_EX_TOOLWINDOW | (WS_EX_TOPMOST if topmost else 0)
    check((window.exstyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST)) == expected,
          "extended style wrong (topmost=%d): %r" % (topmost, window))


def frame_of(window):
    return (window.client_origin[0] - window.rect[0], window.client_origin[1] - window.rect[1])


def expect_at(window, corner, size):
    check(window.rect[:2] == corner, "window at %s, expected %s: %r" % (window.rect[:2], corner,
                                                                     window))
    check(window.client_size == size, "client area %s, expected %s" % (window.client_size, size))


def expect_exit(run, window, timeout_ms):
    """The viewer ends by itself with exit code 0, its timeout after its
    window was made (the timer starts then, just before the window is shown)."""
    code, elapsed = run.exit(timeout=timeout_ms / 1000 + 20)
    check(code == 0, "exit code %d" % code)
    lifetime = elapsed - window.created
    check(elapsed >= timeout_ms and timeout_ms - 250 <= lifetime <= timeout_ms + 2000,
          "window lived %.0f ms (process %.0f ms), expected about %d ms" %
          (lifetime, elapsed, timeout_ms))


def expect_builtin_on_screen(session, window, shot):
    """The built-in picture: its light grey background and some drawing of
    other colours, all inside the client area; the desktop just around it."""
    x, y = window.client_origin
    w, h = window.client_size
    colours = {}
    for py in range(y, y + h, 2):
        for px in range(x, x + w, 2):
            c = shot.getpixel((px, py))
            colours[c] = colours.get(c, 0) + 1
    desktop = shot.getpixel((2, 2))
    grey = colours.get(LIGHT_GREY, 0)
    check(grey > w * h // 16, "built-in picture's grey background not seen: %s" %
          sorted(colours.items(), key=lambda kv: -kv[1])[:5])
    check(len(colours) >= 2, "built-in picture shows one colour only")
    check(colours.get(desktop, 0) < w * h // 8, "desktop colour shows through the picture")


def test_picture(session, name, width, height, anchor, comment=COMMENT.encode("cp932"),
                 palette=PALETTE, seed=0):
    path = os.path.join(session.work, name)
    indices = pattern_indices(width, height, seed)
    make_picture(path, comment, anchor, indices, palette)
    return path, indices


def expect_pixels(shot, window, indices, palette):
    wrong, first = picture_matches(shot, window.client_origin, indices, palette)
    if wrong:
        raise Failure("%d pixels differ from the picture; first at %s: seen %s, expected %s" %
                      (wrong, first[0], first[1], first[2]))


# --- the popup menu as drawn ------------------------------------------------


def read_menu(shot, corner):
    """Reads the popup menu drawn with its top-left corner at `corner`: for
    each text item, whether it is checked and whether it is grey. Separators
    are returned as None."""
    x0, y0 = corner
    white = shot.getpixel((x0 + 3, y0 + 3))
    right = x0 + 3
    while shot.getpixel((right + 1, y0 + 3)) == white:
        right += 1
    bottom = y0 + 3
    while shot.getpixel((x0 + 3, bottom + 1)) == white:
        bottom += 1
    check(right - x0 > 60 and bottom - y0 > 60, "no menu at %s" % (corner,))
    rows = []
    for y in range(y0 + 3, bottom):
        ink = [(x, shot.getpixel((x, y))) for x in range(x0 + 3, right - 2)
               if shot.getpixel((x, y)) != white]
        rows.append((y, ink))
    items = []
    band = []

    def close_band():
        if not band:
            return
        check_ink = [c for (_, row) in band for (x, c) in row if x < x0 + 19]
        text_ink = [c for (_, row) in band for (x, c) in row if x >= x0 + 19]
        darkest = min((sum(c) for c in text_ink), default=765)
        items.append({"checked": len(check_ink) > 3, "grey": darkest > 150,
                      "text_pixels": len(text_ink)})
        band.clear()

    for y, ink in rows:
        is_separator = len(ink) > (right - x0) // 2 and len({c for _, c in ink}) <= 2
        if is_separator:
            close_band()
            if not items or items[-1] is not None:
                items.append(None)
        elif ink:
            band.append((y, ink))
        else:
            close_band()
    close_band()
    return items


def expect_menu(shot, corner, comment_grey, seethrough, topmost, frameless):
    """`seethrough` etc. are "on", "off" or "grey"."""
    items = read_menu(shot, corner)
    check(len(items) == 7 and items[1] is None and items[5] is None,
          "menu is not five items and two separators: %s" % items)
    text = [items[i] for i in (0, 2, 3, 4, 6)]
    expected = [("grey" if comment_grey else "off"), seethrough, topmost, frameless, "off"]
    for number, (item, state) in enumerate(zip(text, expected)):
        check(item["text_pixels"] > 40, "item %d has no text: %s" % (number, items))
        check(item["checked"] == (state == "on"), "item %d check mark wrong: %s" % (number, items))
        check(item["grey"] == (state == "grey"), "item %d grey state wrong: %s" % (number, items))


def open_menu(session, point, shot_name=None):
    session.xdotool("mousemove", point[0], point[1])
    time.sleep(0.2)
    session.xdotool("click", 3)
    session.wait_for(lambda: "items=" in session.probe("menu")) if session.native else time.sleep(0.8)
    return session.screenshot(keep=keep(shot_name) if shot_name else None)


def choose(session, downs):
    """Chooses the menu item reached with `downs` presses of the Down key:
    1 comment, 2 see-through, 3 always on top, 4 frame, 5 exit."""
    if session.native:
        return session.choose(downs)  # a click where the viewer says the item is
    for _ in range(downs):
        session.xdotool("key", "Down")
        time.sleep(0.1)
    session.xdotool("key", "Return")
    time.sleep(0.8)


def inside(window, dx=10, dy=10):
    return (window.client_origin[0] + dx, window.client_origin[1] + dy)


# --- the cases --------------------------------------------------------------


def case_builtin_640(session):
    """Nothing to show: the built-in picture, centred, framed, on top, not
    activated, closing by itself after its timeout with exit code 0."""
    run = session.launch("/w15")
    window = run.wait_window()
    expect_at(window, (218, 178), BUILTIN_SIZE)
    frame_styles(window, framed=True, topmost=True)
    check(not window.foreground, "shown activated without a palette")
    fx, fy = frame_of(window)
    check(fx > 0 and fy > 0, "framed window without a frame: %r" % window)
    check(window.rect[2] - window.rect[0] == 204 + 2 * fx, "outer width is not picture + frame")
    shot = session.screenshot(keep=keep("builtin-640.png"))
    expect_builtin_on_screen(session, window, shot)
    expect_exit(run, window, 1500)
    check(session.window() is None, "window left behind")


def case_builtin_seethrough_800(session):
    """Option "tr" with the built-in picture: the see-through item is grey and
    unchecked, and the picture is drawn opaque. The comment item is grey."""
    run = session.launch("/tr", "/w0")
    window = run.wait_window()
    expect_at(window, (298, 238), BUILTIN_SIZE)
    expect_builtin_on_screen(session, window, session.screenshot())
    point = inside(window, 30, 30)
    shot = open_menu(session, point, "menu-builtin.png")
    expect_menu(shot, point, comment_grey=True, seethrough="grey", topmost="on", frameless="off")
    # A grey item cannot be chosen: the menu closes and nothing changes.
    choose(session, 2)
    session.xdotool("key", "Escape")
    time.sleep(0.5)
    shot = open_menu(session, point)
    expect_menu(shot, point, comment_grey=True, seethrough="grey", topmost="on", frameless="off")
    choose(session, 5)
    code, _ = run.exit(timeout=10)
    check(code == 0, "exit code %d after the exit item" % code)


def case_picture_frameless_1024(session):
    """A picture file at a known anchor: placed by the scaled anchor, exactly
    its pixels, without frame (/nof) and not on top (/noto). Without a
    readable picture, the built-in one in the middle of the screen."""
    path, indices = test_picture(session, "a.vld", 101, 60, (100, 50))
    run = session.launch("/nof", "/noto", "/w20", '"%s"' % windows_path(path))
    window = run.wait_window()
    corner = (place(1024, 100, 101, 768), place(768, 50, 60, 512))
    check(corner == (150, 90), "placement arithmetic of the test itself")
    expect_at(window, corner, (101, 60))
    check(window.client_origin == corner, "frameless window with a frame: %r" % window)
    frame_styles(window, framed=False, topmost=False)
    expect_pixels(session.screenshot(keep=keep("picture-1024.png")), window, indices, PALETTE)
    expect_exit(run, window, 2000)
    # A name that does not exist, and a file that is no picture: the built-in
    # picture, centred, with the frame and on top again.
    broken = os.path.join(session.work, "broken.vld")
    with open(broken, "wb") as f:
        f.write(b"HK04\x1a\x02" + bytes(40))
    for name in ("missing.vld", broken):
        run = session.launch("/w10", '"%s"' % windows_path(os.path.join(session.work, name)))
        window = run.wait_window()
        expect_at(window, (410, 322), BUILTIN_SIZE)
        frame_styles(window, framed=True, topmost=True)
        expect_builtin_on_screen(session, window, session.screenshot())
        expect_exit(run, window, 1000)


def case_position_and_timeout_640(session):
    """Option "l" puts the window where it says; a picture that would leave
    the screen is kept on it; "/w0" given last keeps the window open."""
    path, indices = test_picture(session, "b.vld", 120, 44, (700, 10), seed=1)
    # A picture whose scaled place runs off the right edge is moved back;
    # without a frame it then ends exactly at the edge.
    run = session.launch("/nof", "/w10", windows_path(path))
    window = run.wait_window()
    check(place(640, 700, 120, 768) == 520, "placement arithmetic of the test itself")
    expect_at(window, (520, place(480, 10, 44, 512)), (120, 44))
    expect_pixels(session.screenshot(), window, indices, PALETTE)
    expect_exit(run, window, 1000)
    # The given corner is used as it is, even near the far edge.
    run = session.launch("/l30,40", "/w10", windows_path(path))
    window = run.wait_window()
    expect_at(window, (30, 40), (120, 44))
    expect_exit(run, window, 1000)
    if session.setup in ("wine", "bare"):  # a window manager keeps it mostly on the screen
        run = session.launch("/l639,479", "/w10", windows_path(path))
        window = run.wait_window()
        expect_at(window, (639, 479), (120, 44))
        expect_exit(run, window, 1000)
    # A corner off the screen is not taken.
    run = session.launch("/l640,40", "/w10", windows_path(path))
    window = run.wait_window()
    expect_at(window, (520, place(480, 10, 44, 512)), (120, 44))
    expect_exit(run, window, 1000)
    # "/w0" after "/w10": no timer at all.
    run = session.launch("/w10", "/w0", windows_path(path))
    window = run.wait_window()
    time.sleep(3)
    check(run.running() and session.window() is not None, "/w0 window closed by itself")
    # Shift + right click closes at once, with exit code 0.
    session.xdotool("mousemove", *inside(window))
    time.sleep(0.2)
    started = time.time()
    session.xdotool("keydown", "shift", "click", 3, "keyup", "shift")
    code, _ = run.exit(timeout=10)
    check(code == 0, "exit code %d after shift + right click" % code)
    check(time.time() - started < 5, "shift + right click did not close at once")


def expect_later_window(session, window, indices, covers):
    """A later, activated window covers the viewer exactly when it is not on top."""
    if session.setup != "composite":
        return
    path, later = test_picture(session, "later.vld", 140, 120, (0, 0), seed=7)
    x, y = window.rect[:2]
    run = session.launch("/nof", "/noto", "/a", "/l%d,%d" % (x - 20, y - 20), "/w0", path)
    shown = run.wait_window()
    time.sleep(0.3)
    expect_pixels(session.screenshot(keep=keep("ontop-%d.png" % (not covers))),
                  *((shown, later) if covers else (window, indices)), PALETTE)
    run.process.kill()
    run.process.wait()


def case_menu_commands_1024(session):
    """Every menu item does what it says; opening the menu stops the
    auto-close for good; the frame switch keeps the outer corner."""
    path, indices = test_picture(session, "c.vld", 96, 64, (500, 300), seed=2)
    run = session.launch("/w50", windows_path(path))
    window = run.wait_window()
    frame_styles(window, framed=True, topmost=True)
    shot = open_menu(session, inside(window), "menu-picture.png")
    expect_menu(shot, inside(window), comment_grey=False, seethrough="off", topmost="on",
                frameless="off")
    session.xdotool("key", "Escape")
    time.sleep(5.5)
    check(run.running(), "auto-close not stopped by opening the menu")

    # Always on top, off and on again, at the same place.
    open_menu(session, inside(window))
    choose(session, 3)
    now = session.window()
    frame_styles(now, framed=True, topmost=False)
    check(now.rect == window.rect, "window moved by the always-on-top switch")
    expect_later_window(session, window, indices, covers=True)
    shot = open_menu(session, inside(window))
    expect_menu(shot, inside(window), comment_grey=False, seethrough="off", topmost="off",
                frameless="off")
    choose(session, 3)
    frame_styles(session.window(), framed=True, topmost=True)
    expect_later_window(session, window, indices, covers=False)

    # The comment, in Japanese, in a box captioned with the title.
    open_menu(session, inside(window))
    choose(session, 1)
    box = session.probe("find", "#32770")
    check("title=Velinde for Win" in box and ("text=" + COMMENT) in box,
          "comment box shows %r" % box)
    session.screenshot(keep=keep("comment.png"))
    session.xdotool("key", "Return")
    time.sleep(0.5)
    check(session.probe("find", "#32770").startswith("none"), "comment box still open")

    # See-through on: the picture's colours stay, the item is checked.
    open_menu(session, inside(window))
    choose(session, 2)
    shot = session.screenshot(keep=keep("seethrough.png"))
    colours = [grbi_to_rgb(w) for w in PALETTE]
    x0, y0 = window.client_origin
    for y, row in enumerate(indices):
        for x, index in enumerate(row):
            if index:
                check(shot.getpixel((x0 + x, y0 + y)) == colours[index],
                      "see-through changed a picture pixel at %d,%d" % (x, y))
            elif session.native:  # the desktop shows, as in the screen's corner
                check(shot.getpixel((x0 + x, y0 + y)) == shot.getpixel((2, 2)),
                      "see-through pixel at %d,%d hides the desktop" % (x, y))
    # A compositor lets a see-through pixel take the click; without one it goes
    # below (the README says so), so the picture's middle then.
    point = inside(window, *((1, 1) if session.setup == "composite" else (48, 32)))
    shot = open_menu(session, point)
    expect_menu(shot, point, comment_grey=False, seethrough="on", topmost="on",
                frameless="off")
    choose(session, 2)

    # No frame: a new window at the same outer corner; the picture moves by
    # the frame's thickness. Frame again: back where it was.
    fx, fy = frame_of(window)
    open_menu(session, inside(window))
    choose(session, 4)
    frameless = session.wait_for(lambda: session.window(), what="re-created window")
    frame_styles(frameless, framed=False, topmost=True)
    check(frameless.rect[:2] == window.rect[:2], "frameless window not at the old corner")
    check(frameless.client_origin == (window.client_origin[0] - fx, window.client_origin[1] - fy),
          "picture did not move by the frame")
    expect_pixels(session.screenshot(), frameless, indices, PALETTE)
    open_menu(session, inside(frameless))
    choose(session, 4)
    framed = session.wait_for(lambda: session.window(), what="re-created window")
    frame_styles(framed, framed=True, topmost=True)
    check(framed.rect == window.rect and framed.client_origin == window.client_origin,
          "framed again but not where it was: %r vs %r" % (framed, window))
    expect_pixels(session.screenshot(), framed, indices, PALETTE)
    check(run.running(), "re-created window closed by itself")

    # Exit.
    open_menu(session, inside(framed))
    choose(session, 5)
    code, _ = run.exit(timeout=10)
    check(code == 0, "exit code %d after the exit item" % code)


def case_drag_and_shift_800(session):
    """Dragging from any point, frame included, moves the window."""
    path, indices = test_picture(session, "d.vld", 80, 50, (300, 200), seed=3)
    run = session.launch("/w0", windows_path(path))
    window = run.wait_window()
    session.drag(inside(window, 5, 5), (200, 150), steps=20)
    moved = session.window()
    check(moved.rect[:2] == (window.rect[0] + 200, window.rect[1] + 150),
          "drag moved the window from %s to %s" % (window.rect[:2], moved.rect[:2]))
    expect_pixels(session.screenshot(), moved, indices, PALETTE)
    # From the frame itself.
    session.drag((moved.rect[0] + 1, moved.rect[1] + 1), (-100, 30))
    again = session.window()
    check(again.rect[:2] == (moved.rect[0] - 100, moved.rect[1] + 30),
          "drag by the frame moved the window from %s to %s" % (moved.rect[:2], again.rect[:2]))
    session.xdotool("mousemove", *inside(again))
    time.sleep(0.2)
    session.xdotool("keydown", "shift", "click", 3, "keyup", "shift")
    code, _ = run.exit(timeout=10)
    check(code == 0, "exit code %d" % code)


def case_palette_8bit(session):
    """On an 8-bit palette display a picture brings its palette: the window is
    activated when shown and the picture keeps its own colours."""
    # Colours among the display's static ones: Wine 8 on an 8-bit X display
    # shows others as black however the palette is realized (see README).
    palette = [0x0000, 0xF800, 0x07C0, 0x003E]
    path, indices = test_picture(session, "e.vld", 64, 40, (352, 236), palette=palette, seed=4)
    run = session.launch("/w20", windows_path(path))
    window = run.wait_window()
    expect_at(window, (place(800, 352, 64, 768), place(600, 236, 40, 512)), (64, 40))
    check(window.foreground, "not activated although the picture has a palette: %r" % window)
    expect_pixels(session.screenshot(keep=keep("palette-8bit.png")), window, indices, palette)
    expect_exit(run, window, 2000)
    # Never activated with "/noa".
    run = session.launch("/noa", "/w10", windows_path(path))
    window = run.wait_window()
    check(not window.foreground, "activated despite /noa")
    expect_exit(run, window, 1000)


def case_words(session):
    """A file named "-reverse" (Qt's own option otherwise) and an absolute path
    are names beside options; nothing written, and without a display one line."""
    path, indices = test_picture(session, "abs.vld", 64, 48, (100, 100), seed=8)
    folder = os.path.join(session.work, "words")
    os.makedirs(folder)
    make_picture(os.path.join(folder, "-reverse"), b"", (600, 400), indices, PALETTE)
    for words, (x, y) in ((("/nof", "/w10", path), (100, 100)),
                          (("-reverse", "-nof", "-w10"), (600, 400))):
        run = session.launch(*words, directory=folder)
        window = run.wait_window()
        expect_at(window, (place(800, x, 64, 768), place(600, y, 48, 512)), (64, 48))
        expect_pixels(session.screenshot(), window, indices, PALETTE)
        expect_exit(run, window, 1000)
    env = {k: v for k, v in session.env().items() if k != "XDG_RUNTIME_DIR"}  # Qt would say so
    for status in (0, 1):  # the second without a display
        run = subprocess.run([session.viewer, "/w1", path], env=env, capture_output=True,
                             text=True, timeout=30)
        check((run.returncode, run.stdout, len(run.stderr.splitlines())) == (status, "", status)
              and ("display" in run.stderr) == bool(status), "%r" % run)
        env.pop("DISPLAY", None)


# Each case: screen size and depth, the function, and where it runs: "wine"
# (velinde.exe), the native viewer with no window manager ("bare"), under
# "openbox", or under openbox and xcompmgr ("composite").
CASES = {
    "builtin_640": (640, 480, 24, case_builtin_640, "wine bare openbox composite"),
    "builtin_seethrough_800": (800, 600, 24, case_builtin_seethrough_800, "wine bare"),
    "picture_frameless_1024": (1024, 768, 24, case_picture_frameless_1024, "wine bare openbox composite"),
    "position_and_timeout_640": (640, 480, 24, case_position_and_timeout_640, "wine bare openbox"),
    "menu_commands_1024": (1024, 768, 24, case_menu_commands_1024, "wine bare composite"),
    "drag_and_shift_800": (800, 600, 24, case_drag_and_shift_800, "wine bare openbox"),
    "palette_8bit": (800, 600, 8, case_palette_8bit, "wine"),
    "words": (800, 600, 24, case_words, "bare"),
}
TESTS = {(name if setup == "wine" else "native_%s_%s" % (setup, name)): (name, setup)
         for name, entry in CASES.items() for setup in entry[4].split()}


def main():
    global KEEP
    if sys.argv[1] == "--list":  # for CMake: the tests of the Windows or the native build
        windows = sys.argv[2] == "Windows"
        return print(";".join(t for t in TESTS if (TESTS[t][1] == "wine") == windows))
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(TESTS))
    parser.add_argument("--build", required=True)
    parser.add_argument("--keep")
    options = parser.parse_args()
    KEEP = options.keep
    name, setup = TESTS[options.case]
    width, height, depth, case, _ = CASES[name]
    started = time.time()
    try:
        with (Session(options.build, width, height, depth) if setup == "wine" else
              NativeSession(options.build, width, height, depth, setup)) as session:
            case(session)
    except Failure as failure:
        print("FAIL %s: %s" % (options.case, failure))
        return 1
    print("ok %s (%.1f s)" % (options.case, time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
