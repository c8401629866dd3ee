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
import unittest.mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, MESSAGE_2, NOT_UPDATED, UPDATED, ProgramDir, Server,  # noqa: E402
                         emulator, main, make_zip, native, publish, read_if_there, scratch,
                         wait_until, zip_item)

QUESTION = ("Korvanta程序仍在运行，本次升级无法继续。\n\n"
            "请关闭Korvanta程序后按\"重试\"继续升级，按\"取消\"放弃本次升级。")
NEW = {"korvanta-data.txt": b"version 2\n"}


class RunningApp(unittest.TestCase):
    def setUp(self):
        self.program = ProgramDir(scratch(self))

    # A package of DOS items (a replaced file keeps its mode): path and address.
    def serve(self, case, files):
        return publish(self, case, [zip_item(name, data, host=0) for name, data in files.items()])

    # The main application, already running from the program directory.
    def start_standin(self, stay):
        proc = subprocess.Popen([*emulator(), self.program.join("Korvanta.exe"), "--stay", stay],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(proc.wait, 60)
        self.addCleanup(self.program.write, "Korvanta.stop", "")  # runs first: stops it
        self.assertTrue(wait_until(lambda: "running\n" in self.program.log(), 60),
                        "stand-in not up")

    # The exit status, whether the question and message 2 showed, and what
    # the run left behind.
    def run_shown(self, argument, box=False):
        status, shown = self.program.run_answered(argument, box, timeout=120)
        return (status, QUESTION in shown, MESSAGE_2 in shown, self.program.leftovers())

    def test_a_running_application_is_waited_for_then_the_update_installs(self):
        self.start_standin("2000")
        self.assertEqual(self.run_shown(self.serve("waited", NEW)[1]), (UPDATED, False, False, []))
        self.assertIn("install: waiting for the programs", self.program.run_log())
        self.assertTrue(wait_until(self.program.starts, 30))
        # The data file never changed under the running application, and the
        # new one was in place when the main application started again.
        lines = [line.split(" ")[0] + " " + line.split("data=")[1] for line in
                 self.program.log().splitlines() if "data=" in line]
        self.assertEqual(lines, ["ran version 1", "started version 2"])

    def test_an_application_that_never_ends_brings_the_question_and_nothing_installs(self):
        os.environ["UPDATER_TEST_PROGRAM_WAIT_MS"] = "1000"
        self.addCleanup(os.environ.pop, "UPDATER_TEST_PROGRAM_WAIT_MS", None)
        served, url = self.serve("never", NEW)
        self.start_standin("forever")
        self.assertEqual(self.run_shown(url, box=True), (NOT_UPDATED, True, False, []))
        # Nobody answers a silent run: it gives up after the wait.
        self.assertEqual(self.program.run_silent(url), (NOT_UPDATED, ""))
        self.assertEqual(self.program.run_log().count("install: the user gave up waiting"), 2)
        self.assertEqual((self.program.read("korvanta-data.txt"), self.program.starts(),
                          self.program.read("update.zip", "rb")),
                         ("version 1\n", [], read_if_there(served)))  # the package is kept

    def test_a_package_holding_the_updater_replaces_it_and_the_next_start_clears_the_old(self):
        name = self.program.name
        new = self.program.read(name, "rb") + b"\0a newer build"
        served, url = self.serve("self", dict(NEW, **{name: new}))
        self.assertEqual(self.run_shown(url)[:3], (UPDATED, False, False))
        self.assertEqual((self.program.read(name, "rb"), self.program.read("korvanta-data.txt"),
                          self.program.read("update.zip", "rb")),
                         (new, "version 2\n", read_if_there(served)))
        self.assertTrue(wait_until(self.program.starts, 30))
        # The next start, with a path that names no archive, removes what is
        # left of the old program and starts the main application.
        self.assertEqual(self.run_shown(self.program.join("no-such.zip")),
                         (UPDATED, False, False, []))
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
        self.assertEqual(self.run_shown(archive, box=True), (NOT_UPDATED, False, True, []))
        self.assertIn("install: failed", self.program.run_log())
        self.assertEqual(({item: self.program.read(item) for item in old}, self.program.starts()),
                         (old, []))

    def test_a_directory_the_user_may_not_write_fails_before_any_download(self):
        if emulator():
            self.skipTest("wine runs \"runas\" without a prompt, as the same user")
        server = Server(lambda conn, index: conn.recv(65536))
        self.addCleanup(server.close)
        os.chmod(self.program.path, 0o555)
        self.addCleanup(os.chmod, self.program.path, 0o755)

        def as_another_user():
            if os.getuid() == 0:  # root writes anywhere: the run is nobody's
                os.setgid(65534)
                os.setuid(65534)
        temp = scratch(self)
        os.chmod(temp, 0o777)
        with unittest.mock.patch.dict(os.environ, TMPDIR=temp):
            status, err = self.program.run("http://127.0.0.1:%d/%s/update.zip" % (
                server.port, ARGS.domain), preexec=as_another_user)
        self.assertEqual((status, MESSAGE_2 in err, server.connections,
                          self.program.read("korvanta-data.txt"), self.program.read("update.zip"),
                          self.program.leftovers()),
                         (NOT_UPDATED, True, 0, "version 1\n", None, []), err)
        # The log went where this user may write.
        self.assertIn("the program directory may not be written",
                      read_if_there(os.path.join(temp, "korvanta-update", "updater.log"), "r"))


if __name__ == "__main__":
    main("--answer-box", "--hold-file")
