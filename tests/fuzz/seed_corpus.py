"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

Responses and SOCKS replies are captured from real peers on loopback (nginx
and tinyproxy of with-peers.sh, microsocks started here); archives are made by
Info-ZIP zip, 7-Zip, bsdtar and Python's zipfile, plus the crafted archives of
tests/archive/make_archives.py; signature files and public keys by minisign. Hand-written seeds cover forms the peers never
send. Seeds are named seed-*; inputs kept from fuzzing runs (crash-*, and the
like) are left alone.

  tests/peers/with-peers.sh python3 tests/fuzz/seed_corpus.py [CORPUS_DIR]
"""
import glob
import random
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus"))
MAX_SEED = 16 * 1024
written = {}


def seed(target, name, data, limit=MAX_SEED):
    if isinstance(data, str):
        data = data.encode("latin-1")
    # A cut archive would lose its central directory: those must fit whole.
    assert target != "archive" or len(data) <= limit, name
    data = data[:limit]
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)
    written[target] = written.get(target, 0) + 1


def clear_seeds():
    for path in glob.glob(os.path.join(CORPUS, "*", "seed-*")):
        os.remove(path)


def exchange(port, request, limit=2048):
    """The raw bytes a loopback server answers to `request`, at most `limit`."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(request.encode())
        data = b""
        while len(data) < limit:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return data[:limit]


def responses():
    port = int(os.environ["UPDATER_TEST_HTTP_PORT"])
    proxy = int(os.environ["UPDATER_TEST_TINYPROXY_PORT"])
    auth_proxy = int(os.environ["UPDATER_TEST_TINYPROXY_AUTH_PORT"])
    host = "Host: 127.0.0.1:%d\r\n" % port
    end = "Connection: close\r\n\r\n"
    captured = {
        "nginx-200-small": "GET /files/small.txt HTTP/1.1\r\n" + host + end,
        "nginx-200-head": "HEAD /files/big.bin HTTP/1.1\r\n" + host + end,
        "nginx-206": "GET /files/big.bin HTTP/1.1\r\n" + host + "Range: bytes=100-\r\n" + end,
        "nginx-206-if-range-old": "GET /files/big.bin HTTP/1.1\r\n" + host +
                                  "Range: bytes=5-\r\nIf-Range: Thu, 01 Jan 2015 00:00:00 GMT\r\n" + end,
        "nginx-416": "GET /files/small.txt HTTP/1.1\r\n" + host + "Range: bytes=999999-\r\n" + end,
        "nginx-302-absolute": "GET /redirect/absolute HTTP/1.1\r\n" + host + end,
        "nginx-301-rooted": "GET /redirect/rooted HTTP/1.1\r\n" + host + end,
        "nginx-302-relative": "GET /redirect/deep/er/relative HTTP/1.1\r\n" + host + end,
        "nginx-302-mixed-case": "GET /redirect/mixed-case HTTP/1.1\r\n" + host + end,
        "nginx-404": "GET /status/404 HTTP/1.1\r\n" + host + end,
        "nginx-503": "GET /status/503 HTTP/1.1\r\n" + host + end,
        "nginx-400-bad-request": "GET / HTTP/1.1\r\n\r\n",
        "nginx-200-empty": "GET /files/empty.bin HTTP/1.1\r\n" + host + end,
    }
    for name, request in captured.items():
        seed("response_header", name, exchange(port, request, 1024))
    via = "GET http://127.0.0.1:%d/files/small.txt HTTP/1.1\r\n" % port + host + end
    seed("response_header", "tinyproxy-200", exchange(proxy, via))
    seed("response_header", "tinyproxy-407", exchange(auth_proxy, via))
    seed("response_header", "tinyproxy-502",
         exchange(proxy, "GET http://127.0.0.1:1/x HTTP/1.1\r\nHost: 127.0.0.1:1\r\n" + end))

    crafted = {
        "continue-then-200": "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
                             "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc",
        "lf-only": "HTTP/1.0 200 OK\nContent-Length: 4\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\n\nbody",
        "chunked": "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
        "two-lengths": "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!",
        "length-huge": "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "length-negative": "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
        "206-range-ok": "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/20\r\nContent-Length: 10\r\n\r\n0123456789",
        "206-range-star": "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/*\r\nContent-Length: 10\r\n\r\n",
        "206-range-short": "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-14/20\r\nContent-Length: 5\r\n\r\n",
        "206-no-range": "HTTP/1.1 206 Partial Content\r\nContent-Length: 5\r\n\r\n",
        "302-dotdot": "HTTP/1.1 302 Found\r\nLocation: ../../../../x/./y/../z.zip?q=1#frag\r\n\r\n",
        "302-backslash": "HTTP/1.1 302 Found\r\nLocation: \\\\evil\\path\\..\\f\r\n\r\n",
        "302-network-path": "HTTP/1.1 302 Found\r\nLocation: //other.test:81/p\r\n\r\n",
        "302-content-location-first": "HTTP/1.1 302 Found\r\nContent-Location: /wrong\r\nLocation: /right\r\n\r\n",
        "302-https": "HTTP/1.1 302 Found\r\nLocation: https://secure.test/x\r\n\r\n",
        "302-empty": "HTTP/1.1 302 Found\r\nLocation:\r\n\r\n",
        "302-port": "HTTP/1.1 307 Temporary\r\nLocation: http://h.test:65536/x\r\n\r\n",
        "no-reason": "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx",
        "status-bad": "HTTP/1.1 2x0 OK\r\nContent-Length: 1\r\n\r\nx",
        "not-http": "ICY 200 OK\r\nContent-Length: 1\r\n\r\nx",
        "blank-lines-first": "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
        "folded-field": "HTTP/1.1 200 OK\r\nX-A: 1\r\n folded\r\nContent-Length: 1\r\n\r\nz",
        "line-1022": "HTTP/1.1 200 OK\r\nX: " + "a" * 1019 + "\r\nContent-Length: 1\r\n\r\nq",
        "line-1023": "HTTP/1.1 200 OK\r\nX: " + "a" * 1020 + "\r\nContent-Length: 1\r\n\r\nq",
        "line-1024": "HTTP/1.1 200 OK\r\nX: " + "a" * 1021 + "\r\nContent-Length: 1\r\n\r\nq",
        "line-cr-at-1023": "HTTP/1.1 200 OK\r\nX: " + "a" * 1019 + "\r\r\nContent-Length: 1\r\n\r\nq",
        "nul-in-line": "HTTP/1.1 200 OK\r\nContent-Length: 1\x0099\r\n\r\nq",
        "cut-in-header": "HTTP/1.1 200 OK\r\nContent-Le",
        "garbage": "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + "".join(chr(i) for i in range(256)),
        "last-modified-forms": "HTTP/1.1 200 OK\r\nLast-Modified: Sunday, 06-Nov-94 08:49:37 GMT\r\n"
                               "Last-Modified: Sun Nov  6 08:49:37 1994\r\nContent-Length: 1\r\n\r\nx",
        "599": "HTTP/1.1 599 Whatever\r\n\r\n",
        "199-final": "HTTP/1.1 199 Odd\r\nContent-Length: 1\r\n\r\n",
        "range-no-blank": "HTTP/1.1 206 P\r\nContent-Range: bytes=0-4/5\r\nContent-Length: 5\r\n\r\n",
        "range-no-slash": "HTTP/1.1 206 P\r\nContent-Range: bytes 0-4\r\nContent-Length: 5\r\n\r\n",
        "range-no-dash": "HTTP/1.1 206 P\r\nContent-Range: bytes 0/5\r\nContent-Length: 5\r\n\r\n",
        "range-trailing": "HTTP/1.1 206 P\r\nContent-Range: bytes 0-4/5x\r\nContent-Length: 5\r\n\r\n",
        "range-backwards": "HTTP/1.1 206 P\r\nContent-Range: bytes 4-0/5\r\nContent-Length: 5\r\n\r\n",
        "range-past-end": "HTTP/1.1 206 P\r\nContent-Range: bytes 0-5/5\r\nContent-Length: 6\r\n\r\n",
        "range-unit": "HTTP/1.1 206 P\r\nContent-Range: items 0-4/5\r\nContent-Length: 5\r\n\r\n",
        "length-trailing": "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n",
        "length-2g": "HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n",
        "status-no-code": "HTTP/1.1\r\nContent-Length: 1\r\n\r\nx",
        "status-short": "HTTP/1.1 20\r\n\r\n",
        "many-lines": "HTTP/1.1 200 OK\r\n" + "X: y\r\n" * 300 + "\r\n",
    }
    for name, text in crafted.items():
        seed("response_header", name, text)
    header_limit_seeds()


MAX_HEADER_BYTES = 64 * 1024  # http::kMaxHeaderBytes


def header_of(size, brk="\r\n", first="HTTP/1.1 200 OK"):
    """A header block of exactly `size` bytes through its empty line."""
    start = first + brk + "Content-Length: 1" + brk + "X: "
    return start + "v" * (size - len(start) - 2 * len(brk)) + brk + brk


def header_limit_seeds():
    """Header blocks at the size bound, so the fuzzer splits them there."""
    m = MAX_HEADER_BYTES
    big = {
        "limit-exact": header_of(m) + "q",
        "limit-over-by-one": header_of(m + 1) + "q",
        "limit-lf-exact": header_of(m, "\n") + "q",
        "limit-lf-over-by-one": header_of(m + 1, "\n") + "q",
        # A line's text ends exactly at the bound; what follows never ends.
        "limit-then-endless-line": header_of(m + 4)[:-4] + "\r\n" + "x" * 4096,
        "limit-cr-at-the-bound": header_of(m + 1)[:-2] + "\r\n",
        "limit-interim-then-exact": "HTTP/1.1 100 Continue\r\n\r\n" + header_of(m - 25) + "q",
        "limit-lines": "HTTP/1.1 200 OK\r\n" + "A: b\r\n" * 255 + "\r\nq",
        "limit-lines-over": "HTTP/1.1 200 OK\r\n" + "A: b\r\n" * 256 + "\r\nq",
    }
    for name, text in big.items():
        seed("response_header", name, text, limit=m + 8192)
    seed("response_header", "nul-in-location", "HTTP/1.1 302 Found\r\nLocation: /ok\x00/x\r\n\r\n")


def urls():
    for i, url in enumerate([
            "http://www.korvanta.test/update/update.zip",
            "http://127.0.0.1:8080/files/big.bin?x=1&y=2",
            "HTTP://Host.Test/Path With Blanks/f.zip",
            "  http://h.test/trimmed  ",
            "http://h.test:65535/", "http://h.test:65536/", "http://h.test:0/", "http://h.test:abc/",
            "http://h.test", "http://:80/", "http:///x", "https://h.test/x", "ftp://h.test/x",
            "http://user:pw@h.test/x", "http://[::1]:8080/x", "http://h.test/a\r\nX-Injected: 1",
            "http://h.test/\x00nul", "http://h.test/\x7f", "http://a://b/c", "h.test/no-scheme",
            "http://h.test/%2e%2e/%00", "http://h.test\\back\\slash/", "http://h.test/\tx",
            "http://" + "h" * 300 + "/" + "p" * 600,
            "https://[::ffff:1.2.3.4]/x", "http://[1:2:3:4:5:6:7:8]:1/", "http://[1::2::3]/",
            "http://[fe80::1]x/",
    ]):
        seed("parse_url", "%02d" % i, url)


def dates():
    for i, text in enumerate([
            "Sun, 06 Nov 1994 08:49:37 GMT", "sunday, 06-nov-94 08:49:37 gmt",
            "Sun Nov  6 08:49:37 1994", "Thu, 01 Jan 1970 00:00:00 GMT",
            "Tue, 19 Jan 2038 03:14:08 GMT", "Sat, 29 Feb 2020 12:00:00 UTC",
            "Fri, 29 Feb 2019 12:00:00 GMT", "Mon, 00 Jan 2000 00:00:00 GMT",
            "Wed, 31 Dec 9999 23:59:59 GMT", "Sat, 01 Jan 0000 00:00:00 GMT",
            "Sun, 06 Nov 1994 23:59:60 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
            "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun,06 Nov 1994 08:49:37 GMT",
            "Sun, 6 Nov 1994 8:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 +0000",
            "Sun,\t06\tNov\t1994\t08:49:37\tGMT", "Thursday, 01-Jan-70 00:00:00 GMT",
            "Sun Nov 6 08:49:37 94", "", ",,,,,,,,", "Sun, 06 Nov 1994 08:49:37",
            "Sun, 99 Nov 99999 99:99:99 GMT", "Thu, 04 Mar 2021 05:06:07 -0130",
            "Thu, 04 Mar 2021 05:06:07 +2400", "Mon, 01 Jan 1601 00:00:00 GMT",
            "Sun, 31 Dec 1600 23:59:59 GMT", "Mon, 01 Jan 2107 00:00:00 GMT",
            "Wed, 31 Dec 1969 23:59:59 GMT",
    ]):
        seed("http_date", "%02d" % i, text)


def chunked_bodies():
    for i, text in enumerate([
            "5\r\nhello\r\n0\r\n\r\n", "5;name=\"v;x\"\r\nhello\r\nA\r\n0123456789\r\n0\r\nX: 1\r\n\r\n",
            "5\nhello\n0\n\n", "3\r\nhello\r\n0\r\n\r\n", "fffffffffffffff\r\n", "1000000000000000\r\n",
            "5\r\nhello\rX", "0\r\n" + "X: " + "t" * 4100 + "\r\n\r\n", "5;" + "e" * 4100 + "\r\n",
            "2\r\nhi\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n",
    ]):
        seed("chunked_body", "%02d" % i, text)


def lines():
    def prefix(size, capacity):
        return bytes([size & 0xFF, size >> 8, capacity])

    cases = [
        (1024, 200, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"),
        (1024, 3, "abc\r\nabc\nab\rc\n\n"),
        (4, 2, "abcdefgh\r\nij\r\n"),
        (4, 127, "abc\r\ndef"),
        (1, 10, "abc\n"), (0, 10, "abc\n"), (2, 0, "\r\n\r\n\n"),
        (1024, 255, "x" * 1023 + "\r\n" + "y" * 1022 + "\r\n" + "z" * 2000 + "\n"),
        (16, 7, "\r\r\r\n\n\r"),
    ]
    for i, (size, capacity, text) in enumerate(cases):
        seed("read_line", "%02d" % i, prefix(size, capacity) + text.encode("latin-1"))
    seed("read_line", "nginx-response", prefix(1024, 200) + exchange(
        int(os.environ["UPDATER_TEST_HTTP_PORT"]),
        "GET /files/small.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"))


def socks_replies():
    # Kinds as the target's first byte selects them.
    S4, S4A, METHOD, LOGIN, S5, UNKNOWN = 0, 1, 2, 3, 4, 5

    def free_port():
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        return port

    def read_all(s, wait=0.3):
        s.settimeout(wait)
        data = b""
        try:
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
        except socket.timeout:
            pass
        return data

    http_port = int(os.environ["UPDATER_TEST_HTTP_PORT"])
    plain, auth = free_port(), free_port()
    procs = [subprocess.Popen(["microsocks", "-i", "127.0.0.1", "-p", str(plain)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL),
             subprocess.Popen(["microsocks", "-i", "127.0.0.1", "-p", str(auth), "-u", "user",
                               "-P", "pass"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for port in (plain, auth):
            for _ in range(100):
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.05)
        # No authentication, then a connect to nginx and a request through it:
        # the reply is followed by the HTTP response.
        with socket.create_connection(("127.0.0.1", plain), timeout=5) as s:
            s.sendall(b"\x05\x01\x00")
            seed("socks_reply", "microsocks-method-none", bytes([METHOD]) + s.recv(2))
            s.sendall(b"\x05\x01\x00\x01\x7f\x00\x00\x01" + struct.pack(">H", http_port))
            reply = s.recv(10)
            s.sendall(b"GET /files/small.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            seed("socks_reply", "microsocks-connect-then-http",
                 bytes([S5]) + reply + read_all(s)[:400])
        with socket.create_connection(("127.0.0.1", plain), timeout=5) as s:
            s.sendall(b"\x05\x01\x00")
            s.recv(2)
            s.sendall(b"\x05\x01\x00\x01\x7f\x00\x00\x01" + struct.pack(">H", free_port()))
            seed("socks_reply", "microsocks-connect-refused", bytes([S5]) + read_all(s))
        with socket.create_connection(("127.0.0.1", plain), timeout=5) as s:
            s.sendall(b"\x05\x01\x00")
            s.recv(2)
            name = b"no-such-host.invalid"
            s.sendall(b"\x05\x01\x00\x03" + bytes([len(name)]) + name + b"\x00\x50")
            seed("socks_reply", "microsocks-name-fails", bytes([S5]) + read_all(s, 3))
        with socket.create_connection(("127.0.0.1", auth), timeout=5) as s:
            s.sendall(b"\x05\x02\x00\x02")
            seed("socks_reply", "microsocks-method-login", bytes([METHOD]) + s.recv(2))
            s.sendall(b"\x01\x04user\x04pass")
            seed("socks_reply", "microsocks-login-ok", bytes([LOGIN]) + s.recv(2))
        with socket.create_connection(("127.0.0.1", auth), timeout=5) as s:
            s.sendall(b"\x05\x01\x02")
            s.recv(2)
            s.sendall(b"\x01\x04user\x05wrong")
            seed("socks_reply", "microsocks-login-refused", bytes([LOGIN]) + read_all(s))
        with socket.create_connection(("127.0.0.1", auth), timeout=5) as s:
            s.sendall(b"\x05\x01\x00")
            seed("socks_reply", "microsocks-no-acceptable", bytes([METHOD]) + read_all(s))
    finally:
        for p in procs:
            p.kill()
            p.wait()

    crafted = {
        "socks4-granted": bytes([S4]) + b"\x00\x5a\x1f\x90\x7f\x00\x00\x01HTTP/1.1 200 OK\r\n",
        "socks4-rejected": bytes([S4]) + b"\x00\x5b\x00\x00\x00\x00\x00\x00",
        "socks4a-granted": bytes([S4A]) + b"\x04\x5a\x00\x50\x0a\x00\x00\x02",
        "socks4-cut": bytes([S4]) + b"\x00\x5a\x1f",
        "socks5-ipv6": bytes([S5]) + b"\x05\x00\x00\x04" + bytes(range(16)) + b"\x04\x38rest",
        "socks5-name": bytes([S5]) + b"\x05\x00\x00\x03\x09proxy.lan\x01\xbb",
        "socks5-name-empty": bytes([S5]) + b"\x05\x00\x00\x03\x00\x00\x50",
        "socks5-name-255": bytes([S5]) + b"\x05\x00\x00\x03\xff" + b"n" * 255 + b"\x00\x50",
        "socks5-odd-type": bytes([S5]) + b"\x05\x00\x00\x07\x12\x34after",
        "socks5-refused-then-bytes": bytes([S5]) + b"\x05\x05\x00\x01\x7f\x00\x00\x01\x00\x50",
        "socks5-cut-in-address": bytes([S5]) + b"\x05\x00\x00\x01\x7f\x00",
        "method-one-byte": bytes([METHOD]) + b"\x05",
        "unknown-kind": bytes([UNKNOWN]) + b"\x05\x00",
        "socks5-ipv6-cut-in-port": bytes([S5]) + b"\x05\x00\x00\x04" + bytes(16) + b"\x04",
    }
    for name, data in crafted.items():
        seed("socks_reply", name, data)


def item_names():
    for i, name in enumerate([
            "plain.txt", "dir/sub/", "dir\\sub\\file.txt", "../x", "..\\x", "../../../../etc/passwd",
            "a/../../x", "a/b/../c/d.txt", "x/..\\../y", "C:\\Windows\\x.dll", "C:..\\x", "C:D:/e",
            "/abs/file", "\\\\server\\share\\f.txt", "\\\\?\\C:\\x", "//?/UNC/srv/share/x", "..",
            "dir/..", "dir/../", "./../x", "....//....//x", "a/.../b", "a/.. /b", "a:b",
            "\x81\\..\\x", "\x81/..\\..\\x", "\xe4\xb8\xad\xe6\x96\x87/../\xe6\x96\x87.txt",
            "a" * 259, "d/" * 140 + "f", "nul\x00../../x",
    ]):
        seed("clean_item_name", "%02d" % i, name)


def archives():
    work = tempfile.mkdtemp(prefix="updater-seed-")
    try:
        stage = os.path.join(work, "stage")
        os.makedirs(os.path.join(stage, "dir", "sub"))
        with open(os.path.join(stage, "readme.txt"), "w") as f:
            f.write("first item\n")
        with open(os.path.join(stage, "dir", "sub", "text.txt"), "w") as f:
            f.write("".join("line %04d of text\n" % i for i in range(400)))
        with open(os.path.join(stage, "dir", "random.bin"), "wb") as f:
            f.write(random.Random(9).randbytes(2000))
        with open(os.path.join(stage, "empty.txt"), "w"):
            pass
        os.chmod(os.path.join(stage, "readme.txt"), 0o444)

        def run(name, cmd):
            out = os.path.join(work, name)
            subprocess.run(cmd(out), cwd=stage, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            with open(out, "rb") as f:
                seed("archive", name, f.read())

        run("infozip.zip", lambda o: ["zip", "-q", "-r", o, "."])
        run("infozip-stored.zip", lambda o: ["zip", "-q", "-0", "-r", o, "."])
        run("infozip-encrypted.zip", lambda o: ["zip", "-q", "-P", "secret", "-r", o, "."])
        run("infozip-no-extra.zip", lambda o: ["zip", "-q", "-X", "-r", o, "."])
        run("7z.zip", lambda o: ["7z", "a", "-tzip", "-bso0", "-bsp0", o, "."])
        run("7z-stored.zip", lambda o: ["7z", "a", "-tzip", "-mx0", "-bso0", "-bsp0", o, "."])
        run("bsdtar.zip", lambda o: ["bsdtar", "--format", "zip", "-cf", o, "."])

        path = os.path.join(work, "zipfile.zip")
        with zipfile.ZipFile(path, "w") as z:
            z.writestr(zipfile.ZipInfo("dos/file.txt", (1999, 12, 31, 23, 59, 58)), b"dos host")
            info = zipfile.ZipInfo("ut.txt", (2020, 1, 2, 3, 4, 6))
            info.extra = struct.pack("<HHBiii", 0x5455, 13, 7, 1600000000, 1600000001, -5)
            z.writestr(info, b"times")
            info = zipfile.ZipInfo("deflated.txt")
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, b"abc" * 2000)
            z.writestr(zipfile.ZipInfo("folder/"), b"")
        with open(path, "rb") as f:
            seed("archive", "zipfile.zip", f.read())

        crafted = os.path.join(work, "crafted")
        os.makedirs(crafted)
        subprocess.run([sys.executable, os.path.join(HERE, "..", "archive", "make_archives.py"),
                        crafted], check=True)
        for path in sorted(glob.glob(os.path.join(crafted, "*.zip"))):
            if os.path.getsize(path) <= MAX_SEED:
                with open(path, "rb") as f:
                    seed("archive", "crafted-" + os.path.basename(path), f.read())
        seed("archive", "not-a-zip", b"PK\x05\x06" + b"\x00" * 18)
    finally:
        shutil.rmtree(work)


def signature_texts():
    work = tempfile.mkdtemp(prefix="seed-minisign-")
    try:
        key, pub = os.path.join(work, "k.key"), os.path.join(work, "k.pub")
        subprocess.run(["minisign", "-G", "-W", "-s", key, "-p", pub], check=True,
                       stdout=subprocess.DEVNULL)
        package = os.path.join(work, "update.zip")
        with open(package, "wb") as f:
            f.write(b"PK\x05\x06" + b"\x00" * 18)
        forms = {"hashed": [], "legacy": ["-l"], "comment": ["-t", "timestamp:1700000000\tfile:u"],
                 "no-timestamp": ["-t", "release 2"]}
        for name, extra in forms.items():
            sig = os.path.join(work, name + ".minisig")
            subprocess.run(["minisign", "-S", "-s", key, "-m", package, "-x", sig, *extra],
                           check=True, stdout=subprocess.DEVNULL)
            with open(sig, "rb") as f:
                data = f.read()
            seed("signature_text", name, data)
        seed("signature_text", "crlf", data.replace(b"\n", b"\r\n"))
        seed("signature_text", "cut", data[:len(data) // 2])
        with open(pub, "rb") as f:
            public = f.read()
        seed("signature_text", "public-key-file", public)
        seed("signature_text", "public-key", public.splitlines()[1])
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    if "UPDATER_TEST_HTTP_PORT" not in os.environ:
        sys.exit("seed_corpus: run through tests/peers/with-peers.sh")
    clear_seeds()
    responses()
    urls()
    dates()
    chunked_bodies()
    lines()
    socks_replies()
    item_names()
    archives()
    signature_texts()
    for target in sorted(written):
        print("%-16s %3d seeds" % (target, written[target]))
