# Prepares the archives that the archive tests read, into the given directory
# (emptied first):
#
#     crafted/NAME.zip           the archives of make_archives.py
#     peers/source/...           files with known bytes and times
#     peers/PEER.zip, PEER.list  the source tree archived by one real archiver, and
#                                what `unzip -Z -T -l` lists for it, one item a line:
#                                mode size compressed-size UTC-seconds name
#     peers/PEER.missing         instead, when the archiver is not installed
#
# Everything runs in UTC, so the DOS times in the archives are UTC times. A peer
# whose archiver fails leaves neither file (its test then fails).
#
import calendar
import os
import random
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_archives  # noqa: E402

OUT = os.path.abspath(sys.argv[1])
os.environ["TZ"] = "UTC"
time.tzset()

# name, the program that must be installed, the command run in the source
# tree ({} is the archive).
PEERS = [
    ("InfoZip", "zip", ["zip", "-q", "-r", "{}", "."]),
    ("InfoZipEncrypted", "zip", ["zip", "-q", "-r", "-P", "pass word", "{}", "."]),
    ("SevenZip", "7z", ["7z", "a", "-tzip", "-bd", "{}", "."]),
    ("SevenZipEncrypted", "7z", ["7z", "a", "-tzip", "-bd", "-mem=ZipCrypto", "-pSecret7", "{}",
                                 "."]),
    ("Bsdtar", "bsdtar", ["bsdtar", "--format", "zip", "-cf", "{}", "."]),
]


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
    os.chmod(os.path.join(root, "ro.txt"), 0o444)


def listing(archive):
    """What `unzip -Z -T -l` lists, with its yyyymmdd.hhmmss times as UTC seconds."""
    text = subprocess.run(["unzip", "-Z", "-T", "-l", archive], check=True, text=True,
                          stdout=subprocess.PIPE).stdout
    rows = []
    for f in (line.split() for line in text.splitlines()):
        if len(f) == 9 and len(f[7]) == 15 and f[7][8] == ".":  # not a header or summary line
            seconds = calendar.timegm(time.strptime(f[7], "%Y%m%d.%H%M%S"))
            rows.append("%s %s %s %d %s\n" % (f[0], f[3], f[5], seconds, f[8]))
    return "".join(rows)


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    crafted, peers = os.path.join(OUT, "crafted"), os.path.join(OUT, "peers")
    os.makedirs(crafted)
    for name, items in make_archives.ARCHIVES.items():
        make_archives.write(os.path.join(crafted, name), items)
    make_archives.write_zip64_hole(os.path.join(crafted, "zip64-hole.zip"), "big.bin", 5000000000)
    source = os.path.join(peers, "source")
    make_source(source)
    for name, tool, command in PEERS:
        if shutil.which(tool) is None:
            open(os.path.join(peers, name + ".missing"), "w").close()
            continue
        archive = os.path.join(peers, name + ".zip")
        try:
            subprocess.run([archive if part == "{}" else part for part in command], cwd=source,
                           check=True, stdout=subprocess.DEVNULL)
            listed = listing(archive)
        except (OSError, subprocess.CalledProcessError) as error:
            print("prepare_archives: %s: %s" % (name, error), file=sys.stderr)
            if os.path.exists(archive):
                os.remove(archive)
            continue
        with open(os.path.join(peers, name + ".list"), "w") as f:
            f.write(listed)


if __name__ == "__main__":
    main()
