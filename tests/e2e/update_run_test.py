# End-to-end runs of the real updater binary in a temporary program directory.
#
# Run through tests/peers/with-peers.sh (nginx on loopback):
#   update_run_test.py --updater PATH --standin PATH --domain NAME [--emulator WINE-RUNNER]
#                      [--signed-updater PATH --secret-key MINISIGN-KEY [--answer-box PATH]]
# With --emulator (the Windows build under wine) CMake names only the whole
# download runs (the long directory and the addresses among them) and the
# signed runs: the other cases read the POSIX dialog's output. The signed runs use an updater built with the public key of
# MINISIGN-KEY and sign their packages with minisign as they go.
#
import os
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, MESSAGE_1, MESSAGE_2, ProgramDir, PtyRun, Server,  # noqa: E402
                         main, make_zip, native, publish, read_if_there, read_request, scratch,
                         wait_until, zip_item)

UPDATE_FILES = {"korvanta-data.txt": "version 2\n", "sub/old.txt": "replaced\n",
                "newdir/deeper/file.txt": "created below a new directory\n",
                "readonly.txt": "read-only item\n"}
ITEMS = [zip_item(name, text.encode(), 0o100444 if name == "readonly.txt" else 0o100644)
         for name, text in UPDATE_FILES.items()]


# Hands a request on to nginx and its answer back.
def relay_to(conn, port):
    with socket.create_connection(("127.0.0.1", port)) as upstream:
        upstream.sendall(read_request(conn))
        for chunk in iter(lambda: upstream.recv(65536), b""):
            conn.sendall(chunk)


class UpdateRun(unittest.TestCase):
    def setUp(self):
        self.program = ProgramDir(scratch(self, "updater-run-"))

    def test_download_extracts_over_the_installed_files_and_restarts_once(self):
        served, url = publish(self, "run", ITEMS)
        for name, text in [("sub/old.txt", "old\n"), ("keep.txt", "not in the update\n")]:
            self.program.write(name, text)
        status, err = self.program.run(url)
        self.assertEqual((status, MESSAGE_2 in err, self.program.read("update.zip", "rb"),
                          self.program.leftovers()), (0, False, read_if_there(served), []), err)
        self.assertEqual({name: self.program.read(name) for name in [*UPDATE_FILES, "keep.txt"]},
                         dict(UPDATE_FILES, **{"keep.txt": "not in the update\n"}))
        if not ARGS.emulator:
            self.assertEqual(os.stat(self.program.join("readonly.txt")).st_mode & 0o222, 0)
        self.assertTrue(wait_until(lambda: self.program.starts(), 10))
        self.assertEqual([s.split("data=")[1] for s in self.program.starts()], ["version 2\n"])

        # A second run finds update.zip current and installs it again.
        zip_time = os.stat(self.program.join("update.zip")).st_mtime_ns
        self.program.write("sub/old.txt", "changed by hand\n")
        self.assertEqual(self.program.run(url)[0], 0)
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
                         (0, UPDATE_FILES), err)
        self.assertTrue(wait_until(lambda: program.starts(), 10))

    # An IPv6 address, and a name of a private /etc/hosts (in a mount
    # namespace of the run's own) whose addresses the system orders ::1,
    # 127.0.0.1, 127.0.0.2, while only the last one listens.
    def test_ipv6_address_and_a_name_whose_first_addresses_refuse(self):
        if os.environ.get("UPDATER_TEST_IPV6") != "1" or os.geteuid() != 0:
            self.skipTest("needs IPv6 loopback, and root for a mount namespace")
        _, url = publish(self, "addresses", ITEMS)
        relay = Server(lambda conn, _: relay_to(conn, int(os.environ["UPDATER_TEST_HTTP_PORT"])),
                       host="127.0.0.2")
        self.addCleanup(relay.close)
        hosts = os.path.join(scratch(self), "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.2 dual.test\n127.0.0.1 dual.test\n::1 dual.test\n")
        private_hosts = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" /etc/hosts && exec "$@"',
                         hosts]
        host_port = "127.0.0.1:" + os.environ["UPDATER_TEST_HTTP_PORT"]
        for target, wrapper in ((url.replace("127.0.0.1", "[::1]"), ()),
                                (url.replace(host_port, "dual.test:%d" % relay.port), private_hosts)):
            program = ProgramDir(scratch(self, "updater-run-"))
            status, err = program.run(target, wrapper=wrapper)
            self.assertEqual((status, program.read("korvanta-data.txt")), (0, "version 2\n"),
                             target + err)
        self.assertEqual(relay.connections, 2)  # HEAD and GET

    def test_message_one_in_the_terminal_opens_the_page_on_enter_only(self):
        for key, opened in ((b"\x1b", False), (b"\r", True)):
            run = PtyRun(self.program)
            self.addCleanup(run.close)
            self.assertTrue(run.read_until(r"\(Enter = OK", 10), run.output)
            self.assertIn("[提示]\n" + MESSAGE_1, run.output.decode().replace("\r\n", "\n"))
            self.assertEqual(run.end(key), 0)
            # Bounded: after Escape the page is never named.
            self.assertEqual(run.read_until(r"Open http://[^ ]+/update/download\.php in a browser",
                                            5 if opened else 1), opened, run.output)
        self.assertEqual(self.program.starts(), [])


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
# with nothing installed and nothing started.
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
        # None, installed?)
        cases = {
            "good": (sign, None, True),
            "same release again": (lambda p, s: sign(p, s, None, *release(2000)), 2000, True),
            "one changed byte": (then(lambda d: d[:99] + bytes([d[99] ^ 1]) + d[100:], 0), None,
                                 False),
            # Signed as it is, but an item fails its check: the install fails,
            # and the kept signature stays that of the release installed.
            "signed damaged item": (lambda p, s: (rewrite(p, lambda d: d.replace(b"n 2", b"n 3")),
                                                  sign(p, s)), 2000, False),
            "another key": (lambda p, s: sign(p, s, other), None, False),
            "legacy signature": (lambda p, s: sign(p, s, None, "-l"), None, False),
            "older release": (lambda p, s: sign(p, s, None, *release(1000)), 2000, False),
            "trusted comment changed": (then(lambda d: b"\n".join(
                d.split(b"\n")[:2] + [newer] + d.split(b"\n")[3:]), 1), None, False),
            "no signature": (None, None, False),
            "cut short": (then(lambda d: d[:len(d) * 2 // 3], 1), None, False),
            "10 MB of garbage": (then(lambda d: os.urandom(10 << 20), 1), None, False),
        }
        for name, (make_signature, installed, accepted) in cases.items():
            for local in (False, True):
                with self.subTest(name, local=local):
                    self.check(name.replace(" ", "-"), make_signature, installed, accepted, local)

    def check(self, case, make_signature, installed, accepted, local):
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

        status, shown = program.run_answered(argument, box=not accepted)
        self.assertEqual((status, MESSAGE_2 in shown, program.read("korvanta-data.txt")),
                         (0, not accepted, "version 2\n" if accepted else "version 1\n"), shown)
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
