# Writes the crafted zip archives of the archive tests into the given directory.
#
# One table names every archive and its items. Python's zipfile writes them;
# what it will not write (a wrong CRC-32, damaged sizes, headers that disagree,
# a time block in one copy of the extra field only) is each item's list of
# patches, applied to the finished file.
#
import os
import struct
import sys
import zipfile

TEXT = b"".join(b"line %06d of some compressible text\n" % i for i in range(6000))
STAMP = (2020, 1, 2, 3, 4, 6)
STORED, DEFLATED = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
# A field's offset in the local header, and in the central one.
CRC, PACKED, SIZE = (14, 16), (18, 20), (22, 24)


def item(name, data=b"", method=STORED, date=STAMP, host=3, attrs=0o100644 << 16, extra=b"",
         patches=()):
    """`patches`: (header, offset, format, value) with header "local", "central" or "data" (the
    item's first data byte); a callable value is given the item's ZipInfo."""
    info = zipfile.ZipInfo(name, date)
    info.compress_type, info.create_system = method, host
    info.external_attr, info.extra = attrs, extra
    return info, data, patches


def both(field, fmt, value):
    return [("local", field[0], fmt, value), ("central", field[1], fmt, value)]


def ut(flags, *times):
    data = struct.pack("<B%di" % len(times), flags, *times)
    return struct.pack("<HH", 0x5455, len(data)) + data


DIRUP = ["../up1.txt", "..\\up2.txt", "a/../../up3.txt", "..", "../", "x/..\\../up4.txt",
         "C:\\drive\\d.txt", "/abs/abs.txt", "\\\\server\\share\\s.txt", "C:..\\up5.txt",
         "ok/../fine.txt", "../../../../../../tmp/up6.txt", "dir/.."]

ARCHIVES = {
    "empty.zip": [],
    "cursor.zip": [item("item%d.txt" % i, b"item %d" % i) for i in range(8)],
    "dirup.zip": [item(n, n.encode()) for n in DIRUP],
    "names.zip": [item("n" * 259, b"259"), item("n" * 260, b"260"), item("m" * 300)],
    # Data faults: each item damaged in its own way.
    "damaged.zip": [
        item("crc_stored.txt", b"stored body", patches=both(CRC, "<I", 0x12345678)),
        item("crc_deflated.txt", TEXT, DEFLATED, patches=both(CRC, "<I", 0x12345678)),
        # The stream stops early; it inflates to more than stated; stored, shorter than stated.
        item("short.bin", TEXT, DEFLATED,
             patches=both(PACKED, "<I", lambda info: info.compress_size // 2)),
        item("long.bin", TEXT, DEFLATED, patches=both(SIZE, "<I", 1000)),
        item("sizes.bin", b"0123456789", patches=both(SIZE, "<I", 12)),
        item("garbled.bin", TEXT, DEFLATED,
             patches=[("data", lambda info: info.compress_size // 2, "<8s", b"\xff" * 8)]),
        item("badlocal.txt", TEXT, DEFLATED, patches=[("local", 8, "<H", 0)]),  # local method
        item("bzip2.txt", TEXT, zipfile.ZIP_BZIP2)],
    # Times: a block in the central copy of the extra field only, DOS dates.
    "times.zip": [
        item("ut7.txt", b"a", extra=ut(7, 1000000000, 1100000000, 900000000)),
        item("utcentral.txt", b"f", extra=ut(1, 1000000000),
             patches=[("local", 30 + len("utcentral.txt"), "<H", 0x5A5A)]),
        item("baddate.txt", b"h", date=(1980, 0, 0, 0, 0, 0)),
        item("dos.txt", b"j", date=(2021, 12, 31, 23, 59, 58))],
    # Attributes of DOS-like and Unix hosts, and directories marked only by
    # name (zipfile writes 0o600 for 0: patched back to 0).
    "attrs.zip": [
        item("dos_ro.txt", b"1", host=0, attrs=0x21),
        item("dos_dir/", host=0, attrs=0x10),
        item("dos_all.txt", b"2", host=0, attrs=0xEF),
        item("ntfs_hs.txt", b"3", host=11, attrs=0x06),
        item("unix_ro.txt", b"4", attrs=0x81240000),
        item("unix_dir/", attrs=0x41ED0000),
        item("unix_none.txt", b"5", attrs=0, patches=[("central", 38, "<I", 0)]),
        item("bare_dir/", host=0, attrs=0, patches=[("central", 38, "<I", 0)])],
}


def central_offsets(blob):
    """The offset of each central header, by item name."""
    at = blob.rfind(b"PK\x05\x06")
    count, _, central = struct.unpack_from("<HII", blob, at + 10)
    offsets = {}
    for _ in range(count):
        nlen, xlen, clen = struct.unpack_from("<HHH", blob, central + 28)
        offsets[blob[central + 46:central + 46 + nlen].decode()] = central
        central += 46 + nlen + xlen + clen
    return offsets


def write(path, items):
    with zipfile.ZipFile(path, "w") as z:
        for info, data, _ in items:
            z.writestr(info, data)
    with open(path, "r+b") as f:
        central = central_offsets(f.read())
        for info, _, patches in items:
            local = info.header_offset
            data = local + 30 + len(info.filename.encode()) + len(info.extra)
            for header, offset, fmt, value in patches:
                base = {"local": local, "central": central[info.filename], "data": data}[header]
                f.seek(base + (offset(info) if callable(offset) else offset))
                f.write(struct.pack(fmt, value(info) if callable(value) else value))


def write_zip64_hole(path, name, size, crc=0):
    """One stored item of `size` zero bytes (with crc=0 its CRC-32 is not
    computed: describing it checks none), written as a hole, so that sizes past
    4 GiB (Zip64 fields in both headers, a Zip64 end record) cost no disk."""
    n, full = name.encode(), 0xFFFFFFFF
    local_extra = struct.pack("<HHQQ", 1, 16, size, size)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0x21, crc, full, full, len(n),
                        len(local_extra)) + n + local_extra
    central_extra = struct.pack("<HHQQ", 1, 16, size, size)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 45, 0, 0, 0, 0x21, crc, full,
                          full, len(n), len(central_extra), 0, 0, 0, 0o100644 << 16,
                          0) + n + central_extra
    at = len(local) + size
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, len(central), at)
    locator = struct.pack("<IIQI", 0x07064B50, 0, at + len(central), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), full, 0)
    with open(path, "wb") as f:
        f.write(local)
        f.seek(at)
        f.write(central + end64 + locator + end)


if __name__ == "__main__":
    for archive, entries in ARCHIVES.items():
        write(os.path.join(sys.argv[1], archive), entries)
