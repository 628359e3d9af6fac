#!/usr/bin/env python3
"""Writes a deterministic binary 3D Studio (.3ds) benchmark file.

Chunks (little-endian; a chunk's length counts its 6-byte header):
  4D4D main: 0002 version 3, then 3D3D editor:
    3D3E mesh version 3; 8 materials AFFF (A000 name, A010/A020/A030 colours
    as 0011 RGB, A040/A041/A050 percentages as 0030, A100 shading 3); 0100
    master scale 1.0; K named objects 4000, each a name and a 4100 triangle
    mesh: 4110 points (fewer than 65535), 4120 faces (a b c flags) holding
    four 4130 material groups (one per band of rows) and 4150 smoothing groups.
--triangles N is spread over K = max(4, ceil(N / 60000)) height-field grids
of quads, two triangles each. --triangles 500000 gives about 10 MB.

  gen_3ds.py --triangles N --out FILE.3ds
"""
import argparse
import math
import struct

MATERIALS = ["MAT_%d" % k for k in range(8)]
TRIANGLES_PER_OBJECT = 60000
BANDS = 4


def chunk(tag, *parts):
    body = b"".join(parts)
    return struct.pack("<HI", tag, 6 + len(body)) + body


def text(name):
    return name.encode("ascii") + b"\0"


def colour(r, g, b):
    return chunk(0x0011, bytes((r, g, b)))


def percent(value):
    return chunk(0x0030, struct.pack("<H", value))


def material(k, name):
    return chunk(0xAFFF, chunk(0xA000, text(name)), chunk(0xA010, colour(20, 20, 20)),
                 chunk(0xA020, colour(40 + 25 * k, 200 - 20 * k, (90 * k) % 256)),
                 chunk(0xA030, colour(230, 230, 230)), chunk(0xA040, percent(10 * k)),
                 chunk(0xA041, percent(50)), chunk(0xA050, percent(5 * (k % 3))),
                 chunk(0xA100, struct.pack("<H", 3)))


def grid_object(k, triangles):
    """Object k: a rows x cols grid of quads, each cut into two triangles."""
    cells = max(1, triangles // 2)
    cols = max(1, int(math.sqrt(cells)))
    rows = -(-cells // cols)
    x0, step = 120.0 * k, 100.0 / max(rows, cols)
    xyz = []
    for i in range(rows + 1):
        for j in range(cols + 1):
            x, y = x0 + j * step, i * step
            xyz += (x, y, 4.0 * math.sin(0.11 * x) * math.cos(0.07 * y))
    point_count = (rows + 1) * (cols + 1)
    assert point_count < 65535 and 2 * rows * cols <= 65535
    words, bands = [], [[] for _ in range(BANDS)]
    for i in range(rows):
        for j in range(cols):
            a = i * (cols + 1) + j
            face = len(words) // 4
            bands[i * BANDS // rows] += (face, face + 1)
            words += (a, a + 1, a + cols + 2, 7, a, a + cols + 2, a + cols + 1, 7)
    face_count = len(words) // 4
    groups = b"".join(chunk(0x4130, text(MATERIALS[(k + n) % len(MATERIALS)]),
                            struct.pack("<H%dH" % len(ids), len(ids), *ids))
                      for n, ids in enumerate(bands) if ids)
    smoothing = [0] * face_count
    for n, ids in enumerate(bands):
        for face in ids:
            smoothing[face] = 1 << n
    mesh = chunk(0x4100, chunk(0x4110, struct.pack("<H%df" % len(xyz), point_count, *xyz)),
                 chunk(0x4120, struct.pack("<H%dH" % len(words), face_count, *words), groups,
                       chunk(0x4150, struct.pack("<%dI" % face_count, *smoothing))))
    return chunk(0x4000, text("OBJ_%03d" % k), mesh), point_count, face_count


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--triangles", type=int, required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    n = max(8, args.triangles)
    count = max(4, -(-n // TRIANGLES_PER_OBJECT))
    objects, points, faces = [], 0, 0
    for k in range(count):
        body, p, f = grid_object(k, n // count)
        objects.append(body)
        points, faces = points + p, faces + f
    editor = chunk(0x3D3D, chunk(0x3D3E, struct.pack("<I", 3)),
                   *(material(k, name) for k, name in enumerate(MATERIALS)),
                   chunk(0x0100, struct.pack("<f", 1.0)), *objects)
    with open(args.out, "wb") as out:
        out.write(chunk(0x4D4D, chunk(0x0002, struct.pack("<I", 3)), editor))
    print("%s: objects=%d points=%d faces=%d" % (args.out, count, points, faces))


if __name__ == "__main__":
    main()
