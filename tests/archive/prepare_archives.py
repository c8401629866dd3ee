"""Prepares the archives that the archive tests read, into the given directory.

    crafted/NAME.zip           the archives of make_archives.py
    unzipped/NAME.zip/ITEM     what `unzip` extracts from some of them
    peers/source/...           files with known bytes and times
    peers/PEER.zip, PEER.list  the source tree archived by one real archiver,
                               and what `unzip -Z -T -l` lists for that archive
    peers/PEER.missing         instead, when the archiver is not installed

Everything runs in UTC, so the DOS times in the archives are UTC times. A
peer whose archiver fails leaves neither file (its test then fails); the
script itself fails when the crafted archives cannot be made.
"""
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.abspath(sys.argv[1])
os.environ["TZ"] = "UTC"

# Crafted archives whose items the tests compare with what unzip extracts.
UNZIPPED = ["sizes.zip"]

PYTHON_ZIPFILE = (
    "import os,sys,zipfile\n"
    "z=zipfile.ZipFile(sys.argv[1],'w')\n"
    "for d,ds,fs in sorted(os.walk('.')):\n"
    " [z.write(os.path.join(d,n),compress_type=8 if n.endswith('.txt') else 0)"
    " for n in sorted(ds+fs)]\n"
    "z.close()")

# name, the program that must be installed, the command run in the source
# tree ({} is the archive).
PEERS = [
    ("InfoZip", "zip", ["zip", "-q", "-r", "{}", "."]),
    ("InfoZipNoDirectories", "zip", ["zip", "-q", "-r", "-D", "{}", "."]),
    ("InfoZipEncrypted", "zip", ["zip", "-q", "-r", "-P", "pass word", "{}", "."]),
    ("SevenZip", "7z", ["7z", "a", "-tzip", "-bd", "{}", "."]),
    ("SevenZipEncrypted", "7z", ["7z", "a", "-tzip", "-bd", "-mem=ZipCrypto", "-pSecret7", "{}",
                                 "."]),
    ("Bsdtar", "bsdtar", ["bsdtar", "--format", "zip", "-cf", "{}", "."]),
    ("PythonZipfile", "python3", [sys.executable, "-c", PYTHON_ZIPFILE, "{}"]),
]


def run(argv, cwd=None):
    subprocess.run(argv, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def make_source(root):
    """The tree the peers archive: subdirectories, an empty directory, an empty
    file, a read-only file, incompressible and compressible data, and times of
    odd seconds (DOS times cannot hold them) whose access time differs."""
    noise = random.Random(42).randbytes(100000)
    text = "".join("text line %d\n" % i for i in range(8000)).encode()
    os.makedirs(os.path.join(root, "sub", "deep"))
    os.makedirs(os.path.join(root, "emptydir"))
    files = [("top.txt", b"top\n"), ("ro.txt", b"read only\n"), ("empty.txt", b""),
             ("sub/noise.bin", noise), ("sub/text.txt", text), ("sub/deep/n.txt", text[:999])]
    stamp = 1615000001
    for name, data in files:
        path = os.path.join(root, name)
        with open(path, "wb") as f:
            f.write(data)
        stamp += 86401
        os.utime(path, ns=((stamp + 3) * 10**9, stamp * 10**9))  # access, modification
    ro = os.path.join(root, "ro.txt")
    os.chmod(ro, os.stat(ro).st_mode & ~0o222)


def main():
    crafted = os.path.join(OUT, "crafted")
    os.makedirs(crafted, exist_ok=True)
    run([sys.executable, os.path.join(HERE, "make_archives.py"), crafted])
    for name in UNZIPPED:
        unzipped = os.path.join(OUT, "unzipped", name)
        os.makedirs(unzipped)
        run(["unzip", "-q", "-o", os.path.join(crafted, name), "-d", unzipped])

    peers = os.path.join(OUT, "peers")
    source = os.path.join(peers, "source")
    make_source(source)
    for name, tool, command in PEERS:
        if shutil.which(tool) is None:
            open(os.path.join(peers, name + ".missing"), "w").close()
            continue
        archive = os.path.join(peers, name + ".zip")
        try:
            run([archive if part == "{}" else part for part in command], cwd=source)
            listing = subprocess.run(["unzip", "-Z", "-T", "-l", archive], check=True,
                                     stdout=subprocess.PIPE).stdout
        except (OSError, subprocess.CalledProcessError) as error:
            print("prepare_archives: %s: %s" % (name, error), file=sys.stderr)
            if os.path.exists(archive):
                os.remove(archive)
            continue
        with open(os.path.join(peers, name + ".list"), "wb") as f:
            f.write(listing)


if __name__ == "__main__":
    main()
