"""End-to-end runs of the real updater binary in a temporary program directory.

Run through tests/peers/with-peers.sh (nginx on loopback):
  update_run_test.py --updater PATH --standin PATH --domain NAME [--emulator WINE-RUNNER]
                     [--signed-updater PATH --secret-key MINISIGN-KEY [--answer-box PATH]]
With --emulator (the Windows build under wine) only the whole download run and
the signed runs are made: the other cases read the POSIX dialog's output. The
signed runs use an updater built with the public key of MINISIGN-KEY and sign
their packages with minisign as they go.
"""
import argparse
import atexit
import os
import pty
import re
import select
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import MESSAGE_1, MESSAGE_2, ProgramDir, Server, read_request, wait_until  # noqa: E402

UPDATER = STANDIN = SIGNED_UPDATER = SECRET_KEY = ANSWER_BOX = None
EMULATOR = []
DOMAIN = None  # the vendor domain the updater under test was built with
UPDATE_FILES = {
    "korvanta-data.txt": "version 2\n",
    "sub/old.txt": "replaced\n",
    "newdir/deeper/file.txt": "created below a new directory\n",
    "readonly.txt": "read-only item\n",
}


def make_update_zip(path, files, read_only=()):
    """Builds an update archive with Info-ZIP zip from a staging tree."""
    with tempfile.TemporaryDirectory(prefix="updater-stage-") as stage:
        for name, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(stage, name)), exist_ok=True)
            with open(os.path.join(stage, name), "w") as f:
                f.write(content)
        for name in read_only:
            os.chmod(os.path.join(stage, name), 0o444)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["zip", "-q", "-r", path, "."], cwd=stage, check=True)


class PtyRun:
    """The updater in a pseudo-terminal, so it draws its dialog and reads keys."""

    def __init__(self, program, *args):
        # Without a display the page is named on the terminal, not opened.
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(UPDATER_UI="terminal", TERM="xterm")
        self.master, slave = pty.openpty()
        self.proc = subprocess.Popen([program.join("updater"), *args], stdin=slave, stdout=slave,
                                     stderr=slave, env=env, close_fds=True)
        os.close(slave)
        self.output = b""

    def read_until(self, pattern, timeout):
        """Reads until the output matches the regular expression `pattern`."""
        found = lambda: re.search(pattern.encode(), self.output) is not None  # noqa: E731
        deadline = time.monotonic() + timeout
        while not found() and time.monotonic() < deadline:
            if select.select([self.master], [], [], 0.05)[0]:
                try:
                    self.output += os.read(self.master, 65536)
                except OSError:
                    break
        return found()

    def press(self, key, timeout=10):
        """Presses `key`; the exit status once the updater has ended."""
        os.write(self.master, key)
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None and time.monotonic() < deadline:
            self.read_until("\0", 0.05)  # keeps the terminal drained
        return self.proc.poll()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        os.close(self.master)


def posix_only(test):
    def run(self):
        if EMULATOR:
            self.skipTest("reads the POSIX dialog's output")
        test(self)
    run.__name__ = test.__name__
    return run


class UpdateRun(unittest.TestCase):
    def setUp(self):
        self.http_port = os.environ.get("UPDATER_TEST_HTTP_PORT")
        if not self.http_port:
            self.fail("loopback peers missing: run through tests/peers/with-peers.sh")
        self.program = ProgramDir(UPDATER, STANDIN, emulator=EMULATOR)
        self.addCleanup(self.program.remove)

    def test_download_extracts_over_the_installed_files_and_restarts_once(self):
        served = os.path.join(os.environ["UPDATER_TEST_DOCROOT"], "files", DOMAIN, "update.zip")
        make_update_zip(served, UPDATE_FILES, ("readonly.txt",))
        url = "http://127.0.0.1:%s/files/%s/update.zip" % (self.http_port, DOMAIN)
        self.program.write("korvanta-data.txt", "version 1\n")
        self.program.write("sub/old.txt", "old\n")
        self.program.write("keep.txt", "not in the update\n")

        status, err = self.program.run(url)
        self.assertEqual(status, 0, err)
        self.assertNotIn(MESSAGE_2, err)
        with open(served, "rb") as f:
            self.assertEqual(self.program.read("update.zip", "rb"), f.read())
        self.assertFalse(os.path.exists(self.program.join("update.zip.down")))
        for name, content in UPDATE_FILES.items():
            self.assertEqual(self.program.read(name), content, name)
        self.assertEqual(self.program.read("keep.txt"), "not in the update\n")
        if not EMULATOR:
            mode = os.stat(self.program.join("readonly.txt")).st_mode
            self.assertEqual(mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH), 0)
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))
        self.assertEqual(len(self.program.starts()), 1)
        self.assertIn("data=version 2", self.program.starts()[0])

        # A second run finds update.zip current and installs it again.
        zip_time = os.stat(self.program.join("update.zip")).st_mtime_ns
        self.program.write("sub/old.txt", "changed by hand\n")
        status, err = self.program.run(url)
        self.assertEqual(status, 0, err)
        self.assertEqual(os.stat(self.program.join("update.zip")).st_mtime_ns, zip_time)
        self.assertEqual(self.program.read("sub/old.txt"), "replaced\n")
        self.assertTrue(wait_until(lambda: len(self.program.starts()) == 2, 10))

    @posix_only
    def test_local_archive_installs_after_the_delay_without_any_connection(self):
        archive = self.program.join("incoming", "local.zip")
        make_update_zip(archive, {"korvanta-data.txt": "local version\n", "d/e.txt": "e\n"})
        trace = self.program.join("trace.txt")
        started = time.monotonic()
        # LeakSanitizer cannot run under ptrace; the sanitizer builds keep
        # their other checks here.
        result = subprocess.run(
            ["strace", "-f", "-qq", "-e", "trace=socket,connect", "-o", trace,
             self.program.join("updater"), archive], stdin=subprocess.DEVNULL, capture_output=True,
            timeout=60, env=dict(os.environ, UPDATER_UI="plain",
                                 ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreaterEqual(time.monotonic() - started, 2.9)
        with open(trace) as f:
            self.assertEqual([line for line in f if "AF_INET" in line], [])
        self.assertEqual(self.program.read("korvanta-data.txt"), "local version\n")
        self.assertEqual(self.program.read("d/e.txt"), "e\n")
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))

        # A path that names no archive changes nothing and still starts it.
        self.program.write("not-a-zip.txt", "plain text\n")
        before = sorted(os.listdir(self.program.path))
        status, err = self.program.run(self.program.join("not-a-zip.txt"))
        self.assertEqual(status, 0, err)
        self.assertTrue(wait_until(lambda: len(self.program.starts()) == 2, 10))
        self.assertEqual(sorted(os.listdir(self.program.path)), before)

    @posix_only
    def test_the_messages_are_shown_whole_and_nothing_is_installed(self):
        failing = "http://127.0.0.1:%s/status/503?%s" % (self.http_port, DOMAIN)
        for argument, message in (([], MESSAGE_1), ([failing], MESSAGE_2)):
            status, err = self.program.run(*argument)
            self.assertEqual(status, 0)
            self.assertIn("[提示] " + message + "\n", err)
            self.assertFalse(os.path.exists(self.program.join("update.zip")))
            self.assertEqual(self.program.starts(), [])

    @posix_only
    def test_message_one_in_the_terminal_opens_the_page_on_enter(self):
        run = PtyRun(self.program)
        self.addCleanup(run.close)
        self.assertTrue(run.read_until(r"\(Enter = OK", 10), run.output)
        self.assertIn("[提示]\n" + MESSAGE_1, run.output.decode().replace("\r\n", "\n"))
        self.assertEqual(run.press(b"\r"), 0)
        self.assertTrue(run.read_until(r"Open http://[^ ]+/update/download\.php in a browser", 5))
        self.assertEqual(self.program.starts(), [])

    @posix_only
    def test_another_domain_stays_idle_until_closed(self):
        run = PtyRun(self.program, "http://127.0.0.1:%s/files/small.txt" % self.http_port)
        self.addCleanup(run.close)
        self.assertTrue(run.read_until("链接服务器，请等待", 10), run.output)
        self.assertFalse(run.read_until("提示", 1.5))  # past the start delay nothing happens
        self.assertIsNone(run.proc.poll())
        self.assertEqual(run.press(b"\x1b"), 0)
        self.assertFalse(os.path.exists(self.program.join("update.zip.down")))

    @posix_only
    def test_closing_during_a_slow_download_ends_promptly_and_keeps_the_partial_file(self):
        body = os.urandom(400000)

        def drip(conn, index):
            request = read_request(conn)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n"
                         b"Last-Modified: Sun, 06 Nov 2022 08:49:37 GMT\r\n\r\n" % len(body))
            for i in range(0, len(body) if request.startswith(b"GET") else 0, 512):
                conn.sendall(body[i:i + 512])
                time.sleep(0.05)

        server = Server(drip)
        self.addCleanup(server.close)
        run = PtyRun(self.program, "http://127.0.0.1:%d/%s/update.zip" % (server.port, DOMAIN))
        self.addCleanup(run.close)
        self.assertTrue(run.read_until("已经下载[1-9]", 15), run.output)  # bytes have arrived
        self.assertEqual(run.press(b"\x1b"), 0)
        self.assertFalse(os.path.exists(self.program.join("update.zip")))
        partial = self.program.read("update.zip.down", "rb")
        self.assertGreater(len(partial), 0)
        self.assertLess(len(partial), len(body))
        self.assertEqual(partial, body[:len(partial)])
        self.assertEqual(self.program.starts(), [])


def read_if_there(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def sign(package, signature, key=None, *extra):
    subprocess.run(["minisign", "-S", "-s", key or SECRET_KEY, "-m", package, "-x", signature,
                    *extra], check=True, stdout=subprocess.DEVNULL)


def release(seconds):
    return ("-t", "timestamp:%d\tfile:update.zip\thashed" % seconds)


class SignedRun(unittest.TestCase):
    """An updater built with a vendor key installs only what that key signed,
    never an older release than the installed one; everything else ends in
    message 2 with nothing installed and nothing started."""

    def setUp(self):
        if not SIGNED_UPDATER:
            if os.environ.get("CI") == "true":
                self.fail("no updater built with a test key (minisign missing at configure time)")
            self.skipTest("no updater built with a test key")
        self.http_port = os.environ["UPDATER_TEST_HTTP_PORT"]
        self.docroot = os.environ["UPDATER_TEST_DOCROOT"]
        self.work = tempfile.mkdtemp(prefix="updater-signed-")
        self.addCleanup(shutil.rmtree, self.work, True)
        other = os.path.join(self.work, "other.key")
        subprocess.run(["minisign", "-G", "-W", "-s", other, "-p", other + ".pub"], check=True,
                       stdout=subprocess.DEVNULL)

        def changed_byte(package, sig):
            sign(package, sig)
            with open(package, "r+b") as f:
                f.seek(os.path.getsize(package) // 2)
                byte = f.read(1)
                f.seek(-1, os.SEEK_CUR)
                f.write(bytes([byte[0] ^ 1]))

        def cut(package, sig):
            sign(package, sig)
            with open(sig, "r+b") as f:
                f.truncate(os.path.getsize(sig) * 2 // 3)

        def newer_comment(package, sig):
            sign(package, sig)
            with open(sig, "rb") as f:
                lines = f.read().split(b"\n")
            lines[2] = b"trusted comment: timestamp:9999999999\tfile:update.zip\thashed"
            with open(sig, "wb") as f:
                f.write(b"\n".join(lines))

        def garbage(package, sig):
            with open(sig, "wb") as f:
                f.write(os.urandom(10 * 1024 * 1024))

        # name: (makes the signature, timestamp of the installed release or
        # None, installed?)
        self.cases = {
            "good": (lambda p, s: sign(p, s), None, True),
            "same release again": (lambda p, s: sign(p, s, None, *release(2000)), 2000, True),
            "one changed byte": (changed_byte, None, False),
            "another key": (lambda p, s: sign(p, s, other), None, False),
            "legacy signature": (lambda p, s: sign(p, s, None, "-l"), None, False),
            "older release": (lambda p, s: sign(p, s, None, *release(1000)), 2000, False),
            "trusted comment changed": (newer_comment, None, False),
            "no signature": (lambda p, s: None, None, False),
            "cut short": (cut, None, False),
            "10 MB of garbage": (garbage, None, False),
        }

    def run_updater(self, program, argument, refused):
        """Runs the updater; returns its exit status and the messages it showed."""
        if not EMULATOR:
            return program.run(argument)
        # Under wine message 2 is a real message box, which a helper in the
        # same wine session and on the same display reads and cancels.
        if argument.startswith("/"):
            argument = "Z:" + argument.replace("/", "\\")
        proc = subprocess.Popen([*EMULATOR, program.join(program.name), argument],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        shown = ""
        if refused:
            answer = subprocess.run([*EMULATOR, ANSWER_BOX, "60"], stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=120)
            # The helper's console stream writes each line break as CR LF.
            shown = answer.stdout.decode("gbk", "replace").replace("\r\n", "\n")
        return proc.wait(timeout=60), shown

    def prepare(self, name, package_path):
        make_signature, installed, accepted = self.cases[name]
        program = ProgramDir(SIGNED_UPDATER, STANDIN, emulator=EMULATOR,
                             name=os.path.basename(UPDATER))
        self.addCleanup(program.remove)
        program.write("korvanta-data.txt", "version 1\n")
        kept = program.join("installed-release.minisig")
        if installed is not None:
            dummy = os.path.join(self.work, "installed.zip")
            with open(dummy, "wb") as f:
                f.write(b"the installed release")
            sign(dummy, kept, None, *release(installed))
        make_update_zip(package_path, {"korvanta-data.txt": "version 2\n"})
        signature = package_path + ".minisig"
        if os.path.exists(signature):
            os.remove(signature)
        make_signature(package_path, signature)
        return program, signature, accepted, kept, read_if_there(kept)

    def check(self, name, program, result, signature, accepted, kept, kept_before):
        status, shown = result
        self.assertEqual(status, 0, name)
        if accepted:
            self.assertNotIn(MESSAGE_2, shown, name)
            self.assertEqual(program.read("korvanta-data.txt"), "version 2\n", name)
            self.assertTrue(wait_until(lambda: program.starts(), 10), name)
            self.assertIsNotNone(read_if_there(kept), name)
            self.assertEqual(read_if_there(kept), read_if_there(signature), name)
            return
        self.assertIn(MESSAGE_2, shown, name)
        self.assertEqual(program.read("korvanta-data.txt"), "version 1\n", name)
        self.assertEqual(program.starts(), [], name)
        self.assertEqual(read_if_there(kept), kept_before, name)

    def test_downloaded_packages(self):
        for name in self.cases:
            with self.subTest(name):
                case = name.replace(" ", "-")
                served = os.path.join(self.docroot, "files", DOMAIN, "signed", case, "update.zip")
                program, signature, accepted, kept, before = self.prepare(name, served)
                url = "http://127.0.0.1:%s/files/%s/signed/%s/update.zip" % (
                    self.http_port, DOMAIN, case)
                result = self.run_updater(program, url, not accepted)
                if accepted:
                    signature = program.join("update.zip.minisig")
                self.check(name, program, result, signature, accepted, kept, before)
                if not accepted:
                    left = sorted(n for n in os.listdir(program.path) if n.startswith("update.zip"))
                    self.assertEqual(left, [], name)

    def test_local_archives(self):
        for name in self.cases:
            with self.subTest(name):
                archive = os.path.join(self.work, name.replace(" ", "-"), "local.zip")
                program, signature, accepted, kept, before = self.prepare(name, archive)
                result = self.run_updater(program, archive, not accepted)
                self.check(name, program, result, signature, accepted, kept, before)
                # The user's archive and signature stay where they were.
                self.assertTrue(os.path.exists(archive), name)
                self.assertEqual(os.path.exists(signature), name != "no signature", name)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--emulator")
    parser.add_argument("--domain", required=True)
    parser.add_argument("--signed-updater")
    parser.add_argument("--secret-key")
    parser.add_argument("--answer-box")
    args, rest = parser.parse_known_args()
    DOMAIN = args.domain
    UPDATER, STANDIN = os.path.abspath(args.updater), os.path.abspath(args.standin)
    if args.signed_updater:
        SIGNED_UPDATER, SECRET_KEY = os.path.abspath(args.signed_updater), args.secret_key
        ANSWER_BOX = args.answer_box
    EMULATOR = [args.emulator] if args.emulator else []
    if EMULATOR and not os.environ.get("DISPLAY"):
        # One X display for the updater and the helper that answers its
        # message boxes (tools/windows/xvfb.sh picks a free one).
        xvfb = os.path.join(os.path.dirname(os.path.abspath(args.emulator)), "xvfb.sh")
        display, xvfb_pid = subprocess.run(
            ["bash", "-c", '. "$1" && start_xvfb && echo "$DISPLAY $XVFB_PID"', "-", xvfb],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True).stdout.split()
        os.environ["DISPLAY"] = display
        atexit.register(os.kill, int(xvfb_pid), 15)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
