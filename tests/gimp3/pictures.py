# Pictures for the GIMP 3 tests: painted inputs, PNG files without colour
# chunks (GIMP keeps their stored values), and the plug-in's own cells
# through the native tree's plugin_cells (the whole-picture run in the fake
# host), which every engine of the cells must give.
import struct
import subprocess
import zlib

COLOUR_TYPES = {1: 0, 2: 4, 3: 2, 4: 6}


class Picture:
    def __init__(self, width, height, planes, depth=8, pixels=None):
        self.width, self.height, self.planes, self.depth = width, height, planes, depth
        self.pixels = bytearray(pixels if pixels is not None else width * height * planes * depth // 8)

    def pixel(self, x, y):
        n = self.planes * self.depth // 8
        k = (y * self.width + x) * n
        return bytes(self.pixels[k:k + n])


def painted(width, height, planes, transparent=False):
    """Every position its own colour; alpha varies apart from the colours and,
    unless asked for, is never 0."""
    p = Picture(width, height, planes)
    out = p.pixels
    k = 0
    for y in range(height):
        for x in range(width):
            grey = planes < 3
            out[k] = (x * 3 + y) & 255
            if not grey:
                out[k + 1] = (y * 5 + (x >> 8)) & 255
                out[k + 2] = (x * 7 + y * 13) & 255
            if planes in (2, 4):
                a = 1 + (x ^ (y * 3)) % 255
                if transparent and (x + y) % 5 == 0:
                    a = 0
                out[k + planes - 1] = a
            k += planes
    return p


def widened(p, mask=0x5A):
    """A 16-bit picture whose high bytes are `p` and whose low bytes follow
    from them, so that a pixel's 16-bit values can be told from its 8-bit
    cells, and a value taken at 8 bits and widened again shows."""
    out = Picture(p.width, p.height, p.planes, 16)
    for k, v in enumerate(p.pixels):
        out.pixels[2 * k] = v
        out.pixels[2 * k + 1] = v ^ mask
    return out


def write_png(path, p):
    stride = p.width * p.planes * p.depth // 8
    raw = b"".join(b"\0" + bytes(p.pixels[y * stride:(y + 1) * stride]) for y in range(p.height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", p.width, p.height, p.depth, COLOUR_TYPES[p.planes], 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6)) +
                chunk(b"IEND", b""))


def read_png(path):
    """The stored values of a non-interlaced grey or RGB PNG, with or without
    alpha, 8 or 16 bits; None when it cannot be read."""
    try:
        data = open(path, "rb").read()
    except OSError:
        return None
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    planes = {v: k for k, v in COLOUR_TYPES.items()}.get(colour)
    if planes is None or interlace or depth not in (8, 16):
        return None
    bpp = planes * depth // 8
    stride = width * bpp
    raw = zlib.decompress(idat)
    out = bytearray(stride * height)
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out[y * stride:(y + 1) * stride] = row
        previous = row
    return Picture(width, height, planes, depth, out)


def cells(reference, p, size):
    """The plug-in's cells of an 8-bit picture; grey goes as (Y, Y, Y[, A])."""
    alpha = p.planes in (2, 4)
    grey = p.planes < 3
    wide = p.pixels
    if grey:
        wide = bytearray()
        for k in range(p.width * p.height):
            y = p.pixels[k * p.planes]
            wide += bytes((y, y, y)) + (bytes((p.pixels[k * p.planes + 1],)) if alpha else b"")
    planes = 4 if alpha else 3
    run = subprocess.run([reference, str(p.width), str(p.height), str(planes), str(size)], input=bytes(wide),
                         capture_output=True, check=True)
    got = run.stdout
    if not grey:
        return Picture(p.width, p.height, p.planes, 8, got)
    out = bytearray()
    for k in range(p.width * p.height):
        out.append(got[k * planes])
        if alpha:
            out.append(got[k * planes + 3])
    return Picture(p.width, p.height, p.planes, 8, out)


def selected(p, cells_of_all, left, top, width, height):
    """The cells inside a rectangle, the picture as it was outside."""
    out = Picture(p.width, p.height, p.planes, p.depth, p.pixels)
    n = p.planes * p.depth // 8
    for y in range(top, top + height):
        a, b = (y * p.width + left) * n, (y * p.width + left + width) * n
        out.pixels[a:b] = cells_of_all.pixels[a:b]
    return out


def difference(got, want):
    """'' when equal, else where they first differ."""
    if got is None:
        return "no picture"
    if (got.width, got.height, got.planes, got.depth) != (want.width, want.height, want.planes, want.depth):
        return "a picture of %d x %d, %d planes of %d bits" % (got.width, got.height, got.planes, got.depth)
    if got.pixels == want.pixels:
        return ""
    k = next(i for i in range(len(got.pixels)) if got.pixels[i] != want.pixels[i])
    n = got.planes * got.depth // 8
    return "pixel (%d, %d) byte %d is %d, the plug-in gives %d" % (
        (k // n) % got.width, (k // n) // got.width, k % n, got.pixels[k], want.pixels[k])


def cropped(p, left, top, width, height):
    n = p.planes * p.depth // 8
    out = Picture(width, height, p.planes, p.depth)
    for y in range(height):
        a = ((top + y) * p.width + left) * n
        out.pixels[y * width * n:(y + 1) * width * n] = p.pixels[a:a + width * n]
    return out
