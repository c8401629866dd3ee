# End-to-end runs of the real updater binary in a temporary program directory.
#
# Run through tests/peers/with-peers.sh (nginx on loopback):
#   update_run_test.py --updater PATH --standin PATH --domain NAME [--emulator WINE-RUNNER]
#                      [--signed-updater PATH --secret-key MINISIGN-KEY --next-key MINISIGN-KEY
#                       [--answer-box PATH]]
# With --emulator (the Windows build under wine) CMake names only the whole
# download runs (the long directory and the addresses among them), the silent
# run, the Windows proxy settings and the signed runs: the other cases read
# the POSIX dialog's output. The signed runs use an updater built with the
# public keys of both MINISIGN-KEYs and sign their packages with minisign as
# they go.
#
import collections
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, MESSAGE_1, MESSAGE_2, NO_ADDRESS, NOT_UPDATED,  # noqa: E402
                         UPDATED, ProgramDir, PtyRun, Server, emulator, main, make_zip, native,
                         nginx, publish, read_if_there, read_request, run_environment, scratch,
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
        # The log names the address each exchange was connected to.
        for target, wrapper, peer in (
                (url.replace("127.0.0.1", "[::1]"), (),
                 "[::1]:" + os.environ["UPDATER_TEST_HTTP_PORT"]),
                (url.replace(host_port, "dual.test:%d" % relay.port), private_hosts,
                 "127.0.0.2:%d" % relay.port)):
            program = ProgramDir(scratch(self, "updater-run-"))
            status, err = program.run(target, wrapper=wrapper)
            self.assertEqual((status, program.read("korvanta-data.txt")), (UPDATED, "version 2\n"),
                             target + err)
            self.assertIn("HTTP 200, direct, connected to " + peer, program.run_log())
        self.assertEqual(relay.connections, 2)  # HEAD and GET

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


# The updater reaches the server through the proxy that the environment
# names: only squid resolves its test name, microsocks logs the name it is
# asked to reach, and tinyproxy-auth refuses every request without its
# credentials (so a run that gets through it went direct).
def peer(name):
    return os.environ["UPDATER_TEST_" + name]


class ProxyRun(unittest.TestCase):
    def test_environment_proxies(self):
        refusing, port = "http://127.0.0.1:" + peer("TINYPROXY_AUTH_PORT"), peer("HTTP_PORT")
        squid, socks = "127.0.0.1:" + peer("SQUID_PORT"), "127.0.0.1:" + peer("MICROSOCKS_PORT")
        # (variables, host of the address, installed?, the peer's log and its
        # lines' text, what the run's log tells of the package's exchange)
        cases = {
            "squid from http_proxy": ({"http_proxy": "http://" + squid}, peer("SQUID_NAME"), True,
                                      "SQUID_ACCESS_LOG",
                                      "http://%s:%s/" % (peer("SQUID_NAME"), port),
                                      "HTTP 200, through http proxy %s, connected to %s"
                                      % (squid, squid)),
            "SOCKS5 from ALL_PROXY": ({"ALL_PROXY": "socks5h://" + socks}, "localhost", True,
                                      "MICROSOCKS_LOG", "connected to localhost:" + port,
                                      "HTTP 200, through socks5h proxy %s, connected to %s"
                                      % (socks, socks)),
            "no_proxy": ({"http_proxy": refusing, "no_proxy": "127.0.0.1"}, "127.0.0.1", True, None,
                         None, "HTTP 200, direct, connected to 127.0.0.1:" + port),
            "refused": ({"http_proxy": refusing}, "127.0.0.1", False, None, None,
                        "HTTP 407, through http proxy " + refusing[7:]),
        }
        for name, (variables, host, installed, log, line, logged) in cases.items():
            with self.subTest(name):
                program = ProgramDir(scratch(self, "updater-proxy-"))
                url = publish(self, "proxy-" + name.replace(" ", "-"), ITEMS)[1]
                before = self.logged(log, line)
                status, err = program.run(url.replace("127.0.0.1", host, 1), variables=variables)
                self.assertEqual((status, MESSAGE_2 in err, program.read("korvanta-data.txt")),
                                 (UPDATED if installed else NOT_UPDATED, not installed,
                                  "version 2\n" if installed else "version 1\n"), err)
                # HEAD and the package, and nothing else
                self.assertTrue(wait_until(lambda: self.logged(log, line) == before + 2 * bool(log),
                                           5))
                self.assertRegex(program.run_log(),
                                 r"exchange: GET \S+/update\.zip: " + re.escape(logged))

    # Under wine: the Windows setting as its settings page writes it, and
    # with-peers.sh's configuration script, both naming squid.
    def test_windows_internet_settings(self):
        if not ARGS.emulator:
            self.skipTest("the Windows build reads the Windows setting")
        squid = "127.0.0.1:" + peer("SQUID_PORT")
        # FLAGS PROXY BYPASS SCRIPT (with_internet_settings_win32.cpp)
        for name, settings in (("manual", ["3", squid, "<local>", ""]),
                               ("script", ["5", "", "", nginx(self, "files/proxy.pac")[1]])):
            with self.subTest(name):
                program = ProgramDir(scratch(self, "updater-proxy-"))
                url = publish(self, "proxy-windows-" + name, ITEMS)[1]
                url = url.replace("127.0.0.1", peer("SQUID_NAME"), 1)
                done = subprocess.run([*emulator(), ARGS.internet_settings, *settings,
                                       native(program.join(program.name)), url],
                                      stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                                      env=run_environment())
                self.assertEqual((done.returncode, program.read("korvanta-data.txt")),
                                 (UPDATED, "version 2\n"), done.stderr)
                line = url.split("//", 1)[1]
                self.assertTrue(wait_until(lambda: self.logged("SQUID_ACCESS_LOG", line) == 2, 5))

    # How often the log that with-peers.sh names holds `line` (0 for none).
    def logged(self, log, line):
        return (read_if_there(peer(log), "r") or "").count(line) if log else 0


SIGN_RELEASE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                            "sign-release.sh")
NOW = int(time.time())
SAME = "the package's own signature"  # as the installed release's: the same release again


# Signs as the vendor does, with tools/sign-release.sh: `fields` (timestamp,
# product, channel) replace its defaults, `extra` goes to minisign (a last
# "-t" replaces the whole trusted comment).
def sign(package, signature, key=None, *extra, **fields):
    env = dict(os.environ, **{"RELEASE_" + name.upper(): str(v) for name, v in fields.items()})
    subprocess.run([SIGN_RELEASE, package, key or ARGS.secret_key, "-x", signature, *extra],
                   env=env, check=True, stdout=subprocess.DEVNULL)


# The id that the public key's comment beside a secret key names, as the log
# writes it too.
def key_id(secret_key):
    with open(os.path.splitext(secret_key)[0] + ".pub") as f:
        return f.readline().split()[-1]


def signed_at(timestamp, key=None):
    return lambda p, s: sign(p, s, key, timestamp=timestamp)


def rewrite(path, change):
    data = change(read_if_there(path))
    with open(path, "wb") as f:
        f.write(data)


# Signs, then rewrites the package (0) or the signature (1) with `change`.
def then(change, which):
    return lambda *paths: (sign(*paths), rewrite(paths[which], change))


# A journal as the install writes it (magic, state, staging name, targets,
# created directories, CRC-32), for an install that was committing.
def journal(staging, *targets):
    def text(t):
        return len(t).to_bytes(4, "little") + t
    body = (b"KVJ1\x02" + text(staging) + len(targets).to_bytes(4, "little") +
            b"".join(map(text, targets)) + bytes(4))
    return body + zlib.crc32(body).to_bytes(4, "little")


# Puts `files` in place below `root`: bytes, or the text of a link.
def plant(root, files):
    for name, content in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, str):
            os.symlink(content, path)
        else:
            with open(path, "wb") as f:
                f.write(content)


# What lies below root/outside, which no run may change.
def outside(root):
    return {path: os.readlink(path) if os.path.islink(path) else read_if_there(path)
            for here, dirs, files in os.walk(os.path.join(root, "outside"))
            for path in (os.path.join(here, name) for name in files)}


# Answers a path with ".minisig" in it with `signature`, any other with a
# header announcing `length` bytes and then (to a GET) bytes without end;
# `paths` records what was asked for.
def endless_server(signature, length, paths):
    def answer(conn, index):
        method, path = read_request(conn).split(b" ")[:2]
        paths.append(path.decode())
        body = signature if b".minisig" in path else b""
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s"
                     % (len(body) if body else length, body))
        while method == b"GET" and not body:
            conn.sendall(bytes(65536))
    return Server(answer)


# One row: makes the signature (package path, signature path); the installed
# release's signature before the run (None, SAME, or (timestamp[, key]) of
# any file); installed?; what the log tells of it; downloaded, local or both; files planted below the
# row's directory (its program directory is "program"); the argument (below
# that directory) in place of the package; the package's items; for a
# download served by endless_server, the length it announces.
Row = collections.namedtuple("Row", "signs kept accepted logged ways plant argument items endless",
                             defaults=((False, True), {}, None, None, None))
DOWNLOADED, LOCAL = (False,), (True,)
DATA = zip_item("korvanta-data.txt", b"version 2\n")


# An updater built with the vendor's keys installs only what one of them
# signed for its product and channel, never an older release than the
# installed one; everything else ends in message 2 (exit status 2) with
# nothing installed and nothing started. Nothing planted is followed, and
# nothing outside the program directory changes. The local packages are
# installed by silent runs, which write nothing at all.
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
        flip = lambda d: d[:99] + bytes([d[99] ^ 1]) + d[100:]  # noqa: E731
        kept = {"outside/kept.txt": b"kept\n"}
        accepted, older = "signature: accepted", "older than the one installed"
        other_release = "not made for this product and channel"
        cases = {
            "good": Row(sign, None, True, r"%s, key %s, release \d+, product korvanta, channel "
                        "stable" % (accepted, key_id(ARGS.secret_key))),
            "same release again": Row(sign, SAME, True, accepted),
            "one changed byte": Row(then(flip, 0), None, False,
                                    "signature does not hold for the package"),
            # Signed as it is, but an item fails its check: the install fails,
            # and the kept signature stays that of the release installed.
            "signed damaged item": Row(lambda p, s: (rewrite(p, lambda d: d.replace(b"n 2", b"n 3")),
                                                     sign(p, s)), (2000,), False,
                                    r"install: .*, item korvanta-data\.txt, archive result 0x5000000"),
            "another key": Row(lambda p, s: sign(p, s, other), None, False, "made with another key"),
            "legacy signature": Row(lambda p, s: sign(p, s, None, "-l"), None, False,
                                    r"\(legacy or unknown algorithm\)"),
            "older release": Row(signed_at(1000), (2000,), False, older),
            "trusted comment changed": Row(then(lambda d: b"\n".join(
                d.split(b"\n")[:2] + [newer] + d.split(b"\n")[3:]), 1), None, False,
                "the trusted comment's signature does not hold"),
            "no signature": Row(None, None, False, r"minisig: failed, HTTP 404|signature missing"),
            "cut short": Row(then(lambda d: d[:len(d) * 2 // 3], 1), None, False,
                             "signature missing, cut short"),
            "10 MB of garbage": Row(then(lambda d: os.urandom(10 << 20), 1), None, False,
                                    r"minisig: failed, HTTP 200|too large"),
            # What the signature says it is for.
            "another product": Row(lambda p, s: sign(p, s, product="orinta"), None, False,
                                   other_release, DOWNLOADED),
            "another channel": Row(lambda p, s: sign(p, s, channel="beta"), None, False,
                                   other_release, DOWNLOADED),
            "bare comment": Row(lambda p, s: sign(p, s, None, "-t", "timestamp:%d" % NOW), None,
                                False, other_release, DOWNLOADED),
            "same time, another signature": Row(signed_at(2000), (2000,), False, older, DOWNLOADED),
            "more than a day ahead": Row(signed_at(NOW + 90000), None, False,
                                         "ahead of this machine's clock", DOWNLOADED),
            # The next key signs; the floor stays whichever key set it.
            "next key": Row(lambda p, s: sign(p, s, ARGS.next_key), (2000,), True,
                            "%s, key %s" % (accepted, key_id(ARGS.next_key)), DOWNLOADED),
            "floor set by the next key": Row(signed_at(1000), (2000, ARGS.next_key), False, older,
                                             DOWNLOADED),
            "floor set by a key no longer built in": Row(signed_at(1000), (2000, other), False,
                                                         older, DOWNLOADED),
            # The signature comes first and bounds the package.
            "endless body": Row(sign, None, False, "download: the download failed", DOWNLOADED,
                                endless=2147483647),
            "larger than the disk": Row(lambda p, s: sign(p, s, None, "-t", "timestamp:%d\tproduct:"
                                                          "korvanta\tchannel:stable\tsize:%d"
                                                          % (NOW, 1 << 50)),
                                        None, False, "the disk has no room", DOWNLOADED, endless=0),
            # Planted files and links get nowhere.
            "item over the journal": Row(sign, None, False, "install: .*, item Update\.Journal",
                                         DOWNLOADED,
                                         items=[DATA, zip_item("Update.Journal", b"x")]),
            "journal naming ..": Row(sign, None, True, accepted, DOWNLOADED, dict(kept, **{
                "program/update.journal": journal(b"../outside", b"korvanta-data.txt")})),
            "stray journal": Row(sign, None, True, accepted, DOWNLOADED,
                                 {"program/update.journal": b"not a journal\n"}),
        }
        if not ARGS.emulator:  # links that wine would follow as the files they name
            cases.update({"link at " + name: Row(sign, None, False, "failed", DOWNLOADED,
                                                 dict(kept, **{"program/" + name:
                                                               "../outside/kept.txt"}))
                for name in ("update.zip.minisig.down", "update.zip.down", "update.zip.down.info")})
            # An elevated run's hand-over folder is a link to another folder,
            # whose package is a link too: it is not read through.
            cases["hand-over folder as a link"] = Row(sign, None, False, "signature missing", LOCAL, {
                "outside/tmp/korvanta-update": "../elsewhere",
                "outside/elsewhere/update.zip": "../../local.zip",
                "outside/elsewhere/update.zip.minisig": "../../local.zip.minisig"},
                "outside/tmp/korvanta-update/update.zip")
        for name, row in cases.items():
            for local in row.ways:
                with self.subTest(name, local=local):
                    self.check(os.path.join(self.work, "%s-%d" % (
                        name.replace(" ", "-").replace(",", ""), local)), row, local)

    def check(self, root, row, local):
        items = row.items or [DATA]
        package, argument = publish(self, "signed/" + os.path.basename(root), items)
        if local or row.endless is not None:
            package = argument = os.path.join(root, "local.zip")
            make_zip(package, items)
        program = ProgramDir(os.path.join(root, "program"), ARGS.signed_updater)
        kept, signature = program.join("installed-release.minisig"), package + ".minisig"
        if isinstance(row.kept, tuple):  # any file signed as the installed release
            signed_at(*row.kept)(ARGS.signed_updater, kept)
        if row.signs:
            row.signs(package, signature)
        if row.kept == SAME:
            shutil.copy(signature, kept)
        kept_before = read_if_there(kept)
        plant(root, row.plant)
        outside_before = outside(root)
        argument = os.path.join(root, row.argument) if row.argument else argument
        if row.endless is not None:
            paths = []
            server = endless_server(read_if_there(signature), row.endless, paths)
            self.addCleanup(server.close)
            argument = "http://127.0.0.1:%d/%s/update.zip?token=1" % (server.port, ARGS.domain)

        if local:
            status, shown = program.run_silent(argument)
            self.assertEqual(shown, "")
        else:
            status, shown = program.run_answered(argument, box=not row.accepted)
            self.assertEqual(MESSAGE_2 in shown, not row.accepted, shown)
        self.assertEqual((status, program.read("korvanta-data.txt")),
                         (UPDATED, "version 2\n") if row.accepted else (NOT_UPDATED, "version 1\n"))
        self.assertRegex(program.run_log(), row.logged)
        # Planted names in the program directory are gone (a journal moved
        # aside, a link removed), and nothing outside it changed.
        self.assertEqual(([n for n in row.plant if os.path.lexists(os.path.join(root, n)) and
                           n.startswith("program/")], outside(root)), ([], outside_before))
        if row.accepted:
            self.assertTrue(wait_until(lambda: program.starts(), 10))
            self.assertEqual(read_if_there(kept), read_if_there(signature))
        else:
            self.assertEqual((program.starts(), read_if_there(kept)), ([], kept_before))
        if local:  # the user's archive and signature stay; the run's copy goes
            self.assertEqual((os.path.exists(package), os.path.exists(signature),
                              program.leftovers()), (True, row.signs is not None, []))
        elif not row.accepted:  # nothing of the download is left
            self.assertEqual([n for n in os.listdir(program.path) if n.startswith("update.zip")],
                             [])
        if row.endless is not None:  # the signature first; a package too large is not asked for
            path = "/%s/update.zip" % ARGS.domain
            self.assertEqual(paths[:1], [path + ".minisig?token=1"])
            self.assertEqual(set(paths[1:]), {path + "?token=1"} if row.endless else set())


# A package of stored items of `size` bytes each, one for each seed: an item
# of a changed seed has other bytes, its length and the length of its name
# stay.
def delta_items(seeds, size=8192):
    return [zip_item("items/%05d.bin" % (seed % 1000), random.Random(seed).randbytes(size))
            for seed in seeds]


# What nginx sent for the requests of `path`: (range asked for, bytes) each.
def nginx_sent(path):
    sent = []
    for line in (read_if_there(os.environ["UPDATER_TEST_NGINX_ACCESS_LOG"]) or b"").decode().splitlines():
        fields = line.split(" ")
        if fields[0] == "GET" and fields[1].split("?")[0] == path:
            asked = line.split('range="')[1].split('"')[0]
            sent.append(("" if asked == "-" else asked, int(fields[3])))
    return sent


def range_bytes(value):
    return sum(int(b) - int(a) + 1 for a, b in (r.split("-") for r in value[6:].split(",")))


# Previous seeds, new seeds, how the map is published (None: none; a
# function: the map's bytes changed), where the package is served, bytes
# fetched by ranges at most (a share of the package), whether the package
# came whole, whether it is signed and run by the updater with the test key.
DeltaRow = collections.namedtuple("DeltaRow", "new map where share whole signed",
                                  defaults=(True, "files", 0.10, False, False))
OLD_SEEDS = list(range(200))


# Where the program directory holds the previous update.zip and the server
# publishes the new package's block map, only the blocks the previous
# package lacks travel; any failure ends in the whole download, without a
# message.
class DeltaRun(unittest.TestCase):
    def test_package_built_from_the_previous_one(self):
        flip = lambda d: d[:30] + bytes([d[30] ^ 1]) + d[31:]  # noqa: E731
        changed = [s + 1000 if s % 20 == 7 else s for s in OLD_SEEDS]  # 5 % of the items
        cases = {
            "5 % changed": DeltaRow(changed),
            # The map's hash of the package built is the one its signature signs.
            "5 % changed, signed": DeltaRow(changed, signed=True),
            "nothing changed": DeltaRow(OLD_SEEDS, share=0.0),
            "everything changed": DeltaRow([s + 5000 for s in OLD_SEEDS], share=1.0),
            "one item inserted at the front": DeltaRow([9999] + OLD_SEEDS, share=0.10),
            "no map": DeltaRow(changed, map=None, whole=True),
            "damaged map": DeltaRow(changed, map=flip, whole=True),
            "map cut short": DeltaRow(changed, map=lambda d: d[:-1], whole=True),
            "server ignoring Range": DeltaRow(changed, where="norange", whole=True),
        }
        for name, row in cases.items():
            if row.signed and not ARGS.signed_updater:
                continue  # the signature test below says why
            with self.subTest(name):
                self.check(name.replace(" ", "-").replace("%", "pct").replace(",", ""), row)

    def publish_with_map(self, case, seeds, map_change=True):
        package, url = publish(self, "delta/" + case, delta_items(seeds))
        if map_change is not None:
            subprocess.run([*emulator(), ARGS.blockmap, native(package)], check=True)
            if callable(map_change):
                rewrite(package + ".blockmap", map_change)
        return package, url

    def program_with_previous(self, case, updater=None):
        program = ProgramDir(scratch(self, "updater-delta-"), updater)
        make_zip(program.join("update.zip"), delta_items(OLD_SEEDS))
        os.utime(program.join("update.zip"), (1000000000, 1000000000))
        return program

    def check(self, case, row, relay=None):
        package, url = self.publish_with_map(case, row.new, row.map)
        if row.signed:
            sign(package, package + ".minisig")
        program = self.program_with_previous(case, ARGS.signed_updater if row.signed else None)
        url = url.replace("/files/", "/%s/" % row.where)
        status, output = program.run_silent(url if relay is None else relay(url))
        log = program.run_log()
        self.assertEqual((status, output, program.read("update.zip", "rb"), program.leftovers()),
                         (UPDATED, "", read_if_there(package),
                          ["update.zip.minisig"] if row.signed else []), log)
        served = nginx_sent("/" + url.split("/", 3)[3])
        ranged = sum(sent for asked, sent in served if asked)
        size = os.path.getsize(package)
        self.assertEqual([asked for asked, _ in served if not asked] != [], row.whole, served)
        if not row.whole:
            self.assertIn("delta: built from the previous package", log)
            self.assertLessEqual(ranged, row.share * size + 2048 * (row.share > 0), served)
        return served, log

    # A break in the middle of the ranges: what arrived is kept, and the next
    # request asks only for what is still missing.
    def test_break_then_only_what_is_missing(self):
        port = int(os.environ["UPDATER_TEST_HTTP_PORT"])
        ranges = []

        def answer(conn, index):
            request = read_request(conn)
            asked = [line for line in request.split(b"\r\n") if line.lower().startswith(b"range:")]
            with socket.create_connection(("127.0.0.1", port)) as upstream:
                upstream.sendall(request)
                sent = 0
                for chunk in iter(lambda: upstream.recv(65536), b""):
                    if asked and not ranges and sent + len(chunk) > 100000:
                        conn.sendall(chunk[:100000 - sent])
                        break
                    conn.sendall(chunk)
                    sent += len(chunk)
            ranges.extend(range_bytes(a.split(b" ", 1)[1].decode()) for a in asked)
        server = Server(answer)
        self.addCleanup(server.close)
        changed = [s + 1000 if s % 4 == 1 else s for s in OLD_SEEDS]  # a quarter: > 100 kB
        self.check("break", DeltaRow(changed, share=1.0),
                   lambda url: url.replace(os.environ["UPDATER_TEST_HTTP_PORT"], str(server.port)))
        self.assertEqual(len(ranges), 2, ranges)
        self.assertLess(ranges[1], ranges[0] - 90000, ranges)

    # A package built from the previous one whose signature does not hold is
    # refused; the package is then fetched whole, refused again, and the run
    # ends in message 2.
    def test_signature_not_matching_the_built_package(self):
        if not ARGS.signed_updater:
            (self.fail if os.environ.get("CI") == "true" else self.skipTest)("no signed updater")
        changed = [s + 1000 if s % 20 == 7 else s for s in OLD_SEEDS]
        package, url = self.publish_with_map("signature", changed)
        # Signed as another package of the same name and size.
        other = os.path.join(scratch(self), "update.zip")
        shutil.copy(package, other)
        rewrite(other, lambda d: d[:50] + bytes([d[50] ^ 1]) + d[51:])
        sign(other, package + ".minisig")
        program = self.program_with_previous("signature", ARGS.signed_updater)
        status, shown = program.run_answered(url, box=True)
        log = program.run_log()
        self.assertEqual((status, MESSAGE_2 in shown, program.read("korvanta-data.txt")),
                         (NOT_UPDATED, True, "version 1\n"), log)
        self.assertIn("delta: built from the previous package", log)
        self.assertIn("the package built from the previous one was refused", log)
        path = "/" + url.split("/", 3)[3]
        self.assertEqual([asked for asked, _ in nginx_sent(path)][-1:], [""])
        self.assertEqual(log.count("signature does not hold for the package"), 2, log)


if __name__ == "__main__":
    main("--blockmap", "--signed-updater", "--secret-key", "--next-key", "--answer-box", "--internet-settings")
