#!/usr/bin/env python3
"""Write an R12 ASCII DXF of N distinct POINT entities, to time welding by input order.

The points lie on a grid of non-negative float32 values (step 0.1 rounded to
float32, so the low mantissa bytes vary). The loader stores a DXF point
(x, y, z) as the scene point (x, z, y), three little-endian f32, and welds on
those 12 bytes. --order ascending writes the points in ascending byte order
of that key (struct.pack('<fff', x, z, y)); --order random writes the same
points shuffled with a fixed seed. Each coordinate is printed as repr() of
its float32 value, which reads back as exactly that float.

Usage: gen_dxf_points.py --points N --order ascending|random --out FILE.dxf
"""
import argparse
import random
import struct

STEP = 0.1
SHUFFLE_SEED = 20240611


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def grid_points(count):
    """The first `count` points of a cube grid with about equal sides."""
    side = 1
    while side ** 3 < count:
        side += 1
    axis = [f32(k * STEP) for k in range(side)]
    points = []
    for x in axis:
        for y in axis:
            for z in axis:
                if len(points) == count:
                    return points
                points.append((x, y, z))
    return points


def weld_key(p):
    x, y, z = p
    return struct.pack("<fff", x, z, y)


def ordered(points, order):
    if order == "ascending":
        return sorted(points, key=weld_key)
    shuffled = list(points)
    random.Random(SHUFFLE_SEED).shuffle(shuffled)
    return shuffled


def group(code, value):
    return "%3d\n%s\n" % (code, value)


def point_entity(p):
    return (group(0, "POINT") + group(8, "0")
            + group(10, repr(p[0])) + group(20, repr(p[1])) + group(30, repr(p[2])))


def write_dxf(path, points):
    with open(path, "w", newline="\n") as out:
        out.write(group(0, "SECTION") + group(2, "HEADER") + group(9, "$ACADVER") + group(1, "AC1009")
                  + group(0, "ENDSEC"))
        out.write(group(0, "SECTION") + group(2, "ENTITIES"))
        for start in range(0, len(points), 10000):
            out.write("".join(point_entity(p) for p in points[start:start + 10000]))
        out.write(group(0, "ENDSEC") + group(0, "EOF"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, required=True, help="number of distinct POINT entities")
    parser.add_argument("--order", choices=["ascending", "random"], required=True)
    parser.add_argument("--out", required=True, help="DXF file to write")
    args = parser.parse_args()
    if args.points < 1:
        parser.error("--points must be at least 1")
    points = grid_points(args.points)
    if len({weld_key(p) for p in points}) != len(points):
        parser.error("grid points are not distinct")
    write_dxf(args.out, ordered(points, args.order))


if __name__ == "__main__":
    main()
