# Fault injection end to end: updater-fetch and the updater against loopback
# servers that cut connections, stall, drip and lie, the updater killed with
# SIGKILL in the middle of a download, and a file-size limit that fills the
# "disk" during a download. (The install's own faults are in
# install_transaction_test.py.)
#
# Run through tests/peers/with-peers.sh:
#   fault_injection_test.py --fetch PATH --updater PATH --standin PATH --domain NAME
#                           [unittest args]
# Random choices (kill points, garbage) come from one seed, UPDATER_FAULTS_SEED
# (default 20240611), printed at the start; every wait is bounded.
#
import os
import random
import re
import signal
import socket
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, EXIT_FAILED, EXIT_OK, MESSAGE_2, ProgramDir, Server,  # noqa: E402
                         file_size_limit, main, nginx, publish, read_if_there, read_request,
                         scratch, wait_until, zip_item)

SEED = int(os.environ.get("UPDATER_FAULTS_SEED", "20240611"))
EXIT_STOPPED = 2


# Passes each request to nginx and the response back, recording for each
# connection its method, Range start and status; connections below `slow` are
# relayed at about 4 MB/s.
class RelayProxy(Server):

    def __init__(self, slow):
        self.slow, self.records = slow, {}
        super().__init__(self._relay)

    def _relay(self, client, index):
        request = read_request(client)
        m = re.search(rb"\r\nRange: bytes=(\d+)-", request, re.I)
        record = self.records[index] = {"method": request.split(b" ")[0],
                                        "range": int(m.group(1)) if m else None}
        upstream_port = int(os.environ["UPDATER_TEST_HTTP_PORT"])
        with socket.create_connection(("127.0.0.1", upstream_port), timeout=30) as upstream:
            upstream.sendall(request)
            while data := upstream.recv(65536 if index < self.slow else 262144):
                if "status" not in record:  # the status line comes first
                    record["status"] = int(data.split(b" ")[1])
                client.sendall(data)
                if index < self.slow:
                    time.sleep(0.016)
        client.shutdown(socket.SHUT_WR)


class FaultCase(unittest.TestCase):
    def setUp(self):
        self.rng = random.Random("%d-%s" % (SEED, self.id()))
        self.scratch = scratch(self, "updater-faults-")

    def serve(self, server):
        self.addCleanup(server.close)
        return server


class KillAndAFullDisk(FaultCase):
    def test_updater_killed_mid_download_resumes_and_installs(self):
        payload = self.rng.randbytes(12 << 20)
        proxy = self.serve(RelayProxy(2))  # HEAD and the first GET
        served, url = publish(self, "faults-kill", [zip_item("payload.bin", payload), zip_item(
            "korvanta-data.txt", b"version 2\n")], proxy.port)
        program = ProgramDir(os.path.join(self.scratch, "program"))
        temp, kill_at = program.join("update.zip.down"), self.rng.randrange(2 << 20, 6 << 20)
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
        self.assertEqual((status, MESSAGE_2 in err, program.read("update.zip", "rb"),
                          program.read("payload.bin", "rb")),
                         (0, False, read_if_there(served), payload), err)
        gets = [r for _, r in sorted(proxy.records.items())
                if r["method"] == b"GET" and r.get("status") in (200, 206)]
        self.assertEqual((gets[-1]["range"], gets[-1]["status"]), (left, 206), proxy.records)
        self.assertTrue(wait_until(lambda: program.starts(), 10))

    def test_a_download_past_the_file_size_limit_fails_and_keeps_no_target(self):
        target, limit = os.path.join(self.scratch, "big.bin"), 1 << 20
        result = subprocess.run([ARGS.fetch, "--quiet", nginx(self, "files/big.bin")[1], target],
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                                preexec_fn=file_size_limit(limit))
        self.assertEqual((result.returncode, os.path.exists(target)), (EXIT_FAILED, False))
        self.assertLessEqual(os.path.getsize(target + ".down"), limit)


# --- hostile servers -----------------------------------------------------------


# Sends `data` (a byte each `interval` seconds if given), then up to
# `then_blocks` blocks of 4 KiB of one endless line. (Server ends a handler
# whose client has gone.)
def answer(data, interval=0, then_blocks=0):
    def handle(conn, index):
        read_request(conn)
        for piece in [data[i:i + 1] for i in range(len(data))] if interval else [data]:
            conn.sendall(piece)
            time.sleep(interval)
        for _ in range(then_blocks):
            conn.sendall(b"x" * 4096)
    return handle


# The first connection breaks by a reset after a byte of the body; a Range
# request is then answered with the rest, any other with the whole.
def reset_then_rest(conn, index):
    request = read_request(conn)
    if index == 0:
        conn.sendall(OK + b"3\r\n\r\na")
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()
    elif b"Range: bytes=1-" in request:
        conn.sendall(b"HTTP/1.1 206 Partial Content\r\nContent-Length: 2\r\n"
                     b"Content-Range: bytes 1-2/3\r\n\r\nbc")
    else:
        conn.sendall(OK + b"3\r\n\r\nabc")


# The first answer sends a byte of its body and then nothing for 2 s; a Range
# request is answered with the rest at once.
def stall_then_rest(conn, index):
    request = read_request(conn)
    offset = re.search(rb"Range: bytes=(\d+)-", request)
    if offset:
        at = int(offset.group(1))
        conn.sendall(b"HTTP/1.1 206 Partial Content\r\nContent-Length: %d\r\n"
                     b"Content-Range: bytes %d-2/3\r\n\r\n%s" % (3 - at, at, b"abc"[at:]))
        return
    conn.sendall(OK + b"3\r\n\r\na")
    time.sleep(2)
    conn.sendall(b"bc")


# Busy at first, with a Retry-After of a second; the file only to a request
# that waited for it.
def busy_then_file(conn, index):
    read_request(conn)
    if index == 0:
        busy_then_file.since = time.monotonic()
    waited = index > 0 and time.monotonic() - busy_then_file.since >= 0.9
    conn.sendall(OK + b"3\r\n\r\nabc" if waited else
                 b"HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 0\r\n\r\n")


def silent(conn, index):
    read_request(conn)
    conn.settimeout(30)
    conn.recv(1)  # until the client gives up


# A header whose last line's text ends exactly at the 64 KiB limit, which
# leaves no room, not even for its own line break.
START = b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
AT_THE_LIMIT = START + b"X: " + b"v" * (65536 - len(START) - 3) + b"\r\n"
OK = b"HTTP/1.1 200 OK\r\nContent-Length: "


class HostileServers(FaultCase):
    def test_each_ends_within_its_time_outs_with_the_named_result(self):
        garbage = bytes(self.rng.randrange(256) for _ in range(3000))
        # Without a NUL byte a garbled header (here with a bare LF line) is
        # transient: retried forever.
        no_nul = b"no status line\n" + bytes(self.rng.randrange(1, 256) for _ in range(500))
        # ... and a signal is sent once the first answer has gone out whole.
        answered = lambda server: [t.is_alive() for t in server.threads] == [False]  # noqa: E731
        F, R, forever = EXIT_FAILED, "--retry", ["--retry", "forever"]
        # (name, handler, options, exit status, connections, most seconds from
        # the start or the signal[, (signal, sent once this holds of the server)])
        cases = [
            ("drips the header 1 byte/s", answer(OK + b"4\r\n\r\nbody", 1.0),
             ["--receive-timeout", "700"], F, 1, 5),
            ("never answers", silent, ["--receive-timeout", "1000", R, "2"], F, 3, 10),
            # A header cut short by the close is a transient failure.
            ("answers random bytes", answer(garbage), [], F, 1, 5),
            # ... but one with a NUL byte in it is no HTTP header at all.
            ("answers a TLS alert", answer(b"\x15\x03\x01\x00\x02\x02\x46"), [R, "2"], F, 1, 5),
            # Headers that can never be right are fatal, whatever the retry policy.
            ("sends one endless header line", answer(b"", 0, 1024), forever, F, 1, 10),
            ("an endless line after the limit", answer(AT_THE_LIMIT, 0, 1024), [R, "1"], F, 1, 10),
            # A chunked body is decoded; one without a length ends with the close.
            ("sends a chunked body", answer(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                            b"2;x=y\r\nab\r\n1\r\nc\r\n0\r\n\r\n"), [], EXIT_OK, 1, 5),
            ("ends the body with the close", answer(b"HTTP/1.0 200 OK\r\n\r\nabc"), [], EXIT_OK, 1, 5),
            ("resets mid-body", reset_then_rest, [], EXIT_OK, 2, 5),
            ("busy with a Retry-After", busy_then_file, [R, "1"], EXIT_OK, 2, 5),
            # Fewer than 100 bytes in a second: broken, and resumed with Range.
            ("stalls below --speed-limit", stall_then_rest,
             ["--speed-limit", "100", "--speed-time", "1"], EXIT_OK, 2, 5),
            ("redirects to itself", answer(b"HTTP/1.1 302 Found\r\nLocation: /loop\r\n"
                                           b"Content-Length: 0\r\n\r\n"), forever, F, 21, 10),
            ("ignores Range and cuts short", answer(OK + b"10\r\n\r\nabc"), [], F, 4, 10),
            ("closes at once", answer(b""), [R, "3", "--retry-delay", "50"], F, 4, 10),
            # Each wait is bounded, not the transfer: 63 bytes, one each 50 ms.
            # A Last-Modified that is no date is passed over.
            ("drips slowly but steadily", answer(OK + b"3\r\nLast-Modified: soon\r\n\r\nabc", 0.05),
             ["--receive-timeout", "1000"], EXIT_OK, 1, 10),
            # A signal ends a wait far within its time-out, or a retry pause, at once.
            ("SIGINT while a header never comes", silent,
             ["--quiet", "--receive-timeout", "600000"], EXIT_STOPPED, 1, 2,
             (signal.SIGINT, lambda server: server.connections == 1)),
            ("SIGTERM in a pause of retrying forever", answer(no_nul),
             ["--quiet", *forever, "--retry-delay", "600000"], EXIT_STOPPED, 1, 2,
             (signal.SIGTERM, answered)),
        ]
        for name, handler, options, status, connections, most, *stop in cases:
            with self.subTest(name):
                server = self.serve(Server(handler))
                target = os.path.join(self.scratch, "out-%d" % server.port)
                url = "http://127.0.0.1:%d/f" % server.port
                proc = subprocess.Popen([ARGS.fetch, *options, url, target],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
                self.addCleanup(proc.wait)
                self.addCleanup(proc.kill)
                started = time.monotonic()
                for sig, until in stop:
                    self.assertTrue(wait_until(lambda: until(server), 10))
                    started = time.monotonic()
                    proc.send_signal(sig)
                _, err = proc.communicate(timeout=most + 20)
                # A completed download wrote its progress lines (there is no terminal).
                self.assertEqual((proc.returncode, server.connections, read_if_there(target),
                                  err != b"" or status != EXIT_OK),
                                 (status, connections, b"abc" if status == EXIT_OK else None, True),
                                 err)
                self.assertLess(time.monotonic() - started, most)


if __name__ == "__main__":
    print("fault injection: seed %d (UPDATER_FAULTS_SEED)" % SEED, file=sys.stderr)
    main("--fetch")
