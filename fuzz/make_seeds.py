#!/usr/bin/env python3
"""Writes the binary seeds of the fuzz targets: 3D Studio files that hold
every chunk the reader knows, and object descriptions for the export targets
(the layout fuzz_export.cpp reads). Run from anywhere; the files go to
fuzz/seeds/3ds and fuzz/seeds/export beside this script."""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def chunk(cid, content=b""):
    return struct.pack("<HI", cid, 6 + len(content)) + content


def name(text):
    return text.encode() + b"\0"


def points(pts):
    return chunk(0x4110, struct.pack("<H", len(pts)) + b"".join(struct.pack("<3f", *p) for p in pts))


def faces(tris, after=b""):
    records = b"".join(struct.pack("<4H", a, b, c, 7) for a, b, c in tris)
    return chunk(0x4120, struct.pack("<H", len(tris)) + records + after)


def group(material, face_numbers):
    return chunk(0x4130, name(material) + struct.pack("<H", len(face_numbers)) +
                 b"".join(struct.pack("<H", f) for f in face_numbers))


def smoothing(masks):
    return chunk(0x4150, b"".join(struct.pack("<I", m) for m in masks))


def percent_int(v):
    return chunk(0x0030, struct.pack("<H", v))


def percent_float(v):
    return chunk(0x0031, struct.pack("<f", v))


def material(mat_name, rgb, extra=b""):
    return chunk(0xAFFF, chunk(0xA000, name(mat_name)) +
                 chunk(0xA010, chunk(0x0011, bytes(rgb))) +                     # ambient: passed over
                 chunk(0xA020, chunk(0x0010, struct.pack("<3f", 0.1, 0.2, 0.3)) + chunk(0x0011, bytes(rgb))) +
                 chunk(0xA030, chunk(0x0011, bytes(rgb))) +                     # specular: passed over
                 chunk(0xA040, percent_int(40)) +
                 chunk(0xA041, percent_float(0.5)) +
                 chunk(0xA050, percent_int(150) + percent_float(0.25)) +
                 chunk(0xA100, struct.pack("<H", 3)) + extra)


CUBE = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
CUBE_TRIS = [(0, 1, 2), (0, 2, 3), (4, 6, 5), (4, 7, 6), (0, 4, 5), (0, 5, 1),
             (1, 5, 6), (1, 6, 2), (2, 6, 7), (2, 7, 3), (3, 7, 4), (3, 4, 0)]


def tds_file(*sections):
    return chunk(0x4D4D, chunk(0x0002, struct.pack("<I", 3)) + b"".join(sections))


def named_object(obj_name, mesh):
    return chunk(0x4000, name(obj_name) + chunk(0x4100, mesh))


def write_3ds_seeds(folder):
    # Everything at once: materials before and after the objects, an
    # attribute before a material's name, groups and smoothing inside the
    # face list and after it, chunks the reader passes over, a keyframer
    # with a child of id 0.
    early_attribute = chunk(0xAFFF, chunk(0xA040, percent_int(10)) + chunk(0xA000, name("Late")))
    mesh = (points(CUBE) + chunk(0x4140, struct.pack("<H", 0)) + chunk(0x4160, b"\0" * 48) +
            faces(CUBE_TRIS, group("Red", [0, 1, 2, 40]) + group("Box01 Blue", [3, 4]) + smoothing([1] * 12)) +
            smoothing([0] * 11 + [4]))
    editor = chunk(0x3D3D, chunk(0x3E3D, struct.pack("<I", 3)) + material("Red", [200, 10, 10]) + early_attribute +
                   named_object("Box01", mesh) +
                   named_object("Second object name!", points(CUBE[:4]) + faces([(0, 1, 2), (2, 3, 0)])) +
                   chunk(0x4000, name("Camera01") + chunk(0x4700, b"\0" * 32)) +
                   material("Blue", [10, 10, 200]))
    keyframer = chunk(0xB000, chunk(0xB00A, b"\0" * 8) + struct.pack("<HI", 0, 6) + chunk(0xB002, chunk(0xB010, name("Box01") + b"\0" * 6)))
    (folder / "every_chunk.3ds").write_bytes(tds_file(keyframer, editor, chunk(0x1234, b"after")))
    (folder / "one_triangle.3ds").write_bytes(tds_file(chunk(0x3D3D, named_object("T", points(CUBE[:3]) + faces([(0, 1, 2)])))))
    # Lengths the walk cannot follow and counts past the data.
    short = tds_file(chunk(0x3D3D, named_object("S", points(CUBE[:3]) + struct.pack("<HI", 0x4120, 3) + b"\1\0")))
    (folder / "short_lengths.3ds").write_bytes(short)


# ---- Export descriptions (fuzz_export.cpp) ----------------------------------

def surface(text, rgb, smooth=0):
    return bytes([len(text)]) + text.encode() + bytes(rgb) + bytes([100, 20, 30, smooth])


def write_export_seeds(folder):
    cube_points = b"".join(bytes([100 + 4 * x, 100 + 4 * y, 100 + 4 * z]) for x, y, z in CUBE)
    quads = [(0, 1, 2, 3), (4, 7, 6, 5), (0, 4, 5, 1), (1, 5, 6, 2), (2, 6, 7, 3), (3, 7, 4, 0)]
    polygons = b"".join(bytes([4, 0, 1]) + bytes(q) + bytes([1 + i % 2]) for i, q in enumerate(quads))
    uv_map = bytes([1, 64]) + b"".join(bytes([1]) + bytes([0, 0, 100, 0, 100, 100, 0, 100]) for _ in quads)
    cube = (bytes([0, 2]) + surface("Red paint", [200, 0, 0]) + surface("Blue", [0, 0, 200], 1) +
            bytes([len(CUBE)]) + cube_points + bytes([len(quads)]) + polygons + uv_map)
    (folder / "cube.bin").write_bytes(cube)
    odd_points = bytes([2, 1]) + surface("", [1, 2, 3]) + bytes([4]) + bytes(range(200, 212))
    odd_points += bytes([3, 3, 0, 1, 0, 1, 2, 0, 2, 0, 1, 0, 1, 1, 2, 3, 1, 0, 1, 9])
    (folder / "odd_points.bin").write_bytes(odd_points)
    # Surfaces past what the scene holds; polygons across the corner limits,
    # with surface numbers beyond the surfaces and negative.
    many = bytes([0, 253]) + b"".join(bytes([64 + i % 64, i % 256, 7, 9, 100, 0, 0, 0]) for i in range(2049))
    many += bytes([10]) + bytes(range(100, 130))
    many += bytes([3, 252, 0, 1, 5, 254, 3, 7, 201, 0x00, 0x80, 2, 0, 1, 3, 4, 2040 % 200])
    (folder / "limits.bin").write_bytes(many)


def main():
    for sub, writer in (("3ds", write_3ds_seeds), ("export", write_export_seeds)):
        folder = HERE / "seeds" / sub
        folder.mkdir(parents=True, exist_ok=True)
        writer(folder)


if __name__ == "__main__":
    main()
