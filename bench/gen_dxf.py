#!/usr/bin/env python3
"""Writes a deterministic ASCII DXF (R12) benchmark file.

HEADER, TABLES (a line type and 9 layers), an empty BLOCKS section and an
ENTITIES section with, for --faces N in all:
  ~15% POLYLINE polygon meshes (flags 16) of 32 x 32 VERTEX (flags 64);
  ~15% POLYLINE polyface meshes (flags 64): 24 x 24 VERTEX points (flags 192)
       and VERTEX face records (flags 128, groups 71-74), some triangles;
  ~70% 3DFACE height-field grids, one per layer, whose neighbouring faces
       repeat their shared corners (work for the welding); every sixth cell
       is two triangles (fourth corner = third);
and N / 2000 (at least 4) each of POINT, LINE, CIRCLE and ARC. Group codes
"%3d", reals "%f", integers "%6d", LF line ends, closed by "  0\\nEOF\\n".
--faces 200000 gives about 35 MB.

  gen_dxf.py --faces N --out FILE.dxf
"""
import argparse
import math

LAYERS = ["PATCH_%d" % k for k in range(8)]
MESH_SIDE = 32                 # polygon mesh: MESH_SIDE x MESH_SIDE vertices
PFACE_SIDE = 24                # polyface mesh: PFACE_SIDE x PFACE_SIDE points
CUT_EVERY = 6


def pair(code, value):
    return "%3d\n%s\n" % (code, value)


def real(value):
    return "%f" % value


def integer(value):
    return "%6d" % value


def coords(p, base=10):
    return pair(base, p[0]) + pair(base + 10, p[1]) + pair(base + 20, p[2])


def point(x, y, z):
    """A point as the text written, so that repeated corners are the same bytes."""
    return (real(x), real(y), real(z))


def surface(rows, cols, x0, y0, step):
    def height(x, y):
        return 0.5 * math.sin(0.37 * x) * math.cos(0.23 * y)
    return [[point(x0 + j * step, y0 + i * step, height(x0 + j * step, y0 + i * step))
             for j in range(cols + 1)] for i in range(rows + 1)]


def header_and_tables():
    text = pair(0, "SECTION") + pair(2, "HEADER") + pair(9, "$ACADVER") + pair(1, "AC1009")
    text += pair(9, "$INSBASE") + coords(point(0, 0, 0))
    text += pair(9, "$EXTMIN") + coords(point(-10, -10, -2)) + pair(9, "$EXTMAX") + coords(point(1000, 1000, 2))
    text += pair(0, "ENDSEC") + pair(0, "SECTION") + pair(2, "TABLES")
    text += pair(0, "TABLE") + pair(2, "LTYPE") + pair(70, integer(1))
    text += (pair(0, "LTYPE") + pair(2, "CONTINUOUS") + pair(70, integer(0)) + pair(3, "Solid line")
             + pair(72, integer(65)) + pair(73, integer(0)) + pair(40, real(0)))
    text += pair(0, "ENDTAB") + pair(0, "TABLE") + pair(2, "LAYER") + pair(70, integer(len(LAYERS) + 1))
    for k, name in enumerate(["0"] + LAYERS):
        text += (pair(0, "LAYER") + pair(2, name) + pair(70, integer(0)) + pair(62, integer(k % 7 + 1))
                 + pair(6, "CONTINUOUS"))
    text += pair(0, "ENDTAB") + pair(0, "ENDSEC")
    return text + pair(0, "SECTION") + pair(2, "BLOCKS") + pair(0, "ENDSEC")


def polyline(layer, flags, m, n):
    return (pair(0, "POLYLINE") + pair(8, layer) + pair(66, integer(1)) + coords(point(0, 0, 0))
            + pair(70, integer(flags)) + pair(71, integer(m)) + pair(72, integer(n)))


def vertex(layer, p, flags, indices=()):
    text = pair(0, "VERTEX") + pair(8, layer) + coords(p) + pair(70, integer(flags))
    return text + "".join(pair(71 + k, integer(v)) for k, v in enumerate(indices))


def seqend(layer):
    return pair(0, "SEQEND") + pair(8, layer)


def polygon_meshes(out, wanted):
    cells = (MESH_SIDE - 1) ** 2
    meshes = max(1, round(wanted / cells))
    for k in range(meshes):
        layer = LAYERS[k % len(LAYERS)]
        rows = surface(MESH_SIDE - 1, MESH_SIDE - 1, 110.0 * (k % 8), 120.0 + 10.0 * (k // 8), 0.3)
        out.write(polyline(layer, 16, MESH_SIDE, MESH_SIDE) + "".join(vertex(layer, p, 64) for row in rows for p in row)
                  + seqend(layer))
    return meshes * cells


def polyface_records():
    cells = PFACE_SIDE - 1
    records = []
    for i in range(cells):
        for j in range(cells):
            a = i * PFACE_SIDE + j + 1
            b, c, d = a + 1, a + 1 + PFACE_SIDE, a + PFACE_SIDE
            if (i * cells + j) % CUT_EVERY == CUT_EVERY - 1:
                records += [(a, b, c), (a, c, d)]
            else:
                records.append((a, b, c, d))
    return records


def polyface_meshes(out, wanted):
    records = polyface_records()
    meshes = max(1, round(wanted / len(records)))
    for k in range(meshes):
        layer = LAYERS[(k + 3) % len(LAYERS)]
        rows = surface(PFACE_SIDE - 1, PFACE_SIDE - 1, 110.0 * (k % 8), -20.0 - 10.0 * (k // 8), 0.3)
        origin = point(0, 0, 0)
        out.write(polyline(layer, 64, PFACE_SIDE * PFACE_SIDE, len(records))
                  + "".join(vertex(layer, p, 192) for row in rows for p in row)
                  + "".join(vertex(layer, origin, 128, r) for r in records) + seqend(layer))
    return meshes * len(records)


def face_grids(out, wanted):
    written = 0
    per_layer = -(-wanted // len(LAYERS))
    for k, layer in enumerate(LAYERS):
        limit = min(written + per_layer, wanted)
        if limit <= written:
            break
        cells = max(1, round((limit - written) * CUT_EVERY / (CUT_EVERY + 1)))
        cols = max(1, int(math.sqrt(cells)))
        rows = -(-cells // cols)
        g = surface(rows, cols, 110.0 * k, 0.0, 0.25)
        head = pair(0, "3DFACE") + pair(8, layer)
        for i in range(rows):
            faces = []
            for j in range(cols):
                if written >= limit:
                    break
                a, b, c, d = g[i][j], g[i][j + 1], g[i + 1][j + 1], g[i + 1][j]
                if (i * cols + j) % CUT_EVERY == CUT_EVERY - 1 and written + 1 < limit:
                    faces.append(head + coords(a, 10) + coords(b, 11) + coords(c, 12) + coords(c, 13))
                    faces.append(head + coords(a, 10) + coords(c, 11) + coords(d, 12) + coords(d, 13))
                    written += 2
                else:
                    faces.append(head + coords(a, 10) + coords(b, 11) + coords(c, 12) + coords(d, 13))
                    written += 1
            out.write("".join(faces))
    return written


def loose_entities(out, count):
    text = []
    for k in range(count):
        layer = LAYERS[k % len(LAYERS)]
        x, y = 5.0 * (k % 40), -200.0 - 5.0 * (k // 40)
        text.append(pair(0, "POINT") + pair(8, layer) + coords(point(x, y, 1.0)))
        text.append(pair(0, "LINE") + pair(8, layer) + coords(point(x, y, 0)) + coords(point(x + 2, y + 1, 0.5), 11))
        circle = pair(0, "CIRCLE") + pair(8, layer) + coords(point(x, y, 0))
        text.append(circle + (pair(39, real(0.75)) if k % 2 else "") + pair(40, real(1.5)))
        start = 15.0 * (k % 24)
        text.append(pair(0, "ARC") + pair(8, layer) + coords(point(x, y, 0.25)) + pair(40, real(1.0))
                    + pair(50, real(start)) + pair(51, real(start + 135.0)))
    out.write("".join(text))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--faces", type=int, required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    n = max(10, args.faces)
    with open(args.out, "w", newline="\n", buffering=1 << 20) as out:
        out.write(header_and_tables() + pair(0, "SECTION") + pair(2, "ENTITIES"))
        mesh_cells = polygon_meshes(out, n * 15 // 100)
        pface_faces = polyface_meshes(out, n * 15 // 100)
        faces = face_grids(out, n - mesh_cells - pface_faces)
        loose = max(4, n // 2000)
        loose_entities(out, loose)
        out.write(pair(0, "ENDSEC") + pair(0, "EOF"))
    print("%s: 3dfaces=%d mesh_cells=%d polyface_faces=%d points=lines=circles=arcs=%d"
          % (args.out, faces, mesh_cells, pface_faces, loose))


if __name__ == "__main__":
    main()
