# The install is all or nothing: after kill -9 at any step of staging, commit
# and recovery, a full disk, or a damaged item, the program directory ends
# wholly old or wholly new.
#
#   install_transaction_test.py --install PATH --updater PATH --standin PATH --domain NAME
#                               [--emulator PATH] [unittest args]
#
# The steps come from the install's crash points (UPDATER_TEST_CRASH_AT=N ends
# the process at its Nth step as SIGKILL would), so every step is hit once. The
# download cases need the loopback nginx (tests/peers/with-peers.sh).
#
import hashlib
import os
import shutil
import signal
import stat
import subprocess
import sys
import unittest
import unittest.mock
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from updater_run import (ARGS, EXIT_FAILED, MESSAGE_2, NO_ADDRESS, NOT_UPDATED,  # noqa: E402
                         UPDATED, ProgramDir, emulator, file_size_limit, main, make_zip, publish,
                         read_if_there, remove_tree, scratch, zip_item)

# The new release's signature that each install keeps (its text is not
# checked) is one of the program directory's own files.
NEW_SIGNATURE, KEPT = "new-release.minisig", "installed-release.minisig"
OWN = {"updater", "updater.exe", "Korvanta.exe", "Korvanta.log", "update.zip", "update.zip.down",
       "updater.log", "updater.log.1", NEW_SIGNATURE}


# Flips a data byte of stored item `index`: its CRC-32 no longer holds.
def damage_item(path, index):
    with zipfile.ZipFile(path) as z:
        info = z.infolist()[index]
    with open(path, "r+b") as f:
        f.seek(info.header_offset + 26)
        names = int.from_bytes(f.read(2), "little") + int.from_bytes(f.read(2), "little")
        f.seek(info.header_offset + 30 + names + info.file_size // 2)
        byte = f.read(1)[0] ^ 0x5A
        f.seek(-1, os.SEEK_CUR)
        f.write(bytes([byte]))


def zero_end(path):
    with open(path, "r+b") as f:
        f.seek(-200, os.SEEK_END)
        f.write(bytes(200))


# What the program directory holds, apart from the updater's own files.
def snapshot(root):
    state = {}
    for here, dirs, files in os.walk(root):
        for path in (os.path.join(here, name) for name in dirs + files):
            rel, st = os.path.relpath(path, root), os.lstat(path)
            if rel in OWN:
                continue
            state[rel] = (("link", os.readlink(path)) if stat.S_ISLNK(st.st_mode) else
                          ("dir",) if stat.S_ISDIR(st.st_mode) else
                          ("file", hashlib.sha256(read_if_there(path)).hexdigest(),
                           None if ARGS.emulator else stat.S_IMODE(st.st_mode)))
    return state


# A program directory with the updater, the stand-in and an installed set.
class Program(ProgramDir):

    OLD = {"korvanta-data.txt": (b"version 1\n", 0o644), "bin/tool": (b"old tool\n", 0o755),
           "ro.txt": (b"made read-only by the last update\n", 0o444),
           "keep.txt": (b"not in the update\n", 0o600),
           KEPT: (b"signature of the release installed\n", 0o644)}

    def __init__(self, path):
        super().__init__(path)
        self.write(NEW_SIGNATURE, b"signature of the new release\n")
        self.reset()

    def reset(self):
        for path in (self.join(name) for name in set(os.listdir(self.path)) - OWN):
            (remove_tree if os.path.isdir(path) and not os.path.islink(path) else os.remove)(path)
        for name, (data, mode) in self.OLD.items():
            self.write(name, data)
            os.chmod(self.join(name), mode)

    def install(self, archive, crash_at=None, recover_only=False):
        env = {k: v for k, v in os.environ.items() if k != "UPDATER_TEST_CRASH_AT"}
        if crash_at is not None:
            env["UPDATER_TEST_CRASH_AT"] = str(crash_at)
        # Every install keeps a new release's signature in the same
        # transaction, as the updater does with the accepted one.
        args = (["--recover", self.path] if recover_only else
                ["--signature", self.join(NEW_SIGNATURE), archive, self.path])
        return subprocess.run(emulator() + [ARGS.install] + args, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=120).returncode


class InstallTransaction(unittest.TestCase):
    def setUp(self):
        self.scratch = scratch(self, "updater-install-")
        self.program = Program(os.path.join(self.scratch, "program"))
        self.old = snapshot(self.program.path)
        entries = [zip_item("bin/tool", b"new tool\n", host=0),  # keeps the replaced file's mode
                   zip_item("korvanta-data.txt", b"version 2\n", 0o100755),
                   zip_item("new/dir/n.txt", b"n" * 70000, 0o100640),
                   zip_item("ro.txt", b"writable again\n"),
                   zip_item("z.bin", os.urandom(300000))]
        if not ARGS.emulator:
            entries.insert(4, zip_item("lnk", b"new/dir/n.txt", 0o120777))
        self.archive = os.path.join(self.scratch, "update-local.zip")
        make_zip(self.archive, entries)
        # The new set carries modes and links, and replaces read-only files.
        self.assertEqual((self.program.install(self.archive), self.program.leftovers(),
                          self.program.read("korvanta-data.txt")), (0, [], "version 2\n"))
        self.new = snapshot(self.program.path)
        if not ARGS.emulator:
            modes = {"bin/tool": 0o755, "korvanta-data.txt": 0o755, "ro.txt": 0o644}
            self.assertEqual({n: self.new[n][-1] for n in [*modes, "lnk"]},
                             dict(modes, lnk="new/dir/n.txt"))
        self.program.reset()

    def assertWhole(self, stage):
        state = snapshot(self.program.path)
        self.assertIn(state, (self.old, self.new), stage)
        return state == self.new

    def test_kill_at_every_step_of_staging_commit_and_recovery_ends_old_or_new(self):
        killed = 9 if ARGS.emulator else -signal.SIGKILL  # the exit status kill -9 leaves
        ends = {False: 0, True: 0}  # ended new?
        for step in range(1, 200):
            self.program.reset()
            code = self.program.install(self.archive, crash_at=step)
            if code == 0:
                break
            self.assertEqual(code, killed, "step %d" % step)
            # The recovery itself is killed at one of its steps too.
            recovery_step = 1 + step % 8
            code = self.program.install(None, crash_at=recovery_step, recover_only=True)
            self.assertIn(code, (0, killed), "recovery step %d" % recovery_step)
            # The next start, whatever its way to run, finishes the job: here
            # the updater with --recover (no window), or alone (message 1).
            alone = step % 2 == 0 and not ARGS.emulator
            self.assertEqual(self.program.run(*[] if alone else ["--recover"])[0],
                             NO_ADDRESS if alone else UPDATED)
            ends[self.assertWhole("killed at step %d" % step)] += 1
            self.assertEqual(self.program.leftovers(), [], step)
        else:
            self.fail("the install never completed")
        self.assertGreaterEqual(step - 1, 20)
        self.assertTrue(all(ends.values()), ends)
        self.assertTrue(self.assertWhole("completed"))
        print("kill points: %d, ended old %d, new %d" % (step - 1, ends[False], ends[True]),
              file=sys.stderr)

    def test_an_archive_that_cannot_be_installed_whole_changes_nothing(self):
        os.symlink("bin", self.program.join("linked"))
        os.makedirs(self.program.join("adir"))
        self.old = snapshot(self.program.path)
        cases = {"link inside on Windows": [zip_item("l", b"bin/tool", 0o120777)],
                 "link climbing out": [zip_item("d/l", b"../../outside", 0o120777)],
                 "absolute link": [zip_item("l", b"/etc/passwd", 0o120777)],
                 "file over a directory": [zip_item("adir", b"x")],
                 "file and a path through it": [zip_item("f", b"x"), zip_item("f/g", b"y")],
                 "path through a link": [zip_item("linked/tool", b"x")],
                 "name that is no file": [zip_item("a/..", b"x")],
                 "device name with an extension": [zip_item("d/NUL.txt", b"x")],
                 "device name": [zip_item("com1", b"x")],
                 "stream of a file": [zip_item("a.txt:x", b"x")],
                 "drive inside a name": [zip_item("\\\\?\\C:\\x", b"x")],
                 "path of 260 bytes": [zip_item("d/" + "p" * (257 - len(self.program.path)), b"x")]}
        # A damaged item first, in the middle or last (its CRC-32 fails).
        count = len(zipfile.ZipFile(self.archive).infolist())
        cases.update({"damaged item %d" % i: i for i in (0, count // 2, count - 1)})
        if not ARGS.emulator:
            del cases["link inside on Windows"]
        for case, entries in cases.items():
            archive = os.path.join(self.scratch, "refused.zip")
            if isinstance(entries, int):
                shutil.copy(self.archive, archive)
                damage_item(archive, entries)
            else:
                make_zip(archive, [zip_item("korvanta-data.txt", b"version 2\n")] + entries)
            self.assertEqual((self.program.install(archive), snapshot(self.program.path),
                              self.program.leftovers()), (EXIT_FAILED, self.old, []), case)

    def test_hostile_names_write_nothing_outside_the_program_directory(self):
        prefixes = ["", "/", "\\", "//", "\\\\", "C:", "C:\\", "C:/", "\\\\srv\\share\\",
                    "//srv/share/", "::"]
        climbs = ["", "../", "..\\", "../../", "..\\..\\", "./../", "a/../../", "a\\..\\..\\",
                  "x/..\\../", "..//", "....//", ".. /", "../" * 12]
        endings = ["slip.txt", "d/slip.txt", "d\\slip.txt", "e/"]
        names = [p + c + e for p in prefixes for c in climbs for e in endings]
        names += ["../" * 80 + "deep.txt", "n" * 250 + "/../../x"]
        hostile = os.path.join(self.scratch, "hostile.zip")
        make_zip(hostile, [zip_item(n, b"" if n[-1] == "/" else b"item %d" % i,
                                    0o40755 if n[-1] == "/" else 0o100644)
                           for i, n in enumerate(names)])
        # Two levels below the scratch directory, where a climb would land.
        program = Program(os.path.join(self.scratch, "p", "program"))
        status = program.install(hostile)
        # Windows cannot make some of these names (it trims trailing dots and
        # blanks): there the install may refuse the archive whole.
        self.assertIn(status, (0, EXIT_FAILED) if ARGS.emulator else (0,))
        found = [os.path.relpath(os.path.join(here, name), self.scratch)
                 for here, dirs, files in os.walk(self.scratch) for name in dirs + files]
        inside = os.path.join("p", "program") + os.sep
        written = [r for r in found
                   if r.startswith(inside) and os.path.basename(r) in ("slip.txt", "deep.txt")]
        outside = [r for r in found if not r.startswith((inside, "program")) and r not in (
            "hostile.zip", "update-local.zip", "p", os.path.join("p", "program"))]
        self.assertEqual(outside, [])
        self.assertEqual(written != [], status == 0)

    def test_a_full_disk_leaves_the_old_set_and_shows_message_two(self):
        if ARGS.emulator:
            self.skipTest("no file-size limit under the emulator")
        big = os.path.join(self.scratch, "big.zip")
        make_zip(big, [zip_item("korvanta-data.txt", b"version 2\n"),
                       zip_item("big.bin", os.urandom(3 << 20))])
        status, err = self.program.run(big, preexec=file_size_limit(1 << 20))
        self.assertEqual(snapshot(self.program.path), self.old)
        # Message 2, nothing started or left behind, and the user's archive stays.
        self.assertEqual((status, MESSAGE_2 in err, self.program.starts(), self.program.leftovers(),
                          os.path.exists(big)), (NOT_UPDATED, True, [], [], True), err)
        self.assertIn("install: failed", self.program.run_log())
        # On a disk without room for the staging (a 1 MiB file system of its
        # own, root only) the install fails before its first write: the
        # crash point after the journal's creation is never reached.
        if os.geteuid() != 0:
            return
        disk = os.path.join(self.scratch, "small-disk")
        os.makedirs(disk)
        done = subprocess.run(["unshare", "-m", "sh", "-c", 'mount -t tmpfs -o size=1m tmpfs "$1" '
                               '&& echo old > "$1/korvanta-data.txt" && exec "$2" "$3" "$1"', "-",
                               disk, ARGS.install, big],
                              env=dict(os.environ, UPDATER_TEST_CRASH_AT="1"),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(done.returncode, EXIT_FAILED, done.stderr)

    def test_a_damaged_package_is_fetched_once_more_or_removed_with_message_two(self):
        if ARGS.emulator:
            self.skipTest("message 2 would wait for a click under the emulator")
        # A local copy with the server's size and time but a damaged item, or
        # a zeroed end (no directory: not a zip at all), is fetched once more;
        # a damaged download is removed. (case, damage of the local copy, of
        # the served package, what the log says)
        again = "the package found up to date was refused; it is fetched once more"
        cases = [("local-item", lambda p: damage_item(p, 2), None, again),
                 ("local-end", zero_end, None, again),
                 ("served-item", None, lambda p: damage_item(p, 1), "install: failed")]
        for case, damage_local, damage_served, logged in cases:
            damaged = damage_served is not None
            with self.subTest(case):
                served, url = publish(self, case)
                shutil.copy(self.archive, served)
                if damaged:
                    damage_served(served)
                program = Program(os.path.join(self.scratch, case))
                local = program.join("update.zip")
                if damage_local:
                    shutil.copy(served, local)
                    damage_local(local)
                    stamp = os.stat(served)
                    os.utime(local, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
                status, err = program.run(url)
                # (A build without a key keeps no release signature.)
                self.assertEqual(snapshot(program.path), self.old if damaged else dict(
                    self.new, **{KEPT: self.old[KEPT]}))
                # Message 2 or the package kept and the main application started.
                self.assertEqual((status, MESSAGE_2 in err, os.path.exists(local),
                                  len(program.starts()), program.leftovers()),
                                 (NOT_UPDATED if damaged else UPDATED, damaged, not damaged,
                                  0 if damaged else 1, []), err)
                self.assertIn(logged, program.run_log())
        # The elevated run of a hand-over installs the package that the user's
        # run left in the temporary directory, and never removes anything
        # there, even where that folder is a link to another one.
        program = Program(os.path.join(self.scratch, "elevated"))
        package = os.path.join(self.scratch, "elsewhere", "update.zip")
        os.makedirs(os.path.dirname(package))
        os.symlink(os.path.dirname(package), os.path.join(self.scratch, "korvanta-update"))
        shutil.copy(self.archive, package)
        damage_item(package, 1)
        with unittest.mock.patch.dict(os.environ, TMPDIR=self.scratch):
            status, err = program.run(os.path.join(self.scratch, "korvanta-update", "update.zip"))
        self.assertEqual((status, MESSAGE_2 in err, os.path.exists(package),
                          snapshot(program.path)), (NOT_UPDATED, True, True, self.old), err)


if __name__ == "__main__":
    OWN.add(os.path.basename(sys.argv[sys.argv.index("--updater") + 1]))
    main("--install")
