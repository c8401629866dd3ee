"""End-to-end runs of the real updater binary in a temporary program directory.

Run through tests/peers/with-peers.sh (nginx on loopback):
  update_run_test.py --updater PATH --standin PATH [--emulator WINE-RUNNER]
                     [--signed-updater PATH --secret-key MINISIGN-KEY]
With --emulator (the Windows build under wine) only the whole download run and
the signed runs are made: the other cases read the POSIX dialog's terminal
output. The signed runs use an updater built with the public key of
MINISIGN-KEY and sign their packages with minisign as they go.
"""
import argparse
import atexit
import hashlib
import http.server
import os
import pty
import select
import shutil
import socket
import socketserver
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

UPDATER = STANDIN = SIGNED_UPDATER = SECRET_KEY = ANSWER_BOX = None
EMULATOR = []
UPDATER_NAME = "updater"
DOMAIN = None  # the vendor domain the updater under test was built with
MESSAGE_1 = "非常抱歉，本程序不能单独运行。"
MESSAGE_2 = "非常抱歉，可能因为网络原因，本次升级失败。"


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


class ProgramDir:
    """A program directory holding a copy of the updater and the stand-in."""

    def __init__(self, updater=None):
        self.path = tempfile.mkdtemp(prefix="updater-e2e-")
        shutil.copy2(updater or UPDATER, os.path.join(self.path, UPDATER_NAME))
        shutil.copy2(STANDIN, os.path.join(self.path, "Korvanta.exe"))

    def join(self, *parts):
        return os.path.join(self.path, *parts)

    def write(self, name, content):
        path = self.join(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(content)

    def read(self, name):
        with open(self.join(name)) as f:
            return f.read()

    def starts(self):
        try:
            with open(self.join("Korvanta.log")) as f:
                return [line for line in f if line.startswith("started")]
        except FileNotFoundError:
            return []

    def run(self, *args, timeout=60, **kw):
        env = dict(os.environ, UPDATER_UI="plain")
        return subprocess.run([*EMULATOR, self.join(UPDATER_NAME), *args], stdin=subprocess.DEVNULL,
                              capture_output=True, env=env, timeout=timeout, **kw)

    def remove(self):
        for root, dirs, files in os.walk(self.path):
            for name in dirs + files:
                os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(self.path, ignore_errors=True)


def make_update_zip(path, files, read_only=()):
    """Builds update.zip with Info-ZIP zip from a staging tree."""
    stage = tempfile.mkdtemp(prefix="updater-stage-")
    try:
        for name, content in files.items():
            p = os.path.join(stage, name)
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "w") as f:
                f.write(content)
        for name in read_only:
            os.chmod(os.path.join(stage, name), 0o444)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["zip", "-q", "-r", path, "."], cwd=stage, check=True)
    finally:
        for root, dirs, names in os.walk(stage):
            for n in names:
                os.chmod(os.path.join(root, n), 0o644)
        shutil.rmtree(stage)


UPDATE_FILES = {
    "korvanta-data.txt": "version 2\n",
    "sub/old.txt": "replaced\n",
    "newdir/deeper/file.txt": "created below a new directory\n",
    "readonly.txt": "read-only item\n",
}


class PtyRun:
    """The updater in a pseudo-terminal, so it draws its dialog and reads keys."""

    def __init__(self, program, *args):
        env = dict(os.environ, UPDATER_UI="terminal", TERM="xterm")
        self.master, slave = pty.openpty()
        self.proc = subprocess.Popen([program.join("updater"), *args], stdin=slave, stdout=slave,
                                     stderr=slave, env=env, close_fds=True)
        os.close(slave)
        self.output = b""

    def read_for(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            r, _, _ = select.select([self.master], [], [], 0.05)
            if r:
                try:
                    self.output += os.read(self.master, 65536)
                except OSError:
                    return

    def read_until(self, needle, timeout):
        deadline = time.monotonic() + timeout
        while needle.encode() not in self.output and time.monotonic() < deadline:
            self.read_for(0.05)
        return needle.encode() in self.output

    def press_escape(self):
        os.write(self.master, b"\x1b")

    def wait(self, timeout):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None and time.monotonic() < deadline:
            self.read_for(0.05)
        return self.proc.poll()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        os.close(self.master)


class DripServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def drip_handler(body):
    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *a):
            pass

        def headers_out(self):
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Last-Modified", "Sun, 06 Nov 2022 08:49:37 GMT")
            self.end_headers()

        def do_HEAD(self):
            self.headers_out()

        def do_GET(self):
            self.headers_out()
            try:
                for i in range(0, len(body), 512):
                    self.wfile.write(body[i:i + 512])
                    self.wfile.flush()
                    time.sleep(0.05)
            except OSError:
                pass

    return Handler


def posix_only(test):
    def run(self):
        if EMULATOR:
            self.skipTest("reads the POSIX dialog's terminal output")
        test(self)
    run.__name__ = test.__name__
    return run


class UpdateRun(unittest.TestCase):
    def setUp(self):
        self.http_port = os.environ.get("UPDATER_TEST_HTTP_PORT")
        self.docroot = os.environ.get("UPDATER_TEST_DOCROOT")
        if not self.http_port:
            self.fail("loopback peers missing: run through tests/peers/with-peers.sh")
        self.program = ProgramDir()
        self.addCleanup(self.program.remove)

    def serve_update(self, case, files=UPDATE_FILES, read_only=("readonly.txt",)):
        path = os.path.join(self.docroot, "files", DOMAIN, case, "update.zip")
        make_update_zip(path, files, read_only)
        url = "http://127.0.0.1:%s/files/%s/%s/update.zip" % (self.http_port, DOMAIN, case)
        return path, url

    def test_download_extracts_over_the_installed_files_and_restarts_once(self):
        served, url = self.serve_update("full")
        self.program.write("korvanta-data.txt", "version 1\n")
        self.program.write("sub/old.txt", "old\n")
        self.program.write("keep.txt", "not in the update\n")

        result = self.program.run(url)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(MESSAGE_2, result.stderr.decode())
        self.assertEqual(sha256(self.program.join("update.zip")), sha256(served))
        self.assertFalse(os.path.exists(self.program.join("update.zip.down")))
        for name, content in UPDATE_FILES.items():
            self.assertEqual(self.program.read(name), content, name)
        self.assertEqual(self.program.read("keep.txt"), "not in the update\n")
        mode = os.stat(self.program.join("readonly.txt")).st_mode
        if not EMULATOR:
            self.assertEqual(mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH), 0)
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))
        self.assertEqual(len(self.program.starts()), 1)
        self.assertIn("data=version 2", self.program.starts()[0])

        # A second run finds update.zip current and installs it again.
        zip_time = os.stat(self.program.join("update.zip")).st_mtime_ns
        self.program.write("sub/old.txt", "changed by hand\n")
        result = self.program.run(url)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.stat(self.program.join("update.zip")).st_mtime_ns, zip_time)
        self.assertFalse(os.path.exists(self.program.join("update.zip.down")))
        self.assertEqual(self.program.read("sub/old.txt"), "replaced\n")
        self.assertTrue(wait_until(lambda: len(self.program.starts()) == 2, 10))

    @posix_only
    def test_local_archive_installs_after_the_delay_without_any_connection(self):
        archive = self.program.join("incoming", "local.zip")
        make_update_zip(archive, {"korvanta-data.txt": "local version\n", "d/e.txt": "e\n"})
        trace = self.program.join("trace.txt")
        started = time.monotonic()
        result = subprocess.run(
            ["strace", "-f", "-qq", "-e", "trace=socket,connect", "-o", trace,
             self.program.join("updater"), archive],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
            # LeakSanitizer cannot run under ptrace; the sanitizer builds keep
            # their other checks here.
            env=dict(os.environ, UPDATER_UI="plain",
                     ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"))
        elapsed = time.monotonic() - started
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(trace) as f:
            calls = [line for line in f if "AF_INET" in line]
        self.assertEqual(calls, [])
        self.assertGreaterEqual(elapsed, 2.9)
        self.assertEqual(self.program.read("korvanta-data.txt"), "local version\n")
        self.assertEqual(self.program.read("d/e.txt"), "e\n")
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))

    @posix_only
    def test_a_path_that_names_no_archive_still_starts_the_main_application(self):
        self.program.write("not-a-zip.txt", "plain text\n")
        before = sorted(os.listdir(self.program.path))
        result = self.program.run(self.program.join("not-a-zip.txt"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))
        after = sorted(n for n in os.listdir(self.program.path) if n != "Korvanta.log")
        self.assertEqual(after, before)

    @posix_only
    def test_no_argument_shows_message_one_and_nothing_else(self):
        result = self.program.run()
        self.assertEqual(result.returncode, 0)
        self.assertIn(MESSAGE_1, result.stderr.decode())
        self.assertEqual(self.program.starts(), [])

    @posix_only
    def test_a_failing_server_shows_message_two_and_installs_nothing(self):
        url = "http://127.0.0.1:%s/status/503?%s" % (self.http_port, DOMAIN)
        result = self.program.run(url)
        self.assertEqual(result.returncode, 0)
        self.assertIn(MESSAGE_2, result.stderr.decode())
        self.assertFalse(os.path.exists(self.program.join("update.zip")))
        self.assertEqual(self.program.starts(), [])

    @posix_only
    def test_another_domain_stays_idle_until_closed(self):
        run = PtyRun(self.program, "http://127.0.0.1:%s/files/small.txt" % self.http_port)
        self.addCleanup(run.close)
        self.assertTrue(run.read_until("链接服务器，请等待...", 10), run.output)
        run.read_for(1.5)  # past the start delay nothing happens
        self.assertIsNone(run.proc.poll())
        run.press_escape()
        self.assertEqual(run.wait(10), 0)
        self.assertNotIn("提示".encode(), run.output)
        self.assertFalse(os.path.exists(self.program.join("update.zip.down")))

    @posix_only
    def test_closing_during_a_slow_download_ends_promptly_and_keeps_the_partial_file(self):
        body = os.urandom(400000)
        server = DripServer(("127.0.0.1", 0), drip_handler(body))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        url = "http://127.0.0.1:%d/%s/update.zip" % (server.server_address[1], DOMAIN)
        run = PtyRun(self.program, url)
        self.addCleanup(run.close)
        self.assertTrue(run.read_until("已经下载", 15), run.output)
        closed = time.monotonic()
        run.press_escape()
        self.assertEqual(run.wait(10), 0)
        self.assertLess(time.monotonic() - closed, 3)
        self.assertFalse(os.path.exists(self.program.join("update.zip")))
        with open(self.program.join("update.zip.down"), "rb") as f:
            partial = f.read()
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
            result = program.run(argument)
            return result.returncode, result.stderr.decode()
        # Under wine message 2 is a real message box, which a helper in the
        # same wine session and on the same display reads and cancels.
        if argument.startswith("/"):
            argument = "Z:" + argument.replace("/", "\\")
        proc = subprocess.Popen([*EMULATOR, program.join(UPDATER_NAME), argument],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        shown = ""
        if refused:
            answer = subprocess.run([*EMULATOR, ANSWER_BOX, "60"], stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=120)
            shown = answer.stdout.decode("gbk", "replace")
        return proc.wait(timeout=60), shown

    def prepare(self, name, package_path):
        make_signature, installed, accepted = self.cases[name]
        program = ProgramDir(SIGNED_UPDATER)
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
    if args.emulator:
        EMULATOR = [args.emulator]
        UPDATER_NAME = "updater.exe"
        if not os.environ.get("DISPLAY"):
            # One X display for the updater and the helper that answers its
            # message boxes (tools/windows/xvfb.sh picks a free one).
            xvfb = os.path.join(os.path.dirname(os.path.abspath(args.emulator)), "xvfb.sh")
            display, xvfb_pid = subprocess.run(
                ["bash", "-c", '. "$1" && start_xvfb && echo "$DISPLAY $XVFB_PID"', "-", xvfb],
                stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True).stdout.split()
            os.environ["DISPLAY"] = display
            atexit.register(os.kill, int(xvfb_pid), 15)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
