"""Fault injection end to end: updater-fetch and the updater against loopback
servers that cut connections, stall, drip and lie, processes killed with
SIGKILL in the middle of a download, a file-size limit that fills the "disk"
during a download, and hostile item names. (The install's own faults are in
install_transaction_test.py.)

Run through tests/peers/with-peers.sh with UPDATER_TEST_BIG_FILE_MIB=64:
  fault_injection_test.py --fetch PATH --updater PATH --standin PATH [unittest args]
Random choices (cut offsets, kill points, garbage) come from one seed,
UPDATER_FAULTS_SEED (default 20240611), printed at the start; every wait is
bounded.
"""
import argparse
import hashlib
import os
import random
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

FETCH = UPDATER = STANDIN = None
SEED = int(os.environ.get("UPDATER_FAULTS_SEED", "20240611"))
DOMAIN = None  # the vendor domain the updater under test was built with
MESSAGE_2 = "非常抱歉，可能因为网络原因，本次升级失败。"
EXIT_OK, EXIT_FAILED = 0, 3
FIGURES = {"cases": 0}


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def wait_until(predicate, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def read_request(conn, limit=65536):
    data = b""
    while b"\r\n\r\n" not in data and len(data) < limit:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


class Server:
    """A loopback TCP server on a port the system picks; `handle(conn, index)`
    runs on a thread of its own for every connection."""

    def __init__(self, handle):
        self.handle = handle
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.connections = 0
        self.lock = threading.Lock()
        self.stopping = False
        self.threads = []
        self.acceptor = threading.Thread(target=self._accept, daemon=True)
        self.acceptor.start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                index = self.connections
                self.connections += 1
            t = threading.Thread(target=self._serve, args=(conn, index), daemon=True)
            self.threads.append(t)
            t.start()

    def _serve(self, conn, index):
        try:
            self.handle(conn, index)
        except OSError:
            pass
        finally:
            conn.close()

    def close(self):
        self.stopping = True
        self.listener.close()
        for t in self.threads:
            t.join(5)


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
        record = {"range": int(m.group(1)) if m else None, "status": None, "header": 0, "body": 0}
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
                    record["header"] = len(header)
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
        port = os.environ.get("UPDATER_TEST_HTTP_PORT")
        if not port:
            self.fail("loopback peers missing: run through tests/peers/with-peers.sh")
        self.http_port = int(port)
        self.docroot = os.environ["UPDATER_TEST_DOCROOT"]
        self.rng = random.Random("%d-%s" % (SEED, self.id()))
        self.scratch = tempfile.mkdtemp(prefix="updater-faults-")
        self.addCleanup(self._remove_scratch)
        FIGURES["cases"] += 1

    def _remove_scratch(self):
        for root, dirs, files in os.walk(self.scratch):
            for name in dirs + files:
                try:
                    os.chmod(os.path.join(root, name), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.scratch, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def fetch(self, url, target, *options, timeout=120, preexec=None):
        started = time.monotonic()
        result = subprocess.run([FETCH, "--quiet", *options, url, target], stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout, preexec_fn=preexec)
        return result, time.monotonic() - started

    def serve(self, handle):
        server = Server(handle)
        self.addCleanup(server.close)
        return server

    def proxy(self, **kw):
        p = RelayProxy(self.http_port, **kw)
        self.addCleanup(p.close)
        return p


class ProgramDir:
    """A program directory with a copy of the updater and the stand-in."""

    def __init__(self, path):
        self.path = path
        os.makedirs(path, exist_ok=True)
        shutil.copy2(UPDATER, os.path.join(path, "updater"))
        shutil.copy2(STANDIN, os.path.join(path, "Korvanta.exe"))

    def join(self, *parts):
        return os.path.join(self.path, *parts)

    def start(self, argument, preexec=None):
        env = dict(os.environ, UPDATER_UI="plain")
        return subprocess.Popen([self.join("updater"), argument], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env,
                                preexec_fn=preexec)

    def run(self, argument, timeout=60, preexec=None):
        proc = self.start(argument, preexec)
        try:
            _, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise
        return proc.returncode, err.decode(errors="replace")

    def starts(self):
        try:
            with open(self.join("Korvanta.log")) as f:
                return [line for line in f if line.startswith("started")]
        except FileNotFoundError:
            return []


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
        self.assertEqual(sha256_file(target), sha256_file(source))
        self.assertFalse(os.path.exists(target + ".down"))

        records = proxy.ordered()
        self.assertEqual(len(records), 21, records)
        starts = [0] + cuts
        for i, record in enumerate(records):
            # The first request asks for all; each later one for the rest
            # from the byte where the previous connection broke.
            self.assertEqual(record["range"], None if i == 0 else starts[i], (i, record))
            self.assertEqual(record["status"], 200 if i == 0 else 206, (i, record))
            end = cuts[i] if i < 20 else size
            self.assertEqual(record["body"], end - starts[i], (i, record))
        body = sum(r["body"] for r in records)
        headers = sum(r["header"] for r in records)
        self.assertEqual(body, size)
        self.assertLess(headers, 21 * 512)
        FIGURES["cut_wire"] = (size, body + headers, headers, elapsed)

    def test_connections_cut_before_any_body_byte_count_as_one_transient_failure(self):
        source = os.path.join(self.docroot, "files", "big.bin")
        # (cuts at body offset 0, --retry, exit status, connections made)
        cases = [
            ([0, 0], "none", EXIT_OK, 3),      # two fruitless transfers, then the file
            ([0] * 12, "none", EXIT_FAILED, 3),  # three in a row are one failure
            ([0] * 12, "1", EXIT_FAILED, 6),     # ... and the one retry allows three more
        ]
        for cuts, retry, status, connections in cases:
            with self.subTest(cuts=len(cuts), retry=retry):
                proxy = RelayProxy(self.http_port, cuts=cuts)
                try:
                    target = self.path("big-%s-%d.bin" % (retry, len(cuts)))
                    result, _ = self.fetch("http://127.0.0.1:%d/files/big.bin" % proxy.port,
                                           target, "--retry", retry, timeout=60)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertEqual(proxy.server.connections, connections)
                    if status == EXIT_OK:
                        self.assertEqual(sha256_file(target), sha256_file(source))
                    else:
                        self.assertFalse(os.path.exists(target))
                finally:
                    proxy.close()


# --- kill -9 -----------------------------------------------------------------


class KillDuringDownload(FaultCase):
    def test_fetch_killed_mid_download_resumes_on_the_next_run(self):
        source = os.path.join(self.docroot, "files", "huge.bin")
        size = os.path.getsize(source)
        proxy = self.proxy(slow=1)  # the first connection is slow enough to be caught
        url = "http://127.0.0.1:%d/files/huge.bin" % proxy.port
        target = self.path("huge.bin")
        temp = target + ".down"
        kill_at = self.rng.randrange(2 << 20, 8 << 20)
        proc = subprocess.Popen([FETCH, "--quiet", url, target], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_until(
                lambda: os.path.exists(temp) and os.path.getsize(temp) >= kill_at, 30))
        finally:
            proc.kill()
            proc.wait(10)
        self.assertEqual(proc.returncode, -signal.SIGKILL)
        left = os.path.getsize(temp)
        self.assertLess(left, size)
        with open(temp, "rb") as f, open(source, "rb") as s:
            self.assertEqual(f.read(), s.read(left))

        result, _ = self.fetch(url, target)
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertEqual(sha256_file(target), sha256_file(source))
        resumed = proxy.ordered()[1]
        self.assertEqual((resumed["range"], resumed["status"]), (left, 206), resumed)
        self.assertEqual(resumed["body"], size - left)

    def test_updater_killed_mid_download_resumes_and_installs(self):
        served = os.path.join(self.docroot, "files", DOMAIN, "faults-kill", "update.zip")
        os.makedirs(os.path.dirname(served), exist_ok=True)
        payload = self.rng.randbytes(12 << 20)
        with zipfile.ZipFile(served, "w", zipfile.ZIP_STORED) as z:
            z.writestr("payload.bin", payload)
            z.writestr("korvanta-data.txt", "version 2\n")
        proxy = self.proxy(slow=2)  # HEAD and the first GET
        url = "http://127.0.0.1:%d/files/%s/faults-kill/update.zip" % (proxy.port, DOMAIN)
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
        self.assertEqual(sha256_file(program.join("update.zip")), sha256_file(served))
        with open(program.join("payload.bin"), "rb") as f:
            self.assertEqual(sha256(f.read()), sha256(payload))
        gets = [r for r in proxy.ordered() if r["status"] in (200, 206) and r["body"] > 0]
        self.assertEqual((gets[-1]["range"], gets[-1]["status"]), (left, 206), proxy.ordered())
        self.assertTrue(wait_until(lambda: program.starts(), 10))


# --- a full disk ---------------------------------------------------------------


def file_size_limit(limit):
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


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


def endless_line(conn, index):
    read_request(conn)
    block = b"x" * 4096
    try:
        for _ in range(1024):  # 4 MiB at most
            conn.sendall(block)
    except OSError:
        pass


def redirect_to_self(conn, index):
    read_request(conn)
    conn.sendall(b"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n")


class HostileServers(FaultCase):
    def test_each_ends_within_its_time_outs_with_the_named_result(self):
        garbage = bytes(self.rng.randrange(256) for _ in range(3000))
        # (name, handler, options, exit status, connections or None, most seconds)
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
            ("sends one endless header line", endless_line, ["--retry", "forever"], EXIT_FAILED, 1, 10),
            ("sends a chunked body", answer(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                           b"4\r\nbody\r\n0\r\n\r\n"), ["--retry", "forever"],
             EXIT_FAILED, 1, 5),
            ("redirects to itself", redirect_to_self, ["--retry", "forever"], EXIT_FAILED, 21, 10),
            ("ignores Range and cuts short", answer(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
             [], EXIT_FAILED, 4, 10),
            ("closes at once", answer(b""), ["--retry", "3"], EXIT_FAILED, 4, 10),
        ]
        for name, handler, options, status, connections, most in cases:
            with self.subTest(name):
                server = Server(handler)
                try:
                    target = self.path("out-%d" % server.port)
                    result, elapsed = self.fetch("http://127.0.0.1:%d/f" % server.port, target,
                                                 *options, timeout=most + 20)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertLess(elapsed, most)
                    if connections is not None:
                        self.assertEqual(server.connections, connections)
                    self.assertFalse(os.path.exists(target))
                finally:
                    server.close()
                FIGURES.setdefault("hostile", []).append((name, elapsed))

    def test_ctrl_c_ends_a_wait_for_a_header_that_never_comes(self):
        server = self.serve(silent)
        proc = subprocess.Popen([FETCH, "--quiet", "--receive-timeout", "600000",
                                 "http://127.0.0.1:%d/f" % server.port, self.path("waiting")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        try:
            self.assertTrue(wait_until(lambda: server.connections >= 1, 10))
            proc.send_signal(signal.SIGINT)
            proc.communicate(timeout=20)  # far less than the receive time-out
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual(proc.returncode, 2)  # stopped

    def test_head_prints_only_a_last_modified_the_server_gave(self):
        for last_modified, printed in [(b"", b""),
                                       (b"Last-Modified: soon\r\n", b""),
                                       (b"Last-Modified: Thu, 04 Mar 2021 06:06:07 +0100\r\n",
                                        b"Last-Modified: Thu, 04 Mar 2021 05:06:07 GMT\n")]:
            with self.subTest(last_modified):
                server = self.serve(answer(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" +
                                           last_modified + b"\r\n"))
                result = subprocess.run([FETCH, "--head", "http://127.0.0.1:%d/f" % server.port],
                                        stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
                self.assertEqual(result.returncode, EXIT_OK, result.stderr)
                self.assertEqual(result.stdout, b"Content-Length: 5\n" + printed)

    def test_retrying_forever_against_garbage_ends_when_stopped(self):
        # Without a NUL byte, which would make the failure final.
        server = self.serve(answer(bytes(self.rng.randrange(1, 256) for _ in range(500))))
        target = self.path("stopped")
        proc = subprocess.Popen([FETCH, "--quiet", "--retry", "forever", "--retry-delay", "50",
                                 "http://127.0.0.1:%d/f" % server.port, target],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        try:
            self.assertTrue(wait_until(lambda: server.connections >= 3, 10))
            stopped = time.monotonic()
            proc.send_signal(signal.SIGTERM)
            proc.communicate(timeout=10)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual(proc.returncode, 2)  # stopped
        self.assertLess(time.monotonic() - stopped, 2)
        self.assertFalse(os.path.exists(target))

    def test_a_slow_but_steady_server_is_not_cut_off(self):
        # Each wait is bounded, not the transfer: a body that drips one byte
        # per second arrives whole under a 3 s receive time-out.
        server = self.serve(self._header_then_drip(b"abc"))
        target = self.path("slow.txt")
        result, elapsed = self.fetch("http://127.0.0.1:%d/f" % server.port, target,
                                     "--receive-timeout", "3000", timeout=30)
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"abc")
        self.assertGreaterEqual(elapsed, 1.5)

    @staticmethod
    def _header_then_drip(body):
        def handle(conn, index):
            read_request(conn)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
            for i in range(len(body)):
                time.sleep(1.0)
                conn.sendall(body[i:i + 1])
        return handle

    def test_the_updater_facing_garbage_shows_message_two_and_installs_nothing(self):
        server = self.serve(answer(b"\x00\xff garbage \r\n\r\n" * 10))
        program = ProgramDir(self.path("program"))
        started = time.monotonic()
        status, err = program.run("http://127.0.0.1:%d/%s/update.zip" % (server.port, DOMAIN),
                                  timeout=30)
        self.assertEqual(status, 0, err)
        self.assertIn(MESSAGE_2, err)
        self.assertLess(time.monotonic() - started, 15)
        self.assertFalse(os.path.exists(program.join("update.zip")))
        self.assertEqual(program.starts(), [])


# --- hostile names through the updater ---------------------------------------


def hostile_names():
    prefixes = ["", "/", "\\", "//", "\\\\", "C:", "C:\\", "C:/", "\\\\srv\\share\\",
                "//srv/share/", "\\\\?\\C:\\", "::"]
    climbs = ["", "../", "..\\", "../../", "..\\..\\", "./../", "a/../../", "a\\..\\..\\",
              "x/..\\../", "..//", "....//", ".. /", "../" * 12]
    endings = ["slip.txt", "d/slip.txt", "d\\slip.txt"]
    names = [p + c + e for p in prefixes for c in climbs for e in endings]
    names += ["../" * 80 + "deep.txt", "n" * 250 + "/../../x"]
    return names


class HostileNames(FaultCase):
    def test_the_updater_writes_nothing_outside_its_directory(self):
        names = hostile_names()
        archive = self.path("hostile.zip")
        with zipfile.ZipFile(archive, "w") as z:
            for i, name in enumerate(names):
                info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
                info.create_system = 3
                info.external_attr = 0o100644 << 16
                z.writestr(info, b"item %d" % i)
        # The program directory sits two levels below the scratch directory,
        # beside the archive's directory, where a climb would land.
        program = ProgramDir(self.path("p", "program"))
        status, err = program.run(archive)
        self.assertEqual(status, 0, err)
        self.assertTrue(wait_until(lambda: program.starts(), 10))
        inside = os.path.join("p", "program") + os.sep
        outside = []
        written = 0
        for root, dirs, files in os.walk(self.scratch):
            for name in dirs + files:
                rel = os.path.relpath(os.path.join(root, name), self.scratch)
                if rel.startswith(inside):
                    written += name.endswith("slip.txt") or name == "deep.txt"
                elif rel not in ("hostile.zip", "p", os.path.join("p", "program")):
                    outside.append(rel)
        self.assertEqual(outside, [])
        self.assertGreater(written, 0)
        FIGURES["hostile_names_updater"] = len(names)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--fetch", required=True)
    parser.add_argument("--updater", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--domain", required=True)
    args, rest = parser.parse_known_args()
    DOMAIN = args.domain
    FETCH = os.path.abspath(args.fetch)
    UPDATER = os.path.abspath(args.updater)
    STANDIN = os.path.abspath(args.standin)
    print("fault injection: seed %d (UPDATER_FAULTS_SEED)" % SEED, file=sys.stderr)
    program = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False)
    print("fault injection figures: %r" % FIGURES, file=sys.stderr)
    sys.exit(0 if program.result.wasSuccessful() else 1)
