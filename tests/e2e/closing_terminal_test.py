# The terminal dialog of the updater gives the terminal back however the run
# ends: echo and line input on again, the cursor shown after it was hidden. What
# the download left stays for the next run, and nothing is installed or started.
#
#   closing_terminal_test.py --updater PATH --standin PATH --domain NAME
#
# Each run waits on a server that holds back its answer to the first request, or
# sends part of the body and drips the rest, in a pseudo-terminal whose
# settings are read once the updater has ended.
#
import os
import signal
import sys
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, ProgramDir, PtyRun, Server, main, read_if_there,  # noqa: E402
                         read_request, scratch, wait_until)

HIDE, SHOW = b"\x1b[?25l", b"\x1b[?25h"
BODY, SENT = os.urandom(400000), 70000


class ClosingInATerminal(unittest.TestCase):
    def test_every_way_out_gives_the_terminal_back(self):
        cases = [
            # what ends the run, its exit status (2: nothing installed), what
            # the server sends: nothing (None), part of the body, then nothing
            # more ("held") or the rest bit by bit ("drips"); a 200 answer
            # starts the partial file over
            ("Esc while a header is held back", b"\x1b", 2, None),
            ("Esc while the body drips", b"\x1b", 2, "drips"),
            ("Ctrl-C, a key of the raw terminal", b"\x03", 2, "held"),
            ("SIGTERM", signal.SIGTERM, -signal.SIGTERM, "held"),
            ("SIGHUP", signal.SIGHUP, -signal.SIGHUP, None),
            ("SIGINT sent by another program", signal.SIGINT, -signal.SIGINT, None),
        ]
        for name, ending, status, body in cases:
            with self.subTest(name):
                self.run_case(ending, status, body)

    def run_case(self, ending, status, body):
        held, client_left = threading.Event(), threading.Event()

        def hold_back(conn, index):
            request = read_request(conn)
            if body:
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n"
                             b"Last-Modified: Sun, 06 Nov 2022 08:49:37 GMT\r\n\r\n" % len(BODY))
                if not request.startswith(b"GET"):
                    return
                conn.sendall(BODY[:SENT])
            held.set()
            conn.settimeout(60)
            try:  # the rest drips faster than the dialog redraws
                for i in range(SENT, len(BODY) if body == "drips" else 0, 512):
                    conn.sendall(BODY[i:i + 512])
                    time.sleep(0.05)
                if conn.recv(1) == b"":
                    client_left.set()
            except OSError:
                client_left.set()

        server, program = Server(hold_back), ProgramDir(scratch(self))
        self.addCleanup(server.close)
        program.write("update.zip.down", b"partial")

        def kept():  # what was there, or the first bytes of the body
            data = read_if_there(program.join("update.zip.down")) or b""
            return data == b"partial" if body is None else (
                len(data) >= SENT and BODY.startswith(data))

        run = PtyRun(program, "http://127.0.0.1:%d/%s/update.zip" % (server.port, ARGS.domain))
        self.addCleanup(run.close)
        self.assertTrue(wait_until(lambda: run.drain() and held.is_set() and kept(), 20) and (
            not body or run.read_until("已经下载[1-9]", 15)), run.output)
        self.assertEqual(termios.tcgetattr(run.slave)[3] & termios.ECHO, 0)  # the dialog has it
        self.assertEqual(run.end(ending, 20), status)
        run.drain(0.1)
        # The run closed its connection while the server still had more to send.
        self.assertTrue(client_left.wait(20))
        after, before = termios.tcgetattr(run.slave), run.initial
        # Local modes (echo, line input, signals) and the least read as before.
        self.assertEqual((after[3], after[6][termios.VMIN]), (before[3], before[6][termios.VMIN]))
        self.assertIn(SHOW, run.output[run.output.rindex(HIDE):])  # hidden, then shown
        self.assertEqual((kept(), os.path.exists(program.join("update.zip")), program.starts()),
                         (True, False, []))


if __name__ == "__main__":
    main()
