"""Writes the benchmark archive: about 200 MB in about 2,000 items, half of
them deflated text-like data (compressing about 3:1), half stored noise, in
nested directories with directory entries. The same seed gives the same
archive. LARGEST (default 600000) bounds the item sizes: 400000 makes a
package of about 100 MB.

    python3 make_bench_archive.py OUTPUT.zip [ITEMS] [SEED] [LARGEST]
"""
import math
import os
import random
import sys
import zipfile

out = sys.argv[1]
items = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
largest = int(sys.argv[4]) if len(sys.argv) > 4 else 600_000

words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(4000)]
pool = b" ".join(rng.choice(words) for _ in range(1_200_000))  # about 7 MB of "text"
noise = rng.randbytes(8 << 20)

directories = ["pkg%02d/" % i for i in range(10)]
directories += ["%ssub%d/" % (d, j) for d in directories for j in range(3)]

tmp = out + ".tmp"
total = 0
with zipfile.ZipFile(tmp, "w") as z:
    for d in directories:
        z.writestr(zipfile.ZipInfo(d, (2024, 5, 6, 7, 8, 10)), b"")
    for i in range(items - len(directories)):
        # Log-uniform sizes from 2 KB to `largest`: many small files, some large.
        size = int(math.exp(rng.uniform(math.log(2000), math.log(largest))))
        deflated = i % 2 == 0
        source = pool if deflated else noise
        start = rng.randrange(0, len(source) - size)
        info = zipfile.ZipInfo("%sfile%04d.%s" % (rng.choice(directories), i,
                                                   "txt" if deflated else "bin"),
                               (2024, 5, 6, 7, 8, 10))
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED if deflated else zipfile.ZIP_STORED
        z.writestr(info, source[start:start + size])
        total += size
os.replace(tmp, out)
print("%s: %d items, %.1f MB uncompressed, %.1f MB archive" %
      (out, items, total / 1e6, os.path.getsize(out) / 1e6))
