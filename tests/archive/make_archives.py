"""Writes the crafted zip archives of the archive tests into the given directory.

Each archive is written by Python's zipfile; what zipfile will not write (wrong
CRC-32, damaged sizes, headers that disagree, a time block in one copy of the
extra field only) is patched into the finished file afterwards.
"""
import os
import struct
import sys
import zipfile

OUT = sys.argv[1]
TEXT = b"".join(b"line %06d of some compressible text\n" % i for i in range(6000))
STAMP = (2020, 1, 2, 3, 4, 6)


def entry(name, data=b"", method=zipfile.ZIP_STORED, date=STAMP, host=3, attrs=0o100644 << 16,
          extra=b""):
    info = zipfile.ZipInfo(name, date)
    info.compress_type = method
    info.create_system = host
    info.external_attr = attrs
    info.extra = extra
    return info, data


def write(name, entries):
    path = os.path.join(OUT, name)
    with zipfile.ZipFile(path, "w") as z:
        for info, data in entries:
            z.writestr(info, data)
    return path


def headers(path, name):
    """Offsets of the local and the central header of entry `name`."""
    blob = open(path, "rb").read()
    at = blob.rfind(b"PK\x05\x06")
    count, _, central = struct.unpack_from("<HII", blob, at + 10)
    for _ in range(count):
        nlen, xlen, clen = struct.unpack_from("<HHH", blob, central + 28)
        if blob[central + 46:central + 46 + nlen] == name.encode():
            return struct.unpack_from("<I", blob, central + 42)[0], central
        central += 46 + nlen + xlen + clen
    raise KeyError(name)


def patch(path, offset, fmt, *values):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(struct.pack(fmt, *values))


def patch_both(path, name, local_at, central_at, fmt, *values):
    """The same field in the local (`local_at`) and central (`central_at`) header."""
    local, central = headers(path, name)
    patch(path, local + local_at, fmt, *values)
    patch(path, central + central_at, fmt, *values)


def ut(flags, *times):
    data = struct.pack("<B%di" % len(times), flags, *times)
    return struct.pack("<HH", 0x5455, len(data)) + data


# Names that try to leave the target directory, each with its own content.
dirup = ["../up1.txt", "..\\up2.txt", "a/../../up3.txt", "..", "../", "x/..\\../up4.txt",
         "C:\\drive\\d.txt", "/abs/abs.txt", "\\\\server\\share\\s.txt", "C:..\\up5.txt",
         "ok/../fine.txt", "../../../../../../tmp/up6.txt", "dir/.."]
write("dirup.zip", [entry(n, n.encode()) for n in dirup])

# Zip-slip: every prefix, climb and ending the cleaning rules know, and names
# near and past the 260-byte limit; once as files, once as directories.
# Segments such as "..." and ".. " are plain names to the cleaning rules, but
# Windows trims trailing dots and blanks, so its file layer cannot reach them.
prefixes = ["", "/", "\\", "//", "\\\\", "C:", "C:\\", "C:/", "z:", "C:C:", "::",
            "\\\\server\\share\\", "//server/share/", "\\\\?\\C:\\", "//?/UNC/srv/s/",
            "\\\\.\\", "/\\/\\", "C:\\\\"]
climbs = ["", "../", "..\\", "../../", "..\\..\\", "..//", "..\\\\", "../..\\", "..\\../",
          "./../", ".\\..\\", "././../", "a/../../", "a\\..\\..\\", "a/..\\../", "a\\../..\\",
          "x/./../../", "x/y/../../../", "a/b/c/../../../../../", "%2e%2e/", "../" * 12]
endings = ["up.txt", "dir/up.txt", "dir\\up.txt", "..", "x/..", "x\\..", "./..", ".//.."]
slip = [p + c + e for p in prefixes for c in climbs for e in endings]
slip += ["../" * 80 + "deep.txt", "../" * 160 + "deeper.txt", "n" * 250 + "/../../x",
         "m" * 258 + "/..", "a/.." + "/" * 300 + "..",
         # zipfile writes no GBK lead byte or NUL in a name: \x01 and \x02 stand in for them.
         "\x01\\..\\..\\gbk.txt", "\x01/../../gbk2.txt", "nul.txt\x02/../../../x"]
slip = list(dict.fromkeys(slip))  # "" + "" + "x/.." and the like come twice
for kind, suffix, attrs in (("files", "", 0o100644), ("dirs", "/", 0o40755)):
    p = write("slip-%s.zip" % kind, [entry(n if n[-1] in "/\\" or not suffix else n + suffix,
                                           b"" if suffix else b"item %d" % i, attrs=attrs << 16)
                                     for i, n in enumerate(slip)])
    for n in slip[-3:]:
        name = n + suffix
        local, central = headers(p, name)
        real = name.encode().replace(b"\x01", b"\x81").replace(b"\x02", b"\x00")
        patch(p, local + 30, "%ds" % len(real), real)
        patch(p, central + 46, "%ds" % len(real), real)

# Data faults, each in an archive of its own item plus a sound one.
p = write("crc.zip", [entry("stored.txt", b"stored body"),
                      entry("deflated.txt", TEXT, zipfile.ZIP_DEFLATED)])
for n in ("stored.txt", "deflated.txt"):
    patch_both(p, n, 14, 16, "<I", 0x12345678)
p = write("damaged.zip", [entry("short.bin", TEXT, zipfile.ZIP_DEFLATED),
                          entry("long.bin", TEXT, zipfile.ZIP_DEFLATED),
                          entry("sizes.bin", b"0123456789"),
                          entry("badlocal.txt", TEXT, zipfile.ZIP_DEFLATED),
                          entry("garbled.bin", TEXT, zipfile.ZIP_DEFLATED),
                          entry("bzip2.txt", TEXT, zipfile.ZIP_BZIP2)])
with zipfile.ZipFile(p) as z:
    short = z.getinfo("short.bin").compress_size
    garbled = z.getinfo("garbled.bin").compress_size
patch_both(p, "short.bin", 18, 20, "<I", short // 2)  # the stream stops early
patch_both(p, "long.bin", 22, 24, "<I", 1000)  # inflates to more than stated
patch_both(p, "sizes.bin", 22, 24, "<I", 12)  # stored, but shorter than stated
patch(p, headers(p, "badlocal.txt")[0] + 8, "<H", 0)  # local method differs
local = headers(p, "garbled.bin")[0]
patch(p, local + 30 + len("garbled.bin") + garbled // 2, "<8s", b"\xff" * 8)

# Times: a block in the central copy of the extra field only, DOS dates.
p = write("times.zip", [
    entry("ut7.txt", b"a", extra=ut(7, 1000000000, 1100000000, 900000000)),
    entry("utcentral.txt", b"f", extra=ut(1, 1000000000)),
    entry("baddate.txt", b"h", date=(1980, 0, 0, 0, 0, 0)),
    entry("dos.txt", b"j", date=(2021, 12, 31, 23, 59, 58)),
])
patch(p, headers(p, "utcentral.txt")[0] + 30 + len("utcentral.txt"), "<H", 0x5A5A)

# Attributes of DOS-like and Unix hosts, and directories marked only by name.
p = write("attrs.zip", [
    entry("dos_ro.txt", b"1", host=0, attrs=0x21),
    entry("dos_dir/", host=0, attrs=0x10),
    entry("dos_all.txt", b"2", host=0, attrs=0xEF),
    entry("ntfs_hs.txt", b"3", host=11, attrs=0x06),
    entry("unix_ro.txt", b"4", attrs=0x81240000),
    entry("unix_dir/", attrs=0x41ED0000),
    entry("unix_none.txt", b"5", attrs=0),
    entry("bare_dir/", host=0, attrs=0),
])
for n in ("unix_none.txt", "bare_dir/"):  # zipfile writes 0o600 for 0
    patch(p, headers(p, n)[1] + 38, "<I", 0)

write("empty.zip", [])
write("names.zip", [entry("n" * 259, b"259"), entry("n" * 260, b"260"), entry("m" * 300)])
write("sizes.zip", [
    entry("empty_stored.txt"),
    entry("empty_deflated.txt", method=zipfile.ZIP_DEFLATED),
    entry("big_stored.bin", os.urandom(70000)),
    entry("big_deflated.txt", TEXT, zipfile.ZIP_DEFLATED),
    entry("ro.txt", b"read only", attrs=0o100444 << 16),
    entry("docs/", attrs=0o40755 << 16 | 0x10),
])
write("cursor.zip", [entry("item%d.txt" % i, b"item %d" % i) for i in range(8)])
