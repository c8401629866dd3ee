# Fault injection end to end: updater-fetch and the updater against loopback
# servers that cut connections, stall, drip and lie, processes killed with
# SIGKILL in the middle of a download, a file-size limit that fills the "disk"
# during a download, hostile item names, and --public-key against signatures
# minisign makes here. (The install's own faults are in
# install_transaction_test.py.)
#
# Run through tests/peers/with-peers.sh with UPDATER_TEST_BIG_FILE_MIB=64:
#   fault_injection_test.py --fetch PATH --updater PATH --standin PATH --domain NAME
#                           [unittest args]
# Random choices (cut offsets, kill points, garbage) come from one seed,
# UPDATER_FAULTS_SEED (default 20240611), printed at the start; every wait is
# bounded.
#
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, EXIT_FAILED, EXIT_OK, MESSAGE_2, ProgramDir, Server,  # noqa: E402
                         file_size_limit, loopback, main, make_zip, read_if_there,
                         read_request, scratch, wait_until, zip_item)

SEED = int(os.environ.get("UPDATER_FAULTS_SEED", "20240611"))
EXIT_STOPPED = 2


def same_file(a, b):
    return read_if_there(a) == read_if_there(b)


class RelayProxy:
    """Passes each request to nginx and the response back, counting what goes
    over the wire. Connection i is cut (its body stopped, then closed in
    order, so every byte sent arrives) when the body reaches the absolute
    offset cuts[i]; connections below `slow` are relayed at about 4 MB/s."""

    def __init__(self, upstream_port, cuts=(), slow=0):
        self.upstream_port = upstream_port
        self.cuts = list(cuts)
        self.slow = slow
        self.records = {}
        self.server = Server(self._relay)
        self.port = self.server.port

    def ordered(self):
        return [self.records[i] for i in sorted(self.records)]

    def _relay(self, client, index):
        request = read_request(client)
        m = re.search(rb"\r\nRange: bytes=(\d+)-", request, re.I)
        record = {"range": int(m.group(1)) if m else None, "status": None, "body": 0}
        self.records[index] = record
        cut = self.cuts[index] if index < len(self.cuts) else None
        with socket.create_connection(("127.0.0.1", self.upstream_port), timeout=30) as upstream:
            upstream.sendall(request)
            head = b""
            position = None  # absolute body offset of the next byte
            while True:
                data = upstream.recv(65536 if index < self.slow else 262144)
                if not data:
                    break
                if position is None:
                    head += data
                    end = head.find(b"\r\n\r\n")
                    if end < 0:
                        continue
                    header, data = head[:end + 4], head[end + 4:]
                    record["status"] = int(header.split()[1])
                    client.sendall(header)
                    position = record["range"] if record["status"] == 206 else 0
                if cut is not None and position + len(data) >= cut:
                    data = data[:max(0, cut - position)]
                    client.sendall(data)
                    record["body"] += len(data)
                    break
                client.sendall(data)
                position += len(data)
                record["body"] += len(data)
                if index < self.slow:
                    time.sleep(0.016)
        client.shutdown(socket.SHUT_WR)

    def close(self):
        self.server.close()


class FaultCase(unittest.TestCase):
    def setUp(self):
        self.http_port, self.docroot = loopback(self)
        self.rng = random.Random("%d-%s" % (SEED, self.id()))
        self.scratch = scratch(self, "updater-faults-")

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def fetch(self, url, target, *options, timeout=120, preexec=None):
        started = time.monotonic()
        result = subprocess.run([ARGS.fetch, "--quiet", *options, url, target],
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                                preexec_fn=preexec)
        return result, time.monotonic() - started

    def serve(self, handle):
        server = Server(handle)
        self.addCleanup(server.close)
        return server

    def proxy(self, **kw):
        p = RelayProxy(self.http_port, **kw)
        self.addCleanup(p.close)
        return p


# --- cuts ------------------------------------------------------------------


class CutConnections(FaultCase):
    def test_twenty_random_cuts_of_64_mib_each_resume_where_they_broke(self):
        source = os.path.join(self.docroot, "files", "huge.bin")
        size = os.path.getsize(source)
        self.assertEqual(size, 64 << 20, "with-peers.sh needs UPDATER_TEST_BIG_FILE_MIB=64")
        cuts = sorted(self.rng.sample(range(1, size), 20))
        proxy = self.proxy(cuts=cuts)
        target = self.path("huge.bin")
        result, elapsed = self.fetch("http://127.0.0.1:%d/files/huge.bin" % proxy.port, target,
                                     "--receive-timeout", "10000")
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertTrue(same_file(target, source))
        self.assertFalse(os.path.exists(target + ".down"))

        # The first request asks for all; each later one for the rest from
        # the byte where the previous connection broke.
        starts, ends = [0] + cuts, cuts + [size]
        expected = [(s, 206, e - s) for s, e in zip(starts, ends)]
        expected[0] = (None, 200, ends[0])
        self.assertEqual([(r["range"], r["status"], r["body"]) for r in proxy.ordered()], expected)


class KillDuringDownload(FaultCase):
    def test_updater_killed_mid_download_resumes_and_installs(self):
        served = os.path.join(self.docroot, "files", ARGS.domain, "faults-kill", "update.zip")
        payload = self.rng.randbytes(12 << 20)
        make_zip(served, [zip_item("payload.bin", payload),
                          zip_item("korvanta-data.txt", b"version 2\n")])
        proxy = self.proxy(slow=2)  # HEAD and the first GET
        url = "http://127.0.0.1:%d/files/%s/faults-kill/update.zip" % (proxy.port, ARGS.domain)
        program = ProgramDir(self.path("program"))
        temp = program.join("update.zip.down")
        kill_at = self.rng.randrange(2 << 20, 6 << 20)
        proc = program.start(url)
        try:
            self.assertTrue(wait_until(
                lambda: os.path.exists(temp) and os.path.getsize(temp) >= kill_at, 30))
        finally:
            proc.kill()
            proc.communicate(timeout=10)
        left = os.path.getsize(temp)
        self.assertFalse(os.path.exists(program.join("payload.bin")))

        status, err = program.run(url)
        self.assertEqual(status, 0, err)
        self.assertNotIn(MESSAGE_2, err)
        self.assertTrue(same_file(program.join("update.zip"), served))
        self.assertEqual(program.read("payload.bin", "rb"), payload)
        gets = [r for r in proxy.ordered() if r["status"] in (200, 206) and r["body"] > 0]
        self.assertEqual((gets[-1]["range"], gets[-1]["status"]), (left, 206), proxy.ordered())
        self.assertTrue(wait_until(lambda: program.starts(), 10))


# --- a full disk ---------------------------------------------------------------


class DiskFull(FaultCase):
    LIMIT = 1 << 20

    def test_a_download_past_the_file_size_limit_fails_and_keeps_no_target(self):
        target = self.path("big.bin")
        result, elapsed = self.fetch("http://127.0.0.1:%d/files/big.bin" % self.http_port, target,
                                     preexec=file_size_limit(self.LIMIT), timeout=60)
        self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
        self.assertFalse(os.path.exists(target))
        self.assertLessEqual(os.path.getsize(target + ".down"), self.LIMIT)
        self.assertLess(elapsed, 30)


# --- hostile servers -----------------------------------------------------------


def drip(data, interval):
    def handle(conn, index):
        read_request(conn)
        for i in range(len(data)):
            conn.sendall(data[i:i + 1])
            time.sleep(interval)
    return handle


def silent(conn, index):
    read_request(conn)
    conn.settimeout(30)
    try:
        conn.recv(1)  # until the client gives up
    except OSError:
        pass


def answer(data):
    def handle(conn, index):
        read_request(conn)
        conn.sendall(data)
    return handle


def endless_line(first=b""):
    def handle(conn, index):
        read_request(conn)
        block = b"x" * 4096
        try:
            conn.sendall(first)
            for _ in range(1024):  # 4 MiB at most
                conn.sendall(block)
        except OSError:
            pass
    return handle


# A header whose last line's text ends exactly at the 64 KiB limit, which
# leaves no room, not even for its own line break.
START = b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
AT_THE_LIMIT = START + b"X: " + b"v" * (65536 - len(START) - 3) + b"\r\n"


class HostileServers(FaultCase):
    def test_each_ends_within_its_time_outs_with_the_named_result(self):
        garbage = bytes(self.rng.randrange(256) for _ in range(3000))
        # Without a NUL byte a garbled header (here with a bare LF line) is
        # transient: retried forever.
        no_nul = b"no status line\n" + bytes(self.rng.randrange(1, 256) for _ in range(500))
        # ... and a signal is sent once the first answer has gone out whole.
        answered = lambda server: [t.is_alive() for t in server.threads] == [False]  # noqa: E731
        # (name, handler, options, exit status, connections, most seconds from
        # the start or the signal[, (signal, sent once this holds of the server)])
        cases = [
            ("drips the header 1 byte/s", drip(b"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody", 1.0),
             ["--receive-timeout", "700"], EXIT_FAILED, 1, 5),
            ("never answers", silent, ["--receive-timeout", "1000", "--retry", "2"],
             EXIT_FAILED, 3, 10),
            # A header cut short by the close is a transient failure.
            ("answers random bytes", answer(garbage), [], EXIT_FAILED, 1, 5),
            # ... but one with a NUL byte in it is no HTTP header at all.
            ("answers a TLS alert", answer(b"\x15\x03\x01\x00\x02\x02\x46"), ["--retry", "2"],
             EXIT_FAILED, 1, 5),
            # Headers that can never be right are fatal, whatever the retry policy.
            ("sends one endless header line", endless_line(), ["--retry", "forever"], EXIT_FAILED, 1,
             10),
            ("sends an endless line after the limit", endless_line(AT_THE_LIMIT), ["--retry", "1"],
             EXIT_FAILED, 1, 10),
            ("sends a chunked body", answer(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                           b"4\r\nbody\r\n0\r\n\r\n"), ["--retry", "forever"],
             EXIT_FAILED, 1, 5),
            ("redirects to itself",
             answer(b"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n"),
             ["--retry", "forever"], EXIT_FAILED, 21, 10),
            ("ignores Range and cuts short", answer(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
             [], EXIT_FAILED, 4, 10),
            ("closes at once", answer(b""), ["--retry", "3", "--retry-delay", "50"], EXIT_FAILED, 4,
             10),
            # Each wait is bounded, not the transfer: 41 bytes, one each 50 ms.
            ("drips slowly but steadily", drip(b"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc",
                                               0.05), ["--receive-timeout", "1000"], EXIT_OK, 1, 10),
            # A signal ends a wait far within its time-out, or a retry pause, at once.
            ("SIGINT while a header never comes", silent, ["--quiet", "--receive-timeout", "600000"],
             EXIT_STOPPED, 1, 2, (signal.SIGINT, lambda server: server.connections == 1)),
            ("SIGTERM in a pause of retrying forever", answer(no_nul),
             ["--quiet", "--retry", "forever", "--retry-delay", "600000"], EXIT_STOPPED, 1, 2,
             (signal.SIGTERM, answered)),
        ]
        for name, handler, options, status, connections, most, *stop in cases:
            with self.subTest(name):
                server = self.serve(handler)
                target = self.path("out-%d" % server.port)
                proc = subprocess.Popen([ARGS.fetch, *options, "http://127.0.0.1:%d/f" % server.port,
                                         target], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                self.addCleanup(proc.wait)
                self.addCleanup(proc.kill)
                started = time.monotonic()
                for sig, until in stop:
                    self.assertTrue(wait_until(lambda: until(server), 10))
                    started = time.monotonic()
                    proc.send_signal(sig)
                _, err = proc.communicate(timeout=most + 20)
                self.assertEqual(proc.returncode, status, err)
                if status == EXIT_OK:
                    self.assertNotEqual(err, b"")  # progress lines, without a terminal
                self.assertLess(time.monotonic() - started, most)
                self.assertEqual(server.connections, connections)
                self.assertEqual(read_if_there(target), b"abc" if status == EXIT_OK else None)

    def test_head_prints_only_a_last_modified_the_server_gave(self):
        for last_modified, printed in [(b"", b""),
                                       (b"Last-Modified: soon\r\n", b""),
                                       (b"Last-Modified: Thu, 04 Mar 2021 06:06:07 +0100\r\n",
                                        b"Last-Modified: Thu, 04 Mar 2021 05:06:07 GMT\n")]:
            with self.subTest(last_modified):
                server = self.serve(answer(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" +
                                           last_modified + b"\r\n"))
                result = subprocess.run([ARGS.fetch, "--head", "http://127.0.0.1:%d/f" % server.port],
                                        stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
                self.assertEqual(result.returncode, EXIT_OK, result.stderr)
                self.assertEqual(result.stdout, b"Content-Length: 5\n" + printed)

    def test_the_updater_facing_garbage_shows_message_two_and_installs_nothing(self):
        server = self.serve(answer(b"\x00\xff garbage \r\n\r\n" * 10))
        program = ProgramDir(self.path("program"))
        started = time.monotonic()
        status, err = program.run("http://127.0.0.1:%d/%s/update.zip" % (server.port, ARGS.domain),
                                  timeout=30)
        self.assertEqual(status, 0, err)
        self.assertIn(MESSAGE_2, err)
        self.assertLess(time.monotonic() - started, 15)
        self.assertFalse(os.path.exists(program.join("update.zip")))
        self.assertEqual(program.starts(), [])


# --- signed downloads ------------------------------------------------------------


class SignedFetch(FaultCase):
    def test_a_file_is_kept_only_when_its_signature_verifies(self):
        minisign = shutil.which("minisign")
        if not minisign:
            self.fail("minisign missing (tools/install-deps.sh build)")
        pub, key = self.path("k.pub"), self.path("k.key")
        subprocess.run([minisign, "-G", "-W", "-p", pub, "-s", key], check=True,
                       stdout=subprocess.DEVNULL)
        with open(pub) as f:
            public = f.read().splitlines()[1]
        signed = os.path.join(self.docroot, "files", "signed")
        os.makedirs(signed, exist_ok=True)
        good = os.path.join(signed, "good.zip")
        with open(good, "wb") as f:
            f.write(self.rng.randbytes(5000))
        subprocess.run([minisign, "-S", "-s", key, "-m", good], check=True,
                       stdout=subprocess.DEVNULL)
        with open(good, "rb") as f, open(os.path.join(signed, "bad.zip"), "wb") as g:
            g.write(f.read() + b"x")
        shutil.copy(good + ".minisig", os.path.join(signed, "bad.zip.minisig"))
        url = "http://127.0.0.1:%d/files/signed/%%s" % self.http_port
        # (file, key, exit status)
        cases = [("good.zip", public, EXIT_OK), ("bad.zip", public, EXIT_FAILED),
                 ("good.zip", public[:-1], 64)]  # a key that is no key is bad usage
        for i, (name, given, status) in enumerate(cases):
            with self.subTest(name=name, key=given[-4:]):
                target = self.path("%d-%s" % (i, name))
                result, _ = self.fetch(url % name, target, "--public-key", given)
                self.assertEqual(result.returncode, status, result.stderr)
                if status == EXIT_OK:
                    self.assertTrue(same_file(target, good))
                    self.assertTrue(same_file(target + ".minisig", good + ".minisig"))
                else:
                    kept = [n for n in os.listdir(self.scratch) if n.startswith("%d-" % i)]
                    self.assertEqual(kept, [])


if __name__ == "__main__":
    print("fault injection: seed %d (UPDATER_FAULTS_SEED)" % SEED, file=sys.stderr)
    main("--fetch")
