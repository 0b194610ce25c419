#!/usr/bin/python3
"""vldtool's files as a user meets them: where outputs go, how much is read,
how numbers and text are taken, and JSON read back by a real parser.

usage: vldtool_files_test.py VLDTOOL [unittest arguments, e.g. a class name]
"""
import json
import os
import pty
import resource
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import zlib

TOOL = ""

# An 8x2 picture: comment "abc", anchor 100,50, a literal row and a repeat.
EXAMPLE = bytes([0x48, 0x4B, 0x30, 0x33, 0x61, 0x62, 0x63, 0x1A, 0x02, 0x00,
                 0x64, 0x00, 0x32, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0xF8,
                 0x00, 0x07, 0xC0, 0x00, 0x3E, 0x00, 0xF0, 0xCC, 0xC0])
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def picture_with_comment(comment):
    return b"HK03" + comment + EXAMPLE[7:]


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def rgb_png_header_only(width, height):
    """A PNG that declares its size and holds almost no pixels."""
    return (PNG_SIGNATURE + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(b"\0" * 64)) + png_chunk(b"IEND", b""))


def run(args, cwd=None, stdin=None, stdout=subprocess.PIPE, memory=2 << 30, timeout=20):
    """Runs vldtool with a memory ceiling, so a runaway read fails fast."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
    return subprocess.run([TOOL] + args, cwd=cwd, stdin=stdin, stdout=stdout,
                          stderr=subprocess.PIPE, timeout=timeout, preexec_fn=limit)


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory()
        self.dir = self.temp.name
        self.write("ex.vld", EXAMPLE)

    def tearDown(self):
        self.temp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def assertFailsInOneLine(self, result, words):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
        self.assertIn(words.encode(), result.stderr)


class OutputTargets(ToolTest):
    def test_links_fifos_and_standard_output_are_written_not_replaced(self):
        os.symlink("real.png", self.path("link.png"))
        os.mkfifo(self.path("fifo"))
        received = []
        reader = threading.Thread(target=lambda: received.append(self.read("fifo")), daemon=True)
        reader.start()
        for target in ["link.png", "fifo"]:
            self.assertEqual(run(["decode", "ex.vld", "-o", target], cwd=self.dir).returncode, 0)
        reader.join(10)
        piped = run(["decode", "ex.vld", "-o", "-"], cwd=self.dir)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertTrue(piped.stdout.startswith(PNG_SIGNATURE))
        self.assertTrue(os.path.islink(self.path("link.png")))
        self.assertEqual(self.read("real.png"), piped.stdout)
        self.assertTrue(stat.S_ISFIFO(os.stat(self.path("fifo")).st_mode))
        self.assertEqual(received, [piped.stdout])
        self.assertFalse(os.path.exists(self.path("-")))

    def test_devices_in_a_private_mount_namespace(self):
        script = """
            mount -t tmpfs none "$1" || exit 99
            mknod "$1/null" c 1 3 && mknod "$1/full" c 1 7 || exit 99
            for d in null full; do
              "$2" decode "$3" -o "$1/$d"; echo "$d $? $(stat -c %F "$1/$d")"
            done"""
        os.mkdir(self.path("dev"))
        result = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", self.path("dev"), TOOL,
                                 self.path("ex.vld")], capture_output=True, timeout=30)
        if result.returncode == 99 or b"unshare" in result.stderr:
            self.skipTest("no private mount namespace here: " + result.stderr.decode())
        self.assertEqual(result.stdout.decode().splitlines(),
                         ["null 0 character special file", "full 1 character special file"])
        self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
        self.assertIn(b"No space left on device", result.stderr)

    def test_a_regular_file_is_replaced_safely(self):
        # A symlink planted where the temporary file used to be predictable.
        self.write("victim", b"keep")
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(write_end)
            os.read(read_end, 1)
            os.chdir(self.dir)
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 2)
            os.execv(TOOL, [TOOL, "decode", "ex.vld", "-o", "out.png"])
        os.close(read_end)
        os.symlink(self.path("victim"), self.path("out.png.tmp%d" % pid))
        os.write(write_end, b"x")
        os.close(write_end)
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        self.assertEqual(self.read("victim"), b"keep")
        self.assertFalse(os.path.islink(self.path("out.png")))

        self.write("kept.png", b"old")
        os.chmod(self.path("kept.png"), 0o640)
        long_name = "n" * 250 + ".png"
        before = sorted(os.listdir(self.dir))
        for target in ["kept.png", long_name]:
            result = run(["decode", "ex.vld", "-o", target], cwd=self.dir)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(self.read(target).startswith(PNG_SIGNATURE))
        self.assertEqual(stat.S_IMODE(os.stat(self.path("kept.png")).st_mode), 0o640)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(before + [long_name]))

    def test_an_output_that_is_an_input_is_refused(self):
        run(["decode", "ex.vld", "-o", "x.png"], cwd=self.dir)
        os.symlink("ex.vld", self.path("alias.vld"))
        cases = [
            (["decode", "ex.vld", "-o", "ex.vld"], None),
            (["decode", "ex.vld", "-o", "alias.vld"], None),
            (["decode", "-", "-o", "ex.vld"], "ex.vld"),
            (["encode", "x.png", "-o", "x.png"], None),
        ]
        for args, stdin in cases:
            with self.subTest(args=args):
                before = self.read("ex.vld"), self.read("x.png")
                with open(self.path(stdin or "ex.vld"), "rb") as source:
                    result = run(args, cwd=self.dir, stdin=source)
                self.assertFailsInOneLine(result, "is the input file")
                self.assertEqual((self.read("ex.vld"), self.read("x.png")), before)


class BoundedInputs(ToolTest):
    def sparse(self, name, size):
        self.write(name, EXAMPLE)
        os.truncate(self.path(name), size)

    def test_info_refuses_what_the_viewer_would_not_read(self):
        os.mkfifo(self.path("fifo"))
        self.sparse("300mb.vld", 300 * 1000 * 1000)
        self.sparse("256mib.vld", 256 << 20)
        self.sparse("4gib.vld", 4 << 30)
        cases = [("fifo", "regular file"), (".", "directory"), ("/dev/zero", "regular file"),
                 ("300mb.vld", "too large"), ("256mib.vld", "too large"), ("4gib.vld", "too large")]
        for name, words in cases:
            with self.subTest(name=name):
                self.assertFailsInOneLine(run(["info", name], cwd=self.dir, timeout=10), words)
        self.sparse("under.vld", (256 << 20) - 1)
        self.assertEqual(run(["info", "under.vld"], cwd=self.dir, timeout=30).returncode, 0)

    def test_standard_input(self):
        with open(self.path("ex.vld"), "rb") as source:
            result = run(["info", "-"], stdin=source)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"size: 8x2", result.stdout)

    def test_running_out_of_memory_is_one_line(self):
        self.write("big.png", rgb_png_header_only(16000, 16000))
        result = run(["encode", "big.png", "-o", "out.vld"], cwd=self.dir, memory=400 << 20)
        self.assertFailsInOneLine(result, "out of memory")
        self.assertFalse(os.path.exists(self.path("out.vld")))

    def test_output_errors_are_errors(self):
        for args in [["info", "ex.vld"], ["info", "--json", "ex.vld"], ["explain", "x"],
                     ["decode", "ex.vld", "-o", "-"], ["--version"]]:
            with self.subTest(args=args), open("/dev/full", "wb") as full:
                self.assertFailsInOneLine(run(args, cwd=self.dir, stdout=full), "No space left")


class OptionNumbers(ToolTest):
    def anchor_of(self, value):
        result = run(["encode", "x.png", "-o", "out.vld", "--anchor", value], cwd=self.dir)
        if result.returncode != 0:
            return None
        info = json.loads(run(["info", "--json", "out.vld"], cwd=self.dir).stdout)
        return tuple(info[0]["anchor"])

    def test_decimal_or_hex_never_octal(self):
        run(["decode", "ex.vld", "-o", "x.png"], cwd=self.dir)
        cases = [("010,020", (10, 20)), ("08,09", (8, 9)), ("0x10,0X1f", (16, 31)),
                 ("65535,0", (65535, 0)), ("65536,0", None), ("-1,2", None), ("+1,2", None),
                 ("0x,1", None), ("1,,2", None), (" 1,2", None), ("1,2,", None)]
        for value, expected in cases:
            with self.subTest(value=value):
                self.assertEqual(self.anchor_of(value), expected)

    def test_comment_characters_code_page_932_cannot_hold_are_refused(self):
        run(["decode", "ex.vld", "-o", "x.png"], cwd=self.dir)
        for character, code in [("¥", "U+00A5"), ("〜", "U+301C"), ("¢", "U+00A2")]:
            with self.subTest(character=character):
                result = run(["encode", "x.png", "-o", "out.vld", "--comment", "a" + character],
                             cwd=self.dir)
                self.assertFailsInOneLine(result, '"%s" (%s)' % (character, code))
                self.assertFalse(os.path.exists(self.path("out.vld")))


class Json(ToolTest):
    def test_any_name_and_comment_make_valid_json(self):
        odd_name = b"\xff\xfe name \x01.vld"
        with open(os.path.join(self.dir.encode(), odd_name), "wb") as f:
            f.write(EXAMPLE)
        self.write("quotes.vld", picture_with_comment(b'say "\\hi"\t\x01'))
        self.write("bytes.vld", picture_with_comment(b"\x81\x22\x83\x65\xff"))
        result = subprocess.run([TOOL, "info", "--json", odd_name, b"quotes.vld", b"bytes.vld"],
                                cwd=self.dir, capture_output=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        files = json.loads(result.stdout.decode("utf-8"))
        self.assertEqual(files[0]["file"], "\ufffd\ufffd name \x01.vld")
        self.assertEqual(bytes.fromhex(files[0]["file_bytes"]), odd_name)
        self.assertEqual(files[1]["comment"], 'say "\\hi"\t\x01')
        self.assertNotIn("comment_bytes", files[1])
        self.assertNotIn("file_bytes", files[1])
        self.assertEqual(files[2]["comment"], '\ufffd"テ\ufffd')
        self.assertEqual(files[2]["comment_bytes"], "81228365ff")


class CommandLine(ToolTest):
    def test_version_help_and_output_spellings(self):
        version = run(["--version"])
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout.decode(), r"^vldtool \d+\.\d+\.\d+\n$")
        for args in [["help", "decode"], ["decode", "--help"]]:
            with self.subTest(args=args):
                self.assertTrue(run(args).stdout.startswith(b"usage: vldtool decode"))
        self.assertEqual(run(["decode", "ex.vld", "--output=o.png"], cwd=self.dir).returncode, 0)
        self.assertTrue(self.read("o.png").startswith(PNG_SIGNATURE))

    def test_many_files_into_a_folder(self):
        os.mkdir(self.path("a"))
        os.mkdir(self.path("b"))
        self.write("a/one.vld", EXAMPLE)
        self.write("bad.vld", b"nope")
        result = run(["decode", "ex.vld", "bad.vld", "missing.vld", "a/one.vld", "-d", "a"],
                     cwd=self.dir)
        self.assertEqual(result.returncode, 1)
        lines = result.stderr.decode().splitlines()
        self.assertEqual(len(lines), 2, lines)
        self.assertIn("bad.vld: bad magic", lines[0])
        self.assertIn("missing.vld", lines[1])
        self.assertEqual(sorted(os.listdir(self.path("a"))), ["ex.png", "one.png", "one.vld"])
        result = run(["encode", "a/ex.png", "a/one.png", "-d", "b", "--anchor", "1,2"],
                     cwd=self.dir)
        self.assertEqual(result.returncode, 0)
        # One summary line for each picture written.
        lines = result.stderr.decode().splitlines()
        self.assertEqual([line.split(":")[2] for line in lines], [" b/ex.vld", " b/one.vld"], lines)
        self.assertEqual(sorted(os.listdir(self.path("b"))), ["ex.vld", "one.vld"])
        for folder, reason in (("nowhere", "no such folder"), ("ex.vld", "not a folder")):
            result = run(["decode", "ex.vld", "-d", folder], cwd=self.dir)
            self.assertEqual((result.returncode, reason in result.stderr.decode()), (1, True))

    def test_progress_only_on_a_terminal(self):
        os.mkdir(self.path("d"))
        main, side = pty.openpty()
        process = subprocess.Popen([TOOL, "decode", "ex.vld", "ex.vld", "-d", "d"], cwd=self.dir,
                                   stderr=side, stdout=subprocess.DEVNULL)
        os.close(side)
        process.wait(20)
        output = b""
        try:
            while True:
                chunk = os.read(main, 4096)
                if not chunk:
                    break
                output += chunk
        except OSError:
            pass
        os.close(main)
        self.assertIn(b"[1/2] ex.vld", output)
        self.assertIn(b"[2/2] ex.vld", output)


class Explain(ToolTest):
    def explain(self, text, cwd):
        return run(["explain", "--seed", "1", "--", text], cwd=cwd)

    def test_an_option_that_names_a_folder_is_warned_about(self):
        quiet = self.explain("/tr", cwd=self.dir)
        warned = self.explain("/tr " + self.dir, cwd=self.dir)
        self.assertEqual(warned.stdout, quiet.stdout)
        self.assertEqual(quiet.stderr, b"")
        self.assertEqual(warned.stderr.count(b"\n"), 1)
        self.assertIn(b'"%s"' % self.dir.encode(), warned.stderr)

    def test_named_folders_from_a_long_working_directory(self):
        deep = self.dir
        while len(deep) <= 300:
            deep = os.path.join(deep, "d" * 50)
        os.makedirs(deep)
        result = self.explain('"%s"' % self.dir, cwd=deep)
        self.assertIn(b"candidate=%s\n" % self.path("ex.vld").encode(), result.stdout)


if __name__ == "__main__":
    TOOL = os.path.realpath(sys.argv.pop(1))
    unittest.main()
