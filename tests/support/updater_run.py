"""What the end-to-end and the fault suites share: a program directory holding
a copy of the updater and the Korvanta.exe stand-in, a loopback server that
runs a handler per connection, and bounded waits."""
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time

TAIL = "\n\n或去Orinta网站上下载新版本。\n\n按\"确认\"去官网下载，按\"取消\"退出本次升级。"
MESSAGE_1 = "非常抱歉，本程序不能单独运行。\n\n您可点击\"Velmora\"工具栏的\"在线升级\"按钮尝试升级。" + TAIL
MESSAGE_2 = ("非常抱歉，可能因为网络原因，本次升级失败。\n\n"
             "您可点击\"Velmora\"工具栏的\"在线升级\"按钮再次尝试升级。" + TAIL)


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
        self.threads = []
        threading.Thread(target=self._accept, daemon=True).start()

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
        self.listener.close()
        for t in self.threads:
            t.join(5)


class ProgramDir:
    """A program directory with the updater (run through `emulator`, if any)."""

    def __init__(self, updater, standin, path=None, emulator=(), name=None):
        self.path = path or tempfile.mkdtemp(prefix="updater-run-")
        os.makedirs(self.path, exist_ok=True)
        self.emulator = list(emulator)
        self.name = name or os.path.basename(updater)
        shutil.copy2(updater, self.join(self.name))
        shutil.copy2(standin, self.join("Korvanta.exe"))

    def join(self, *parts):
        return os.path.join(self.path, *parts)

    def write(self, name, content):
        os.makedirs(os.path.dirname(self.join(name)), exist_ok=True)
        with open(self.join(name), "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)

    def read(self, name, mode="r"):
        with open(self.join(name), mode) as f:
            return f.read()

    def start(self, *args, preexec=None, stdout=subprocess.DEVNULL):
        env = dict(os.environ, UPDATER_UI="plain")
        return subprocess.Popen([*self.emulator, self.join(self.name), *args],
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.PIPE,
                                env=env, preexec_fn=preexec)

    def run(self, *args, timeout=60, preexec=None):
        """The exit status and what the run wrote to standard error."""
        proc = self.start(*args, preexec=preexec)
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

    def remove(self):
        for root, dirs, files in os.walk(self.path):
            for name in dirs + files:
                os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(self.path, ignore_errors=True)
