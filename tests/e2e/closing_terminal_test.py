"""The terminal dialog of the updater gives the terminal back however the run
ends: echo and line input on again, the cursor shown after it was hidden.

  closing_terminal_test.py --updater PATH --standin PATH --domain NAME

Each run waits on a server that holds back its answer to the first request,
in a pseudo-terminal whose settings are read once the updater has ended.
"""
import os
import signal
import sys
import termios
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, ProgramDir, PtyRun, Server, main, read_request,  # noqa: E402
                         scratch, wait_until)

HIDE, SHOW = b"\x1b[?25l", b"\x1b[?25h"


class ClosingInATerminal(unittest.TestCase):
    def test_every_way_out_gives_the_terminal_back(self):
        cases = [
            # what ends the run, its exit status
            ("Esc while a header is held back", b"\x1b", 0),
            ("Ctrl-C, a key of the raw terminal", b"\x03", 0),
            ("SIGTERM", signal.SIGTERM, -signal.SIGTERM),
            ("SIGHUP", signal.SIGHUP, -signal.SIGHUP),
            ("SIGINT sent by another program", signal.SIGINT, -signal.SIGINT),
        ]
        for name, ending, status in cases:
            with self.subTest(name):
                self.run_case(ending, status)

    def run_case(self, ending, status):
        held = threading.Event()
        client_left = threading.Event()

        def hold_back(conn, index):
            read_request(conn)
            held.set()
            conn.settimeout(60)
            if conn.recv(1) == b"":
                client_left.set()

        server = Server(hold_back)
        self.addCleanup(server.close)
        program = ProgramDir(scratch(self))
        program.write("update.zip.down", b"partial")

        url = "http://127.0.0.1:%d/%s/update.zip" % (server.port, ARGS.domain)
        run = PtyRun(program, url)
        self.addCleanup(run.close)
        self.assertTrue(wait_until(lambda: run.drain() and held.is_set(), 20), run.output)
        self.assertEqual(termios.tcgetattr(run.slave)[3] & termios.ECHO, 0)  # the dialog has it
        if isinstance(ending, bytes):
            os.write(run.master, ending)
        else:
            run.proc.send_signal(ending)
        self.assertTrue(wait_until(lambda: run.drain() and run.proc.poll() is not None, 20),
                        run.output)
        run.drain(0.1)
        output, before = run.output, run.initial
        self.assertEqual(run.proc.returncode, status)
        # The run ended on its own close while the server still held back.
        self.assertTrue(client_left.wait(20))
        after = termios.tcgetattr(run.slave)
        self.assertEqual(after[3], before[3], "local modes (echo, line input, signals)")
        self.assertEqual(after[6][termios.VMIN], before[6][termios.VMIN])
        self.assertIn(HIDE, output)
        self.assertIn(SHOW, output[output.rindex(HIDE):])
        self.assertEqual(program.read("update.zip.down", "rb"), b"partial")
        self.assertFalse(os.path.exists(program.join("update.zip")))
        self.assertEqual(program.starts(), [])


if __name__ == "__main__":
    main()
