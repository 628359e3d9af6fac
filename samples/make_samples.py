#!/usr/bin/env python3
"""Writes the bundled samples, small models the project makes itself:

  house.obj, house.mtl  Wavefront OBJ: groups, materials and texture coordinates
  blocks.3ds            3D Studio: two objects, three materials
  site.dxf              ASCII DXF: faces, a polyline mesh and an arc with a thickness

Run from anywhere: python3 samples/make_samples.py (the files go beside it).
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(os.path.join(HERE, name), mode, newline="" if mode == "w" else None) as f:
        f.write(data)


# ---- house.obj: walls, a roof and a door, each a group with its material ----

def house():
    v = [(-2, 0, -1.5), (2, 0, -1.5), (2, 0, 1.5), (-2, 0, 1.5),     # 1-4 floor corners
         (-2, 2, -1.5), (2, 2, -1.5), (2, 2, 1.5), (-2, 2, 1.5),     # 5-8 eaves
         (-2, 3.2, 0), (2, 3.2, 0),                                  # 9-10 ridge
         (-0.5, 0, 1.52), (0.5, 0, 1.52), (0.5, 1.5, 1.52), (-0.5, 1.5, 1.52)]  # 11-14 door
    vt = [(0, 0), (1, 0), (1, 1), (0, 1), (0.5, 1)]
    text = ["# A small house: walls, a roof and a door, each a group with its own",
            "# material and texture coordinates. Made by make_samples.py.",
            "mtllib house.mtl", "o house", ""]
    text += ["v %g %g %g" % p for p in v] + [""]
    text += ["vt %g %g" % t for t in vt] + [""]
    text += ["g walls", "usemtl plaster",
             "f 4/1 3/2 7/3 8/4", "f 3/1 2/2 6/3 7/4", "f 2/1 1/2 5/3 6/4", "f 1/1 4/2 8/3 5/4",
             "f 5/1 8/2 9/5", "f 7/1 6/2 10/5", "f 1/1 2/2 3/3 4/4", "",
             "g roof", "usemtl tiles",
             "f 8/1 7/2 10/3 9/4", "f 6/1 5/2 9/3 10/4", "",
             "g door", "usemtl oak",
             "f 11/1 12/2 13/3 14/4", ""]
    write("house.obj", "\n".join(text))
    write("house.mtl", "\n".join([
        "# Materials of house.obj.",
        "newmtl plaster", "Kd 0.90 0.85 0.75", "",
        "newmtl tiles", "Kd 0.60 0.20 0.15", "",
        "newmtl oak", "Kd 0.45 0.30 0.15", ""]))


# ---- blocks.3ds: a plinth and a spire on it ----

def chunk(chunk_id, content):
    return struct.pack("<HI", chunk_id, 6 + len(content)) + content


def name(text):
    return text.encode("ascii") + b"\0"


def material(label, rgb):
    colour = chunk(0xA020, chunk(0x0011, bytes(rgb)))
    return chunk(0xAFFF, chunk(0xA000, name(label)) + colour)


def mesh_object(label, points, faces, groups):
    """points in the file's axes (z up); faces as corner triples; groups: material -> face numbers."""
    point_list = chunk(0x4110, struct.pack("<H", len(points)) + b"".join(struct.pack("<3f", *p) for p in points))
    records = b"".join(struct.pack("<4H", a, b, c, 7) for a, b, c in faces)
    group_chunks = b"".join(
        chunk(0x4130, name(m) + struct.pack("<H", len(f)) + b"".join(struct.pack("<H", i) for i in f))
        for m, f in groups.items())
    face_list = chunk(0x4120, struct.pack("<H", len(faces)) + records + group_chunks)
    return chunk(0x4000, name(label) + chunk(0x4100, point_list + face_list))


def box_faces(base):
    """12 triangles of the box whose 8 corners start at `base` (bottom 4, then top 4)."""
    quads = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)]
    faces = []
    for a, b, c, d in quads:
        faces += [(base + a, base + b, base + c), (base + a, base + c, base + d)]
    return faces


def blocks():
    plinth = [(x, y, z) for z in (0, 1) for x, y in ((-2, -2), (2, -2), (2, 2), (-2, 2))]
    spire = [(-1, -1, 1), (1, -1, 1), (1, 1, 1), (-1, 1, 1), (0, 0, 5)]
    spire_faces = [(0, 1, 4), (1, 2, 4), (2, 3, 4), (3, 0, 4), (0, 3, 2), (0, 2, 1)]
    editor = (chunk(0x3D3E, struct.pack("<I", 3)) +
              material("Slate", (80, 100, 130)) + material("Brass", (210, 165, 60)) +
              material("Glass", (150, 210, 220)) +
              mesh_object("Plinth", plinth, box_faces(0), {"Slate": list(range(12))}) +
              mesh_object("Spire", spire, spire_faces, {"Brass": [0, 2], "Glass": [1, 3], "Slate": [4, 5]}))
    write("blocks.3ds", chunk(0x4D4D, chunk(0x0002, struct.pack("<I", 3)) + chunk(0x3D3D, editor)))


# ---- site.dxf: a ground plate of faces, a hill as a polyline mesh, a curved wall as an arc ----

def groups(pairs):
    return "".join("%3d\n%s\n" % (code, value) for code, value in pairs)


def face(layer, corners):
    pairs = [(0, "3DFACE"), (8, layer)]
    for k, (x, y, z) in enumerate(corners):
        pairs += [(10 + k, "%g" % x), (20 + k, "%g" % y), (30 + k, "%g" % z)]
    return pairs


def hill(rows, cols):
    pairs = [(0, "POLYLINE"), (8, "Hill"), (66, 1), (70, 16), (71, rows), (72, cols)]
    for i in range(rows):
        for j in range(cols):
            x, y = -3 + 6.0 * j / (cols - 1), -3 + 6.0 * i / (rows - 1)
            z = 1.5 * math.exp(-(x * x + y * y) / 3)
            pairs += [(0, "VERTEX"), (8, "Hill"), (10, "%.4f" % x), (20, "%.4f" % y), (30, "%.4f" % z), (70, 64)]
    return pairs + [(0, "SEQEND")]


def site():
    ground = [(-4, -4, 0), (4, -4, 0), (4, 4, 0), (-4, 4, 0)]
    pairs = [(0, "SECTION"), (2, "ENTITIES")]
    pairs += face("Ground", [ground[0], ground[1], ground[2], ground[2]])
    pairs += face("Ground", [ground[0], ground[2], ground[3], ground[3]])
    pairs += hill(7, 9)
    pairs += [(0, "ARC"), (8, "Wall"), (10, 0), (20, 0), (30, 0), (40, 3.6), (39, 0.8), (50, 200), (51, 340)]
    pairs += [(0, "ENDSEC"), (0, "EOF")]
    write("site.dxf", "999\nA site: ground faces, a hill mesh and a curved wall. Made by make_samples.py.\n" +
          groups(pairs))


if __name__ == "__main__":
    house()
    blocks()
    site()
