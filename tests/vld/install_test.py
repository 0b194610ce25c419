"""The library as an outside programmer meets it: installed with cmake
--install into a private prefix, the README's example built with pkg-config,
and a C-only CMake project built with find_package. Both decode the pictures
exactly as vldtool decode does, refuse cut files, and reduce plus encode an
RGBA image to the very bytes vldtool encode writes for it.

    install_test.py BUILD SOURCE [--alone]

With --alone the library is first configured, built and installed by itself
from SOURCE, as a packager would, with every other dependency hidden (the
compiler, CMake and make alone on the PATH); the same C project then also
takes the sources in with FetchContent."""
import itertools
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

build, source = sys.argv[1], os.path.abspath(sys.argv[2])
alone = sys.argv[3:] == ["--alone"]
vldtool = os.path.join(build, "bin", "vldtool")
samples = os.path.join(source, "samples")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def must(args, **kw):
    r = run(args, **kw)
    if r.returncode != 0:
        sys.exit("%s failed (%d):\n%s%s" % (" ".join(args), r.returncode, r.stdout, r.stderr))
    return r


work = tempfile.mkdtemp(prefix="vld-install-")
library_build = build
if alone:
    tools = os.path.join(work, "tools")
    os.mkdir(tools)
    for tool in "cmake make cc c++ gcc g++ as ld ar ranlib".split():
        os.symlink(shutil.which(tool), os.path.join(tools, tool))
    hidden = "GTest benchmark PNG GIF JPEG ZLIB PkgConfig Qt6 Python Python3".split()
    library_build = os.path.join(work, "alone")
    must(["cmake", "-S", source, "-B", library_build, "-DBUILD_TESTING=OFF",
          "-DVLD_BUILD_TOOLS=OFF", "-DVLD_BUILD_PLUGINS=OFF", "-DVLD_BUILD_VIEWER=OFF"] +
         ["-DCMAKE_DISABLE_FIND_PACKAGE_%s=ON" % name for name in hidden],
         env=dict(os.environ, PATH=tools))
    must(["cmake", "--build", library_build, "-j2"], env=dict(os.environ, PATH=tools))
    cache = open(os.path.join(library_build, "CMakeCache.txt")).read()
    looked_for = re.findall(r"^(?!CMAKE_DISABLE)(\w*(?:PKG_CONFIG|HELP2MAN|PYTHON|GTest|GTEST|"
                            r"benchmark|Qt6|PNG|GIF|JPEG|GOOGLETEST)\w*):", cache, re.M)
    check(not looked_for, "the library alone looks for nothing else: %s" % looked_for)
    # Left to itself the build skips each part whose dependency is missing,
    # saying so; a part asked for makes it an error.
    for asked, fails, says in [([], False, "Skipping VLD_BUILD_TOOLS: not found: PNG, GIF, JPEG"),
                               (["-DVLD_BUILD_TOOLS=ON"], True,
                                "VLD_BUILD_TOOLS=ON, but not found: PNG, GIF, JPEG")]:
        r = run(["cmake", "-S", source, "-B", os.path.join(work, "parts")] + asked +
                ["-DCMAKE_DISABLE_FIND_PACKAGE_%s=ON" % name for name in hidden],
                env=dict(os.environ, PATH=tools))
        check((r.returncode != 0) == fails and says in r.stdout + r.stderr,
              "configured with %s: %s" % (asked or "defaults", says))
# Installed in one place and then moved: nothing may point back.
must(["cmake", "--install", library_build, "--prefix", os.path.join(work, "installed")])
prefix = os.path.join(work, "moved")
os.rename(os.path.join(work, "installed"), prefix)
libdir = os.path.join(prefix, "lib")
env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"),
           LD_LIBRARY_PATH=libdir)

# Only the interface's names leave the shared library.
symbols = must(["nm", "-D", "--defined-only", os.path.join(libdir, "libvld.so.1")]).stdout.split()
names = [s for s in symbols[2::3] if s != "VLD_1"]
check(names and all(n.startswith("vld_") for n in names),
      "libvld.so.1 exports only vld_* names: %s" % [n for n in names if not n.startswith("vld_")])

# Nothing in the library waits for static initialisation (see VLD_CLIENT_EARLY).
archive = must(["objdump", "-h", os.path.join(libdir, "libvld.a")]).stdout
check(".init_array" not in archive, "libvld.a has no static constructors")

# The README's example, as its reader would build it.
readme = open(os.path.join(source, "README.md"), encoding="utf-8").read()
example = re.search(r"## The vld library.*?```c\n(.*?)```", readme, re.S).group(1)
with open(os.path.join(work, "size.c"), "w") as f:
    f.write(example)
flags = must(["pkg-config", "--cflags", "--libs", "vld"], env=env).stdout.split()
must(["cc", "-std=c99", "-pedantic", "-Wall", "-Werror", "size.c", *flags, "-o", "size"],
     cwd=work, env=env)
r = run([os.path.join(work, "size"), os.path.join(samples, "sakura.vld")], env=env)
check(r.returncode == 0 and r.stdout == "220x150\n", "README example prints sakura's size")

# The outside project, C only, through the CMake package, and with --alone
# also through FetchContent.
clients = []
for how, option in [("find_package", "-DCMAKE_PREFIX_PATH=" + prefix),
                    ("FetchContent", "-DVLD_SOURCE=" + source)][:2 if alone else 1]:
    client_build = os.path.join(work, "client-" + how)
    must(["cmake", "-S", os.path.join(source, "tests", "vld", "client"), "-B", client_build,
          option])
    must(["cmake", "--build", client_build, "-j2"])
    # The FetchContent build's own library, not the installed one.
    clients.append((how, os.path.join(client_build, "client"),
                    os.path.join(client_build, "client_static"),
                    env if how == "find_package" else os.environ))

for (how, client, client_static, client_env), name in itertools.product(clients, sorted(os.listdir(samples))):
    if not name.endswith((".vld", ".tft")):
        continue
    path = os.path.join(samples, name)
    png = os.path.join(work, name + ".png")
    must([vldtool, "decode", path, "-o", png])
    expected = Image.open(png)
    pgm = os.path.join(work, name + ".pgm")
    r = run([client, "decode", path, pgm], env=client_env)
    words = expected.text["Palette"].replace("0x", "").upper().split(",")
    anchor = expected.text["Anchor"]
    same = (r.returncode == 0 and open(pgm, "rb").read().split(b"\n3\n", 1)[1] ==
            expected.tobytes() and "anchor %s palette 0x%s" % (anchor, ",0x".join(words))
            in r.stdout)
    check(same, "client (%s) decodes %s as vldtool decode does" % (how, name))
    r = run([client_static, "decode", path, pgm], env=dict(client_env, VLD_CLIENT_EARLY=path))
    check(r.returncode == 0, "a static client (%s) decodes %s before main as in main" %
          (how, name))
    # Every cut of the file is refused, with the decoder's reason.
    data = open(path, "rb").read()
    cut = os.path.join(work, "cut.vld")
    refused = True
    for end in sorted({0, 3, 4, 10, len(data) // 2, len(data) - 1}):
        open(cut, "wb").write(data[:end])
        r = run([client, "decode", cut, pgm], env=client_env)
        refused = refused and r.returncode not in (0, 100, 101) and r.stdout.startswith("error ")
    check(refused, "client (%s) refuses cut copies of %s" % (how, name))

# Noisy gradients with a see-through corner: enough colours that both
# programs must really choose, and dither.
rng = random.Random(7)
for (how, client, _, client_env), (width, height, dither) in itertools.product(
        clients, [(97, 61, "none"), (64, 40, "floyd-steinberg"), (33, 70, "ordered")]):
    image = Image.new("RGBA", (width, height))
    image.putdata([(min(255, x * 4 + rng.randrange(30)), min(255, y * 3 + rng.randrange(30)),
                    (x * y) % 256, 0 if x + y < 10 else 255)
                   for y in range(height) for x in range(width)])
    png = os.path.join(work, "in.png")
    image.save(png)
    raw = os.path.join(work, "in.rgba")
    open(raw, "wb").write(image.tobytes())
    mine, theirs = os.path.join(work, "client.vld"), os.path.join(work, "tool.vld")
    must([vldtool, "encode", png, "-o", theirs, "--dither", dither])
    r = run([client, "encode", raw, str(width), str(height), dither, mine], env=client_env)
    check(r.returncode == 0 and open(mine, "rb").read() == open(theirs, "rb").read(),
          "vld_reduce + vld_encode (%s) give vldtool encode's bytes (%dx%d, %s)" %
          (how, width, height, dither))

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
