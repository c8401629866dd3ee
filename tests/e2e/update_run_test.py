# End-to-end runs of the real updater binary in a temporary program directory.
#
# Run through tests/peers/with-peers.sh (nginx on loopback):
#   update_run_test.py --updater PATH --standin PATH --domain NAME [--emulator WINE-RUNNER]
#                      [--signed-updater PATH --secret-key MINISIGN-KEY [--answer-box PATH]]
# With --emulator (the Windows build under wine) CMake names only the whole
# download run and the signed runs: the other cases read the POSIX dialog's
# output. The signed runs use an updater built with the public key of
# MINISIGN-KEY and sign their packages with minisign as they go.
#
import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, MESSAGE_1, MESSAGE_2, NO_ADDRESS, NOT_UPDATED,  # noqa: E402
                         UPDATED, ProgramDir, PtyRun, main, make_zip, native, nginx, publish,
                         read_if_there, scratch, wait_until, zip_item)

UPDATE_FILES = {"korvanta-data.txt": "version 2\n", "sub/old.txt": "replaced\n",
                "newdir/deeper/file.txt": "created below a new directory\n",
                "readonly.txt": "read-only item\n"}
ITEMS = [zip_item(name, text.encode(), 0o100444 if name == "readonly.txt" else 0o100644)
         for name, text in UPDATE_FILES.items()]


class UpdateRun(unittest.TestCase):
    def setUp(self):
        self.program = ProgramDir(scratch(self, "updater-run-"))

    def test_download_extracts_over_the_installed_files_and_restarts_once(self):
        served, url = publish(self, "run", ITEMS)
        for name, text in [("sub/old.txt", "old\n"), ("keep.txt", "not in the update\n")]:
            self.program.write(name, text)
        # Silently, which writes nothing; a query value that looks like a
        # credential never reaches the log.
        status, output = self.program.run_silent(url + "?password=hunter2")
        self.assertEqual((status, output, self.program.read("update.zip", "rb"),
                          self.program.leftovers()), (UPDATED, "", read_if_there(served), []))
        logged = self.program.run_log()
        self.assertRegex(logged, r"GET \S+/update\.zip\?password=\*\*\*: downloaded, HTTP 200")
        self.assertRegex(logged, r"relaunch: .*Korvanta\.exe.*: started")
        self.assertNotIn("hunter2", logged)
        self.assertEqual({name: self.program.read(name) for name in [*UPDATE_FILES, "keep.txt"]},
                         dict(UPDATE_FILES, **{"keep.txt": "not in the update\n"}))
        if not ARGS.emulator:
            self.assertEqual(os.stat(self.program.join("readonly.txt")).st_mode & 0o222, 0)
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))
        self.assertEqual([s.split("data=")[1] for s in self.program.starts()], ["version 2\n"])

        # A second run, with the dialog, finds update.zip current and installs
        # it again.
        zip_time = os.stat(self.program.join("update.zip")).st_mtime_ns
        self.program.write("sub/old.txt", "changed by hand\n")
        self.assertEqual(self.program.run(url)[0], UPDATED)
        self.assertEqual((os.stat(self.program.join("update.zip")).st_mtime_ns,
                          self.program.read("sub/old.txt")), (zip_time, "replaced\n"))
        self.assertTrue(wait_until(lambda: len(self.program.starts()) == 2, 10))

    # Windows counts a path in UTF-16 units: a program directory of more than
    # 300 bytes in GBK but fewer than 200 characters is one like any other.
    def test_long_chinese_program_directory_installs_and_restarts(self):
        if not ARGS.emulator:
            self.skipTest("Linux keeps paths below 260 bytes")
        program = ProgramDir(os.path.join(scratch(self, "updater-run-"), *["升级" * 15] * 5))
        own_path = native(program.join(program.name))
        self.assertEqual((len(own_path.encode("gbk")) > 300, len(own_path) < 200), (True, True))
        _, url = publish(self, "long-directory", ITEMS)
        status, err = program.run(url)
        self.assertEqual((status, {name: program.read(name) for name in UPDATE_FILES}),
                         (UPDATED, UPDATE_FILES), err)
        self.assertTrue(wait_until(lambda: program.starts(), 10))

    def test_message_one_in_the_terminal_opens_the_page_on_enter_only(self):
        for key, opened in ((b"\x1b", False), (b"\r", True)):
            run = PtyRun(self.program)
            self.addCleanup(run.close)
            self.assertTrue(run.read_until(r"\(Enter = OK", 10), run.output)
            self.assertIn("[提示]\n" + MESSAGE_1, run.output.decode().replace("\r\n", "\n"))
            self.assertEqual(run.end(key), NO_ADDRESS)
            # Bounded: after Escape the page is never named.
            self.assertEqual(run.read_until(r"Open http://[^ ]+/update/download\.php in a browser",
                                            5 if opened else 1), opened, run.output)
        self.assertEqual(self.program.starts(), [])

    # The server has no such package (a failure that no retry mends): the
    # silent run writes nothing, shows no window (under the emulator no X
    # window appears while it runs), ends with 2 and logs why.
    def test_silent_run_on_a_missing_package_shows_nothing_and_ends_with_two(self):
        _, url = nginx(self, "files/%s/absent/update.zip" % ARGS.domain)
        windows = []
        done = []

        def watch():
            while not done:
                tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True,
                                      text=True).stdout
                windows.extend(t for t in ("更新下载", "提示") if '"%s": (' % t in tree)
        if ARGS.emulator:
            watcher = threading.Thread(target=watch)
            watcher.start()
        try:
            status, output = self.program.run_silent(url)
        finally:
            done.append(True)
            if ARGS.emulator:
                watcher.join()
        self.assertEqual((status, output, windows, self.program.starts()),
                         (NOT_UPDATED, "", [], []))
        logged = self.program.run_log()
        self.assertRegex(logged, r"start: updater [\d.]+, silent, download http://127\.0\.0\.1:")
        self.assertRegex(logged, r"GET \S+: failed, HTTP 404, .*\n.*download: the download failed, HTTP 404\n")
        self.assertIn("end: exit status 2", logged)


def sign(package, signature, key=None, *extra):
    subprocess.run(["minisign", "-S", "-s", key or ARGS.secret_key, "-m", package, "-x", signature,
                    *extra], check=True, stdout=subprocess.DEVNULL)


def release(seconds):
    return ("-t", "timestamp:%d\tfile:update.zip\thashed" % seconds)


def rewrite(path, change):
    data = change(read_if_there(path))
    with open(path, "wb") as f:
        f.write(data)


# Signs, then rewrites the package (0) or the signature (1) with `change`.
def then(change, which):
    return lambda *paths: (sign(*paths), rewrite(paths[which], change))


# An updater built with a vendor key installs only what that key signed, never
# an older release than the installed one; everything else ends in message 2
# (exit status 2) with nothing installed and nothing started. The local
# packages are installed by silent runs, which write nothing at all. Each
# row names what the log tells of it.
class SignedRun(unittest.TestCase):
    def test_downloaded_and_local_packages(self):
        if not ARGS.signed_updater:  # a failure under CI
            (self.fail if os.environ.get("CI") == "true" else self.skipTest)(
                "no updater built with a test key (minisign missing at configure time)")
        self.work = scratch(self, "updater-signed-")
        other = os.path.join(self.work, "other.key")
        subprocess.run(["minisign", "-G", "-W", "-s", other, "-p", other + ".pub"], check=True,
                       stdout=subprocess.DEVNULL)
        newer = b"trusted comment: timestamp:9999999999\tfile:update.zip\thashed"
        # name: (makes the signature, timestamp of the installed release or
        # None, installed?, what the log says)
        cases = {
            "good": (sign, None, True, "signature: accepted"),
            "same release again": (lambda p, s: sign(p, s, None, *release(2000)), 2000, True,
                                   "signature: accepted"),
            "one changed byte": (then(lambda d: d[:99] + bytes([d[99] ^ 1]) + d[100:], 0), None,
                                 False, "signature does not hold for the package"),
            # Signed as it is, but an item fails its check: the install fails,
            # and the kept signature stays that of the release installed.
            "signed damaged item": (lambda p, s: (rewrite(p, lambda d: d.replace(b"n 2", b"n 3")),
                                                  sign(p, s)), 2000, False, "install: failed"),
            "another key": (lambda p, s: sign(p, s, other), None, False, "made with another key"),
            "legacy signature": (lambda p, s: sign(p, s, None, "-l"), None, False,
                                 r"\(legacy or unknown algorithm\)"),
            "older release": (lambda p, s: sign(p, s, None, *release(1000)), 2000, False,
                              "older than the one installed"),
            "trusted comment changed": (then(lambda d: b"\n".join(
                d.split(b"\n")[:2] + [newer] + d.split(b"\n")[3:]), 1), None, False,
                "the trusted comment's signature does not hold"),
            "no signature": (None, None, False, r"minisig: failed, HTTP 404|signature missing"),
            "cut short": (then(lambda d: d[:len(d) * 2 // 3], 1), None, False,
                          "signature missing, cut short"),
            "10 MB of garbage": (then(lambda d: os.urandom(10 << 20), 1), None, False,
                                 r"minisig: failed, HTTP 200, 0 of 10485760|too large"),
        }
        for name, (make_signature, installed, accepted, logged) in cases.items():
            for local in (False, True):
                with self.subTest(name, local=local):
                    self.check(name.replace(" ", "-"), make_signature, installed, accepted, local,
                               logged)

    def check(self, case, make_signature, installed, accepted, local, logged):
        items = [zip_item("korvanta-data.txt", b"version 2\n")]
        package, argument = publish(self, "signed/" + case, items)
        if local:
            package = argument = os.path.join(self.work, case, "local.zip")
            make_zip(package, items)
        program = ProgramDir(os.path.join(self.work, "%s-%d" % (case, local)), ARGS.signed_updater)
        kept = program.join("installed-release.minisig")
        if installed is not None:  # any file signed as the installed release
            sign(ARGS.signed_updater, kept, None, *release(installed))
        kept_before, signature = read_if_there(kept), package + ".minisig"
        if make_signature:
            make_signature(package, signature)

        if local:
            status, output = program.run_silent(argument)
            self.assertEqual(output, "")
        else:
            status, output = program.run_answered(argument, box=not accepted)
            self.assertEqual(MESSAGE_2 in output, not accepted, output)
        self.assertEqual((status, program.read("korvanta-data.txt")),
                         (UPDATED, "version 2\n") if accepted else (NOT_UPDATED, "version 1\n"))
        self.assertRegex(program.run_log(), logged)
        if accepted:
            self.assertTrue(wait_until(lambda: program.starts(), 10))
            self.assertEqual(read_if_there(kept), read_if_there(signature))
        else:
            self.assertEqual((program.starts(), read_if_there(kept)), ([], kept_before))
        if local:  # the user's archive and signature stay; the run's copies go
            self.assertEqual((os.path.exists(package), os.path.exists(signature),
                              program.leftovers()), (True, make_signature is not None, []))
        elif not accepted:
            self.assertEqual([n for n in os.listdir(program.path) if n.startswith("update.zip")],
                             [])


if __name__ == "__main__":
    main("--signed-updater", "--secret-key", "--answer-box")
