# The install and the programs around it: a main application that still runs
# is waited for; one that never ends brings a question, and giving up installs
# nothing; a file held open without delete sharing rolls the install back; a
# package may replace the updater itself; a directory the user may not write is
# not written without elevation.
#
# Run through tests/peers/with-peers.sh (the packages come from the loopback nginx):
#   running_app_test.py --updater PATH --standin PATH --domain NAME
#                       [--emulator WINE-RUNNER --answer-box PATH --hold-file PATH]
#
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, MESSAGE_2, ProgramDir, Server, emulator, loopback, main,  # noqa: E402
                         make_zip, native, read_if_there, scratch, wait_until, zip_item)

QUESTION = ("Korvanta程序仍在运行，本次升级无法继续。\n\n"
            "请关闭Korvanta程序后按\"重试\"继续升级，按\"取消\"放弃本次升级。")
WAIT_VARIABLE = "UPDATER_TEST_PROGRAM_WAIT_MS"


class RunningApp(unittest.TestCase):
    def setUp(self):
        self.port, self.docroot = loopback(self)
        self.program = ProgramDir(scratch(self))
        self.program.write("korvanta-data.txt", "version 1\n")

    def serve(self, case, files):
        served = os.path.join(self.docroot, "files", ARGS.domain, case, "update.zip")
        # DOS items: a replaced file keeps its mode
        make_zip(served, [zip_item(name, data, host=0) for name, data in files.items()])
        return served, "http://127.0.0.1:%s/files/%s/%s/update.zip" % (self.port, ARGS.domain, case)

    def start_standin(self, stay):
        """The main application, already running from the program directory."""
        proc = subprocess.Popen([*emulator(), self.program.join("Korvanta.exe"), "--stay", stay],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(proc.wait, 60)
        self.addCleanup(self.program.write, "Korvanta.stop", "")  # runs first: stops it
        self.assertTrue(wait_until(lambda: "running\n" in self.program.log(), 60),
                        "stand-in not up")

    def leftovers(self):
        return [n for n in os.listdir(self.program.path)
                if n.startswith("update.") and n != "update.zip"]

    def run_without_a_message(self, argument):
        status, shown = self.program.run_answered(argument, timeout=120)
        self.assertEqual(status, 0, shown)
        self.assertNotIn(QUESTION, shown)
        self.assertNotIn(MESSAGE_2, shown)

    def test_a_running_application_is_waited_for_then_the_update_installs(self):
        _, url = self.serve("waited", {"korvanta-data.txt": "version 2\n"})
        self.start_standin("2000")
        self.run_without_a_message(url)
        self.assertTrue(wait_until(self.program.starts, 30))
        # The data file never changed under the running application, and the
        # new one was in place when the main application started again.
        lines = [line.split(" ")[0] + " " + line.split("data=")[1] for line in
                 self.program.log().splitlines() if "data=" in line]
        self.assertEqual(lines, ["ran version 1", "started version 2"])
        self.assertEqual(self.leftovers(), [])

    def test_an_application_that_never_ends_brings_the_question_and_nothing_installs(self):
        os.environ[WAIT_VARIABLE] = "1000"
        self.addCleanup(os.environ.pop, WAIT_VARIABLE, None)
        served, url = self.serve("never", {"korvanta-data.txt": "version 2\n"})
        self.start_standin("forever")
        status, shown = self.program.run_answered(url, box=True, timeout=120)
        self.assertEqual(status, 0, shown)
        self.assertIn(QUESTION, shown)
        self.assertNotIn(MESSAGE_2, shown)
        self.assertEqual(self.program.read("korvanta-data.txt"), "version 1\n")
        self.assertEqual(self.program.starts(), [])
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(self.program.read("update.zip", "rb"), read_if_there(served))  # kept

    def test_a_package_holding_the_updater_replaces_it_and_the_next_start_clears_the_old(self):
        name = self.program.name
        new = self.program.read(name, "rb") + b"\0a newer build"
        served, url = self.serve("self", {name: new, "update.zip": b"an item, not the package",
                                          "korvanta-data.txt": "version 2\n"})
        self.run_without_a_message(url)
        self.assertEqual(self.program.read(name, "rb"), new)
        self.assertEqual(self.program.read("korvanta-data.txt"), "version 2\n")
        self.assertEqual(self.program.read("update.zip", "rb"), read_if_there(served))
        self.assertTrue(wait_until(self.program.starts, 30))
        # The next start, with a path that names no archive, removes what is
        # left of the old program and starts the main application.
        status, shown = self.program.run_answered(self.program.join("no-such.zip"), timeout=120)
        self.assertEqual(status, 0, shown)
        self.assertEqual(self.leftovers(), [])
        self.assertTrue(wait_until(lambda: len(self.program.starts()) == 2, 30))

    def test_a_file_held_without_delete_sharing_rolls_the_install_back(self):
        if not emulator():
            self.skipTest("Linux has no share modes")
        old = {"a.txt": "old a\n", "korvanta-data.txt": "version 1\n", "z.txt": "old z\n"}
        for item, text in old.items():
            self.program.write(item, text)
        archive = os.path.join(scratch(self), "local.zip")
        make_zip(archive, [zip_item(name, text.replace("old", "new").replace("1", "2"), host=0)
                           for name, text in old.items()])
        hold = subprocess.Popen([*emulator(), ARGS.hold_file, native(self.program.join("z.txt"))],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(hold.stdout.close)
        self.addCleanup(hold.wait, 60)
        self.addCleanup(hold.stdin.close)
        self.assertEqual(hold.stdout.readline().strip(), b"held")
        status, shown = self.program.run_answered(archive, box=True, timeout=120)
        self.assertEqual(status, 0, shown)
        self.assertIn(MESSAGE_2, shown)
        for item, text in old.items():
            self.assertEqual(self.program.read(item), text, item)
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(self.program.starts(), [])

    def test_a_directory_the_user_may_not_write_fails_before_any_download(self):
        if emulator():
            self.skipTest("wine runs \"runas\" without a prompt, as the same user")
        server = Server(lambda conn, index: conn.recv(65536))
        self.addCleanup(server.close)
        url = "http://127.0.0.1:%d/%s/update.zip" % (server.port, ARGS.domain)
        os.chmod(self.program.path, 0o555)
        self.addCleanup(os.chmod, self.program.path, 0o755)

        def as_another_user():
            if os.getuid() == 0:  # root writes anywhere: the run is nobody's
                os.setgid(65534)
                os.setuid(65534)
        status, err = self.program.run(url, preexec=as_another_user)
        self.assertEqual(status, 0, err)
        self.assertIn(MESSAGE_2, err)
        self.assertEqual(server.connections, 0)
        self.assertEqual(self.program.read("korvanta-data.txt"), "version 1\n")
        self.assertFalse(os.path.exists(self.program.join("update.zip")))


if __name__ == "__main__":
    main("--answer-box", "--hold-file")
