#!/usr/bin/env bash
# Regenerates the README's transparency example: a red disc on a transparent
# ground whose hidden colour is green (as an editor often leaves it), and the
# plug-in's result on it at size 7, written by the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 - docs/transparency-before.png <<'PY'
import struct, sys, zlib
w, h = 160, 100
rows = b""
for y in range(h):
    rows += b"\0" + b"".join(
        bytes((0xD6, 0x26, 0x2F, 255)) if (x - 80) ** 2 + (y - 50) ** 2 <= 38 ** 2 else bytes((0x2F, 0x9E, 0x44, 0))
        for x in range(w))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
PY
tools/run-main-job.sh docs/transparency-before.png 7 docs/transparency-after.png
