// The export servers through the stand-in host: the exact bytes each writer
// gives for small objects (the OBJ date line aside), the choices the export
// makes for host values it cannot take as they are, and failures that answer
// 0 without a file or a leak.
#include <cmath>
#include <limits>
#include <numeric>

#include "host_support.h"

namespace {

using namespace host_support;
using namespace std::string_literals;
using standin::ObjectDesc;

class Export : public ModuleTest {
protected:
    int32_t Save(const std::string& extension, const fs::path& path, uint32_t flags = 0) {
        return standin::SaveObject(*standin::FindServer(false, extension), object_, path.string(), flags);
    }
    // The bytes of `file` saved in the test's folder by its bare name, as the
    // converter hands it on every platform ("" when the save failed).
    std::string Saved(const std::string& file, uint32_t flags = 0) {
        const fs::path cwd = fs::current_path();
        fs::current_path(dir_);
        const int32_t saved = Save(fs::path(file).extension().string().substr(1), file, flags);
        fs::current_path(cwd);
        return saved ? ReadFile(dir_ / file) : "";
    }
};

// An OBJ text after its date line, which must be "# " and the date; other texts as they are.
std::string WithoutDateLine(const std::string& text) {
    if (!text.starts_with("# ")) return text;
    const size_t lf = text.find('\n');
    EXPECT_EQ(lf, 2u + 24u) << text.substr(0, 40);
    return lf == std::string::npos ? text : text.substr(lf + 1);
}

const std::string kObjCounts = "# 0 texture vertices\n\n# 0 normals\n\n";

// Every element kind on two surfaces (one unused, dropped): faces first, then
// lines and dots; "usemtl" wherever the surface changes across all three.
TEST_F(Export, ObjTextIsExact) {
    Build({"chair",
           {P(1, 2, 3), P(0, 0, 0), P(0.5, -0.25, 1e-7), P(1, 1, 0), P(2, 2, 2), P(9, 9, 9), P(-1, 0, 0.5)},
           {{"my wood"}, {"stone"}, {"unused"}},
           {{{0, 1, 2}, 1}, {{}, 3}, {{0, 1, 2, 3}, 1}, {{0, 4}, 1}, {{6}, 2}, {{1, 3, 4}, 2}},
           {}});
    EXPECT_EQ(WithoutDateLine(Saved("chair.obj")),
              "#\n#\n\ng chair\n"
                  "v 1.000000 2.000000 -3.000000\nv 0.000000 0.000000 -0.000000\nv 0.500000 -0.250000 -0.000000\n"
                  "v 1.000000 1.000000 -0.000000\nv 2.000000 2.000000 -2.000000\nv 9.000000 9.000000 -9.000000\n"
                  "v -1.000000 0.000000 -0.500000\n# 7 vertices\n\n" +
                  kObjCounts +
                  "usemtl my_wood\nf 3 2 1\nf 4 3 2 1\nusemtl stone\nf 5 4 2\n"
                  "usemtl my_wood\nl 5 1\nusemtl stone\np 7\n# 5 elements\n");
}

// Texture coordinates come from the first map: the k-th face takes entry k of
// its per-polygon data, which here belongs to the line before it (two items,
// so its third corner gets 0, 0), then to the first face; a face whose entry
// is empty takes each point's entry, 0, 0 for a point without one.
TEST_F(Export, ObjTextureCoordinatesFollowTheFirstMap) {
    Build({"uv",
           {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0), P(1, 1, 0)},
           {{"s"}},
           {{{0, 1}, 1}, {{0, 1, 2}, 1}, {{1, 3, 2}, 1}, {{2, 3, 1}, 1}},
           {{"first", {{{0.1f, 0.2f}, {0.3f, 0.4f}}, {{0.5f, 0.5f}, {0.75f, 0.5f}, {0.5f, 0.75f}}}},
            {"second", {{}, {{9, 9}, {9, 9}, {9, 9}}}}}});
    EXPECT_EQ(WithoutDateLine(Saved("uv.obj")),
              "#\n#\n\ng uv\n"
                  "v 0.000000 0.000000 -0.000000\nv 1.000000 0.000000 -0.000000\n"
                  "v 0.000000 1.000000 -0.000000\nv 1.000000 1.000000 -0.000000\n# 4 vertices\n\n" +
                  kObjCounts +
                  "usemtl s\n"
                  "vt 0.100000 0.200000\nvt 0.300000 0.400000\nvt 0.000000 0.000000\nf 3/-1 2/-2 1/-3\n"
                  "vt 0.500000 0.500000\nvt 0.750000 0.500000\nvt 0.500000 0.750000\nf 3/-1 4/-2 2/-3\n"
                  "vt 0.500000 0.750000\nvt 0.000000 0.000000\nvt 0.750000 0.500000\nf 2/-1 4/-2 3/-3\n"
                  "l 2 1\n# 4 elements\n");
}

TEST_F(Export, DxfTextIsExact) {
    Build({"plan",
           {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0), P(1.5, -0.25, 2)},
           {{"my layer"}, {"Top"}},
           {{{0, 1, 2}, 1}, {{0, 3}, 2}, {{3}, 1}},
           {}});
    EXPECT_EQ(Saved("plan.dxf"),
              TextAsWritten("  0\nSECTION\n  2\nHEADER\n  0\nENDSEC\n"
                            "  0\nSECTION\n  2\nTABLES\n  0\nTABLE\n  2\nLAYER\n 70\n     2\n"
                            "  0\nLAYER\n  2\nmy_layer\n 70\n    64\n 62\n     0\n  6\nCONTINUOUS\n"
                            "  0\nLAYER\n  2\nTop\n 70\n    64\n 62\n     0\n  6\nCONTINUOUS\n"
                            "  0\nENDTAB\n  0\nENDSEC\n  0\nSECTION\n  2\nBLOCKS\n  0\nENDSEC\n"
                            "  0\nSECTION\n  2\nENTITIES\n"
                            "  0\n3DFACE\n  8\nmy_layer\n"
                            " 10\n0.000000\n 20\n0.000000\n 30\n0.000000\n 11\n1.000000\n 21\n0.000000\n 31\n0.000000\n"
                            " 12\n0.000000\n 22\n0.000000\n 32\n1.000000\n 13\n0.000000\n 23\n0.000000\n 33\n1.000000\n"
                            "  0\nLINE\n  8\nTop\n"
                            " 10\n0.000000\n 20\n0.000000\n 30\n0.000000\n 11\n1.500000\n 21\n2.000000\n 31\n-0.250000\n"
                            "  0\nPOINT\n  8\nmy_layer\n 10\n1.500000\n 20\n2.000000\n 30\n-0.250000\n"
                            "  0\nENDSEC\n  0\nEOF\n"));
}

// A point in the file's axes.
tds::Point XZY(float x, float y, float z) { return {x, z, y}; }

std::string Material(const std::string& name, const std::string& rgb, uint16_t shininess, uint16_t transparency,
                     uint16_t shading) {
    const std::string colour = Chunk(0x0011, rgb);
    return tds::Material(tds::MaterialName(name) + Chunk(0xA010, colour) + Chunk(0xA020, colour) +
                         Chunk(0xA030, colour) + Chunk(0xA040, Chunk(0x0030, U16(shininess))) +
                         Chunk(0xA050, Chunk(0x0030, U16(transparency))) + Chunk(0xA100, U16(shading)));
}

// A named object: its points, faces (local numbers, already exchanged) with flags 7, its material group.
std::string Mesh(const std::string& object, const std::string& material, const std::vector<tds::Point>& points,
                 const std::vector<tds::Corners>& faces, bool smooth) {
    std::vector<uint16_t> all(faces.size());
    std::iota(all.begin(), all.end(), uint16_t{0});
    const std::string smoothing = smooth ? tds::Smoothing(std::vector<uint32_t>(faces.size(), 1)) : "";
    return tds::Object(object, tds::PointList(points) + tds::FaceList(faces, tds::Group(material, all)) + smoothing);
}

std::string File3DS(const std::string& materials, const std::string& objects) {
    return Chunk(0x4D4D, Chunk(0x0002, U32(2)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(2)) + materials +
                                                                   Chunk(0x0100, F32(1.0f)) + objects));
}

TEST_F(Export, OneTriangleOnDefaultIs3DStudioTree) {
    Build({"tri", {P(0, 0, 0), P(1, 2, 3), P(4, 5, 6)}, {{"default"}}, {{{0, 1, 2}, 1}}, {}});
    EXPECT_EQ(Saved("tri.3ds"), File3DS(Material("DEFAULT", "\xC8\xC8\xC8"s, 0, 0, 1),
                                        Mesh("DEFAULT", "DEFAULT", {XZY(0, 0, 0), XZY(1, 2, 3), XZY(4, 5, 6)},
                                             {{2, 1, 0}}, false)));
}

// Two surfaces share points 1 and 2, each mesh numbering them itself; "red"
// and "Red" become RED 1 and RED 2; a surface used by a line only gets an
// empty mesh; the smooth surface gets shading 3 and its smoothing groups.
TEST_F(Export, SurfacesBecomeMaterialsAndMeshes) {
    Build({"parts",
           {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0), P(1, 1, 1)},
           {{"red", {255, 0, 0}, 1, 127.9f, 255, true}, {"Red", {0, 0, 255}, 1, 254, 0, false},
            {"OBJECT0001 WHEEL", {1, 2, 3}}},
           {{{0, 1, 2}, 1}, {{1, 3, 2}, 2}, {{0, 3}, 3}},
           {}});
    const std::string materials = Material("RED 1", "\xFF\x00\x00"s, 49, 100, 3) +
                                  Material("RED 2", "\x00\x00\xFF"s, 99, 0, 1) +
                                  Material("WHEEL", "\x01\x02\x03"s, 0, 0, 1);
    const std::string objects =
        Mesh("RED 1", "RED 1", {XZY(0, 0, 0), XZY(1, 0, 0), XZY(0, 1, 0)}, {{2, 1, 0}}, true) +
        Mesh("RED 2", "RED 2", {XZY(1, 0, 0), XZY(1, 1, 1), XZY(0, 1, 0)}, {{2, 1, 0}}, false) +
        Mesh("WHEEL", "WHEEL", {}, {}, false);
    EXPECT_EQ(Saved("parts.3ds"), File3DS(materials, objects));
}

// Bit value 2 of the save flags reads the third position triple.
TEST_F(Export, SaveFlagTwoReadsTheThirdPositions) {
    Build({"moved", {{{1, 2, 3}, {7, 8, 9}, true}, {{0, 0, 0}, {-1, -2, -3}, true}, P(4, 4, 4)}, {{"s"}},
           {{{0, 1, 2}, 1}}, {}});
    const std::string second = Saved("second.obj");
    const std::string third = Saved("third.obj", kSaveUseThirdPosition);
    EXPECT_NE(second.find("v 1.000000 2.000000 -3.000000\nv 0.000000 0.000000 -0.000000\nv 4.000000"),
              std::string::npos);
    EXPECT_NE(third.find("v 7.000000 8.000000 -9.000000\nv -1.000000 -2.000000 3.000000\nv 4.000000"),
              std::string::npos);
}

// Polygon surface numbers that name no host surface (0, negative, past the
// surfaces, or past the 2048 the scene holds) go to surface 1; names keep
// their first 127 characters.
TEST_F(Export, SurfaceNumbersAndNamesOutsideTheTableGoToItsLimits) {
    ObjectDesc spec{"odd", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, {}, {}, {}};
    spec.surfaces.push_back({std::string(200, 'n')});
    for (int i = 2; i <= 2050; ++i) spec.surfaces.push_back({"s" + std::to_string(i)});
    for (const int32_t surface : {0, -3, 2049, 2050, 2048}) spec.polygons.push_back({{0, 1}, surface});
    Build(spec);
    const std::string layers = Saved("odd.dxf");
    const std::string first = TextAsWritten("  8\n" + std::string(127, 'n') + "\n");
    size_t count = 0;
    for (size_t at = layers.find(first); at != std::string::npos; at = layers.find(first, at + 1)) ++count;
    EXPECT_EQ(count, 4u);
    EXPECT_NE(layers.find(TextAsWritten("  8\ns2048\n")), std::string::npos);
    EXPECT_NE(layers.find(TextAsWritten(" 70\n     2\n")), std::string::npos) << "two layers after compaction";
}

// Shininess and transparency are truncated into 0..255 (NaN gives 0); positions
// past the float range become the largest float of their sign, NaN and the
// infinities stay what they are.
TEST_F(Export, HostValuesOutsideTheirRangeAreClamped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Build({"wild", {P(1, 1, 0), P(1, 0, 0), P(0, 1, 0)},
           {{"a", {1, 1, 1}, 1, nan, -5}, {"b", {2, 2, 2}, 1, 1000, 254.9f}}, {{{0, 1, 2}, 1}, {{0, 2, 1}, 2}}, {}});
    const std::string bytes = Saved("wild.3ds");
    EXPECT_NE(bytes.find(Material("A", "\x01\x01\x01"s, 0, 0, 1)), std::string::npos);
    EXPECT_NE(bytes.find(Material("B", "\x02\x02\x02"s, 100, 99, 1)), std::string::npos);
    ASSERT_TRUE(DestroyLoaded());
    const double inf = std::numeric_limits<double>::infinity();
    Build({"far", {P(1e300, -1e300, 0), P(1, 0, 0), P(std::nan(""), inf, -inf)}, {{"a"}}, {{{0, 1, 2}, 1}}, {}});
    const std::string text = Saved("far.obj");
    const std::string big = "340282346638528859811704183484516925440.000000";
    EXPECT_NE(text.find("v " + big + " -" + big + " -0.000000\nv 1.000000 0.000000 -0.000000\nv nan inf inf\n"),
              std::string::npos);
}

TEST_F(Export, FailuresAnswerZeroAndLeaveNoFile) {
    const fs::path out = dir_ / "out";
    for (const std::string extension : {"obj", "3ds", "dxf"}) {
        SCOPED_TRACE(extension);
        const fs::path file = out.string() + "." + extension;
        HostObject empty{};
        EXPECT_EQ(standin::SaveObject(*standin::FindServer(false, extension), nullptr, file.string(), 0), 0);
        EXPECT_EQ(standin::SaveObject(*standin::FindServer(false, extension), &empty, file.string(), 0), 0);
        Build({"bare", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, {}, {{{0, 1, 2}, 1}}, {}});
        EXPECT_EQ(Save(extension, file), 0) << "no surfaces";
        ASSERT_TRUE(DestroyLoaded());
        Build(TriangleObject("ok"));
        EXPECT_EQ(Save(extension, dir_ / "missing" / ("x." + extension)), 0) << "uncreatable path";
        ASSERT_TRUE(DestroyLoaded());
        Build({"huge", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, {{"s"}}, {{std::vector<int32_t>(4001, 0), 1}}, {}});
        EXPECT_EQ(Save(extension, file), 0) << "more corners than an element may have";
        ASSERT_TRUE(DestroyLoaded());
        EXPECT_FALSE(fs::exists(file));
    }
}

// 3D Studio refuses 65532 points before it creates the file, and deletes a
// file whose mesh would hold more than 65535 triangles.
TEST_F(Export, ThreeDStudioLimitsLeaveNoFile) {
    ObjectDesc points{"points", {}, {{"s"}}, {{{0, 1, 256}, 1}}, {}};
    for (int i = 0; i < 65532; ++i) points.points.push_back(P(i % 256, i / 256, 0));
    Build(points);
    EXPECT_EQ(Save("3ds", dir_ / "points.3ds"), 0);
    EXPECT_FALSE(fs::exists(dir_ / "points.3ds"));
    points.points.pop_back();
    ASSERT_TRUE(DestroyLoaded());
    Build(points);
    EXPECT_EQ(Save("3ds", dir_ / "points.3ds"), 1) << "65531 points fit";
    ASSERT_TRUE(DestroyLoaded());
    ObjectDesc faces{"faces", {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, {{"s"}}, {}, {}};
    faces.polygons.assign(65536, {{0, 1, 2}, 1});
    Build(faces);
    EXPECT_EQ(Save("3ds", dir_ / "faces.3ds"), 0);
    EXPECT_FALSE(fs::exists(dir_ / "faces.3ds"));
}

// Whichever module allocation fails, the save answers 0 and leaves no file,
// except the compaction's, which leaves the scene as it was: here the same
// bytes. The failing ones: the scratch and six first chunks; for 3D Studio and
// DXF the triangle chunk and its move; for 3D Studio the name table and one
// renumbering table per mesh.
TEST_F(Export, EveryModuleAllocationFailureAnswersZero) {
    Build({"quad", {P(0, 0, 0), P(1, 0, 0), P(1, 1, 0), P(0, 1, 0)}, {{"a"}, {"b"}},
           {{{0, 1, 2, 3}, 1}, {{0, 2}, 2}, {{3}, 2}, {{1, 2, 3}, 2}}, {}});
    const struct {
        std::string extension;
        int failing;
    } rows[] = {{"3ds", 7 + 2 + 1 + 2}, {"dxf", 7 + 2}, {"obj", 7}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.extension);
        const fs::path file = dir_ / ("quad." + row.extension);
        ASSERT_EQ(Save(row.extension, file), 1);
        const std::string undisturbed = WithoutDateLine(ReadFile(file));
        fs::remove(file);
        int failing = 0;
        for (int64_t n = 1; n <= 40; ++n) {
            ASSERT_TRUE(standin::ModuleHeapFailAt(n));
            const int32_t saved = Save(row.extension, file);
            standin::ModuleHeapFailAt(0);
            EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0) << "allocation " << n;
            EXPECT_EQ(fs::exists(file), saved != 0) << "allocation " << n;
            EXPECT_EQ(saved ? WithoutDateLine(ReadFile(file)) : undisturbed, undisturbed) << "allocation " << n;
            failing += saved == 0;
            fs::remove(file);
        }
        EXPECT_EQ(failing, row.failing);
    }
}

}  // namespace
