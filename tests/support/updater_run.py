# What the end-to-end and the fault suites share: their command line, a
# program directory holding a copy of the updater and the Korvanta.exe
# stand-in, the loopback peers, a loopback server that runs a handler per
# connection, zip items, and bounded waits.
import argparse
import atexit
import contextlib
import os
import pty
import re
import resource
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest
import zipfile

TAIL = "\n\n或去Orinta网站上下载新版本。\n\n按\"确认\"去官网下载，按\"取消\"退出本次升级。"
MESSAGE_1 = "非常抱歉，本程序不能单独运行。\n\n您可点击\"Velmora\"工具栏的\"在线升级\"按钮尝试升级。" + TAIL
MESSAGE_2 = ("非常抱歉，可能因为网络原因，本次升级失败。\n\n"
             "您可点击\"Velmora\"工具栏的\"在线升级\"按钮再次尝试升级。" + TAIL)
EXIT_OK, EXIT_FAILED = 0, 3  # updater-fetch and updater-install
# The updater: installed (or current) and the main application started; no
# address; nothing installed.
UPDATED, NO_ADDRESS, NOT_UPDATED = 0, 1, 2
# The proxy variables (in lower case): a run gets them only from a case that
# sets them.
PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy")

# The programs under test and the vendor domain they were built with (main()).
ARGS = argparse.Namespace(emulator=None)


# Reads --updater, --standin, --domain, [--emulator] and `options` into
# ARGS, then runs the calling module's tests.
def main(*options):
    parser = argparse.ArgumentParser()
    for name in ("--updater", "--standin", "--domain", "--emulator") + options:
        parser.add_argument(name, required=name in ("--updater", "--standin", "--domain"))
    args, rest = parser.parse_known_args()
    vars(ARGS).update(vars(args))
    if ARGS.emulator and not os.environ.get("DISPLAY"):
        # One X display for the programs under the emulator and the helpers
        # that answer their message boxes (tools/windows/xvfb.sh picks a free one).
        xvfb = os.path.join(os.path.dirname(os.path.abspath(ARGS.emulator)), "xvfb.sh")
        display, xvfb_pid = subprocess.run(
            ["bash", "-c", '. "$1" && start_xvfb && echo "$DISPLAY $XVFB_PID"', "-", xvfb],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True).stdout.split()
        os.environ["DISPLAY"] = display
        atexit.register(os.kill, int(xvfb_pid), signal.SIGTERM)
    unittest.main(module="__main__", argv=[sys.argv[0], *rest], verbosity=2)


def emulator():
    return [ARGS.emulator] if ARGS.emulator else []


# The environment of a run: this one's without its proxy variables, plus
# `variables`.
def run_environment(variables=None):
    env = {k: v for k, v in os.environ.items() if k.lower() not in PROXY_VARIABLES}
    return dict(env, UPDATER_UI="plain", **(variables or {}))


# A path as the Windows program under the emulator names it; an address stays.
def native(argument):
    return "Z:" + argument.replace("/", "\\") if ARGS.emulator and argument[:1] == "/" else argument


# The path and address (through the relay on `port`, if given) of `name` on
# the loopback nginx that with-peers.sh starts.
def nginx(test, name, port=None):
    test.assertIn("UPDATER_TEST_HTTP_PORT", os.environ, "run through tests/peers/with-peers.sh")
    return (os.path.join(os.environ["UPDATER_TEST_DOCROOT"], name),
            "http://127.0.0.1:%s/%s" % (port or os.environ["UPDATER_TEST_HTTP_PORT"], name))


# A package of `items` served as `case`: its path and address, as nginx().
def publish(test, case, items=(), port=None):
    path, url = nginx(test, "files/%s/%s/update.zip" % (ARGS.domain, case), port)
    make_zip(path, items)
    return path, url


# A directory removed when the test ends, read-only parts and all.
def scratch(test, prefix="updater-test-"):
    path = tempfile.mkdtemp(prefix=prefix)
    test.addCleanup(remove_tree, path)
    return path


def remove_tree(path):
    subprocess.run(["chmod", "-R", "u+rwx", path], stderr=subprocess.DEVNULL)  # links stay
    shutil.rmtree(path, ignore_errors=True)


# A zip item of a Unix host (with `mode`) or of a DOS one (host 0).
def zip_item(name, data, mode=0o100644, host=3, date=(2021, 5, 6, 7, 8, 10)):
    info = zipfile.ZipInfo(name, date)
    info.create_system, info.external_attr = host, mode << 16 if host == 3 else 0
    return info, data


def make_zip(path, items):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for info, data in items:
            z.writestr(info, data)


def read_if_there(path, mode="rb"):
    # None when there is no such file.
    with contextlib.suppress(FileNotFoundError), open(path, mode) as f:
        return f.read()


# For preexec_fn: a "disk" that is full after `limit` bytes of a file.
def file_size_limit(limit):
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


def wait_until(predicate, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while not predicate() and time.monotonic() < deadline:
        time.sleep(step)
    return predicate()


def read_request(conn, limit=65536):
    data = b""
    for chunk in iter(lambda: conn.recv(4096), b""):
        data += chunk
        if b"\r\n\r\n" in data or len(data) >= limit:
            break
    return data


# A loopback TCP server on `host` at a port the system picks;
# `handle(conn, index)` runs on a thread of its own for every connection.
class Server:

    def __init__(self, handle, host="127.0.0.1"):
        self.handle, self.connections, self.threads = handle, 0, []
        self.listener = socket.create_server((host, 0), backlog=64)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        # Ends when close() closes the listener. Only this thread counts.
        with contextlib.suppress(OSError):
            while True:
                conn, _ = self.listener.accept()
                t = threading.Thread(target=self._serve, args=(conn, self.connections), daemon=True)
                self.connections += 1
                # Started before it is listed: close() joins only started threads.
                t.start()
                self.threads.append(t)

    def _serve(self, conn, index):
        with conn, contextlib.suppress(OSError):
            self.handle(conn, index)

    def close(self):
        self.listener.close()
        for t in self.threads:
            t.join(5)


# A program directory with the updater (ARGS.updater unless given, run
# through the emulator, if any) under its own name, the stand-in and the
# installed release's data file.
class ProgramDir:

    def __init__(self, path, updater=None):
        self.path = path
        os.makedirs(self.path, exist_ok=True)
        self.name = os.path.basename(ARGS.updater)
        shutil.copy2(updater or ARGS.updater, self.join(self.name))
        shutil.copy2(ARGS.standin, self.join("Korvanta.exe"))
        self.write("korvanta-data.txt", "version 1\n")

    def join(self, *parts):
        return os.path.join(self.path, *parts)

    def write(self, name, content):
        os.makedirs(os.path.dirname(self.join(name)), exist_ok=True)
        with open(self.join(name), "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)

    def read(self, name, mode="r"):
        return read_if_there(self.join(name), mode)

    # `wrapper`: a command line that the run's own comes after.
    def start(self, *args, preexec=None, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
              how=subprocess.Popen, variables=None, wrapper=(), **more):
        return how([*wrapper, *emulator(), self.join(self.name), *args], stdin=subprocess.DEVNULL,
                   stdout=stdout, stderr=stderr, env=run_environment(variables),
                   preexec_fn=preexec, **more)

    # The exit status and what the run wrote to standard error (a run
    # that outlives `timeout` is killed and raises TimeoutExpired).
    def run(self, *args, timeout=60, preexec=None, variables=None, wrapper=()):
        done = self.start(*args, preexec=preexec, how=subprocess.run, timeout=timeout,
                          variables=variables, wrapper=wrapper)
        return done.returncode, done.stderr.decode(errors="replace")

    # run(), but under the emulator a box is a real message box, which a
    # helper in the same wine session and on the same display reads and
    # cancels: the exit status and the boxes' texts.
    def run_answered(self, argument, box=False, timeout=60):
        if not ARGS.emulator:
            return self.run(argument, timeout=timeout)
        proc = self.start(native(argument), stderr=subprocess.DEVNULL)
        shown = ""
        if box:
            answer = subprocess.run([*emulator(), ARGS.answer_box, str(timeout)],
                                    stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=2 * timeout)
            # The helper's console stream writes each line break as CR LF.
            shown = answer.stdout.decode("gbk", "replace").replace("\r\n", "\n")
        return proc.wait(timeout=timeout), shown

    # A run with --silent: the exit status and everything it wrote (the
    # stand-in it starts shares its output: its line is left out).
    def run_silent(self, argument, timeout=60):
        done = self.start("--silent", native(argument), stdout=subprocess.PIPE, how=subprocess.run,
                          timeout=timeout)
        output = (done.stdout + done.stderr).decode(errors="replace")
        return done.returncode, re.sub(r"(?m)^Korvanta started \(data: .*\)\r?\n", "", output)

    # What the updater's runs logged (updater.log, and the older copy first).
    def run_log(self):
        return b"".join(read_if_there(self.join(name)) or b"" for name in (
            "updater.log.1", "updater.log")).decode(errors="replace")

    # What the stand-in wrote: a line for each run of it.
    def log(self):
        return read_if_there(self.join("Korvanta.log"), "r") or ""

    def starts(self):
        return [line for line in self.log().splitlines(True) if line.startswith("started")]

    # What a run left of its own beside the package itself.
    def leftovers(self):
        return sorted(n for n in os.listdir(self.path)
                      if n.startswith("update.") and n != "update.zip")


# The updater in a pseudo-terminal, so it draws its dialog and reads keys.
class PtyRun:

    def __init__(self, program, *args):
        # Without a display the page is named on the terminal, not opened.
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY") and k.lower() not in PROXY_VARIABLES}
        env.update(UPDATER_UI="terminal", TERM="xterm")
        self.master, self.slave = pty.openpty()
        self.initial = termios.tcgetattr(self.slave)
        self.proc = subprocess.Popen([program.join(program.name), *args], stdin=self.slave,
                                     stdout=self.slave, stderr=self.slave, env=env, close_fds=True,
                                     start_new_session=True)
        self.output = b""

    # Reads until the output matches the regular expression `pattern`.
    def read_until(self, pattern, timeout):
        found = lambda: re.search(pattern.encode(), self.output) is not None  # noqa: E731
        deadline = time.monotonic() + timeout
        while not found() and time.monotonic() < deadline:
            if select.select([self.master], [], [], 0.05)[0]:
                try:
                    self.output += os.read(self.master, 65536)
                except OSError:
                    break
        return found()

    # Presses the key or sends the signal `how`; the exit status once the
    # updater has ended.
    def end(self, how, timeout=10):
        os.write(self.master, how) if isinstance(how, bytes) else self.proc.send_signal(how)
        return self.ended(timeout)

    # The exit status once the updater has ended (None if it has not).
    def ended(self, timeout):
        wait_until(lambda: self.drain() and self.proc.poll() is not None, timeout)
        return self.proc.poll()

    # Reads what the updater wrote, so that its terminal never fills up.
    def drain(self, timeout=0.02):
        self.read_until("\0", timeout)
        return True

    def close(self):
        self.proc.kill()  # nothing happens to one that has ended
        self.proc.wait()
        os.close(self.master)
        os.close(self.slave)
