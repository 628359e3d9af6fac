#!/usr/bin/env python3
"""Writes a deterministic Wavefront OBJ benchmark file: a torus grid.

Rings x segments points ("v", 6 decimals, rings = 4 x segments), a 33 x 33
grid of texture points ("vt") tiled over the torus, one quad "f v/vt ..." per
grid cell with every eighth cell of a ring cut into two triangles, and 16
bands of rings, each opened by "g torus band_NN" and "usemtl material_K"
(8 materials). LF line ends. --vertices 2000000 gives about 163 MB.

  gen_obj.py --vertices N --out FILE.obj
"""
import argparse
import math

BANDS, MATERIALS = 16, 8
TILE = 32                      # texture grid of (TILE + 1)^2 points
CUT_EVERY = 8                  # every eighth cell of a ring becomes two triangles
RING_RADIUS, TUBE_RADIUS = 2.0, 0.6


def grid(vertices):
    segments = max(2, round(math.sqrt(vertices / 4.0)))
    return 4 * segments, segments


def points(rings, segments):
    for i in range(rings):
        a = 2.0 * math.pi * i / rings
        lines = []
        for j in range(segments):
            b = 2.0 * math.pi * j / segments
            r = RING_RADIUS + TUBE_RADIUS * math.cos(b)
            lines.append("v %.6f %.6f %.6f\n" % (r * math.cos(a), TUBE_RADIUS * math.sin(b), r * math.sin(a)))
        yield "".join(lines)


def texture_points():
    return "".join("vt %.6f %.6f\n" % (u / TILE, v / TILE) for u in range(TILE + 1) for v in range(TILE + 1))


def faces(rings, segments):
    """Yields the text of each ring's faces, bands opened by their g and usemtl lines."""
    per_band = max(1, -(-rings // BANDS))
    side = TILE + 1
    count = 0
    for i in range(rings):
        head = ""
        if i % per_band == 0:
            band = i // per_band
            head = "g torus band_%02d\nusemtl material_%d\n" % (band, band % MATERIALS)
        lines = [head]
        nxt = (i + 1) % rings
        u = i % TILE
        for j in range(segments):
            j2 = (j + 1) % segments
            v = j % TILE
            corners = ("%d/%d" % (i * segments + j + 1, u * side + v + 1),
                       "%d/%d" % (i * segments + j2 + 1, u * side + v + 2),
                       "%d/%d" % (nxt * segments + j2 + 1, (u + 1) * side + v + 2),
                       "%d/%d" % (nxt * segments + j + 1, (u + 1) * side + v + 1))
            if j % CUT_EVERY == CUT_EVERY - 1:
                lines.append("f %s %s %s\nf %s %s %s\n" % (corners[0], corners[1], corners[2],
                                                           corners[0], corners[2], corners[3]))
                count += 2
            else:
                lines.append("f %s %s %s %s\n" % corners)
                count += 1
        yield "".join(lines), count


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--vertices", type=int, required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    rings, segments = grid(args.vertices)
    total = 0
    with open(args.out, "w", newline="\n", buffering=1 << 20) as out:
        out.write("# torus: %d points, %d rings of %d segments\n" % (rings * segments, rings, segments))
        for text in points(rings, segments):
            out.write(text)
        out.write(texture_points())
        for text, total in faces(rings, segments):
            out.write(text)
    print("%s: points=%d faces=%d" % (args.out, rings * segments, total))


if __name__ == "__main__":
    main()
