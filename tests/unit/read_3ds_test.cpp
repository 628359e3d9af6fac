// The 3D Studio reader on files written chunk by chunk, on the corpus (checked
// against lib3ds as an independent reader) and on damaged copies of the corpus.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "formats/3ds/tds.h"
#include "unit/unit_support.h"

#ifdef TAMLORN_HAVE_LIB3DS
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#endif

namespace {

namespace fs = std::filesystem;
using host_support::Chunk;
using host_support::F32;
using host_support::U16;
using host_support::U32;
using unit::Point;
using unit::Refs;
using Corners = std::array<uint16_t, 3>;

// ---- Writing files chunk by chunk -------------------------------------------------

std::string Name(const std::string& s) { return s + '\0'; }
std::string ChunkOfLength(uint16_t id, uint32_t length, const std::string& content) {
    return U16(id) + U32(length) + content;
}

std::string File(const std::string& sections) { return Chunk(0x4D4D, Chunk(0x0002, U32(3)) + sections); }
std::string Editor(const std::string& chunks) { return Chunk(0x3D3D, chunks); }
const std::string kKeyframer = Chunk(0xB000, Chunk(0xB00A, U16(5)) + Chunk(0x0000, U32(7)));
std::string Object(const std::string& name, const std::string& mesh) {
    return Chunk(0x4000, Name(name) + Chunk(0x4100, mesh));
}
std::string PointRecords(const std::vector<Point>& points) {
    std::string records;
    for (const Point& p : points) records += F32(p[0]) + F32(p[1]) + F32(p[2]);
    return records;
}
std::string FaceRecords(const std::vector<Corners>& faces) {
    std::string records;
    for (const Corners& f : faces) records += U16(f[0]) + U16(f[1]) + U16(f[2]) + U16(7);
    return records;
}
std::string PointList(const std::vector<Point>& points) {
    return Chunk(0x4110, U16(uint16_t(points.size())) + PointRecords(points));
}
std::string FaceList(const std::vector<Corners>& faces, const std::string& after = "") {
    return Chunk(0x4120, U16(uint16_t(faces.size())) + FaceRecords(faces) + after);
}
std::string Group(const std::string& material, const std::vector<uint16_t>& faces) {
    std::string content = Name(material) + U16(uint16_t(faces.size()));
    for (uint16_t f : faces) content += U16(f);
    return Chunk(0x4130, content);
}
std::string Smoothing(const std::vector<uint32_t>& masks) {
    std::string content;
    for (uint32_t m : masks) content += U32(m);
    return Chunk(0x4150, content);
}
std::string Material(const std::string& chunks) { return Chunk(0xAFFF, chunks); }
std::string MaterialName(const std::string& name) { return Chunk(0xA000, Name(name)); }
std::string Colour24(uint8_t r, uint8_t g, uint8_t b) { return Chunk(0x0011, {char(r), char(g), char(b)}); }
std::string Diffuse(uint8_t r, uint8_t g, uint8_t b) { return Chunk(0xA020, Colour24(r, g, b)); }
std::string IntPercent(uint16_t id, uint16_t v) { return Chunk(id, Chunk(0x0030, U16(v))); }
std::string FloatPercent(uint16_t id, float f) { return Chunk(id, Chunk(0x0031, F32(f))); }
std::string Shading(uint16_t v) { return Chunk(0xA100, U16(v)); }

const std::vector<Point> kQuad = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<Corners> kQuadFaces = {{0, 1, 2}, {0, 2, 3}};
const std::vector<Corners> kFourFaces = {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}, {0, 1, 3}};
std::string Quad(const std::string& name, const std::string& afterFaces = "") {
    return Object(name, PointList(kQuad) + FaceList(kQuadFaces, afterFaces));
}
// The copy with the u32 at `at` replaced.
std::string WithU32(std::string bytes, size_t at, uint32_t value) { return bytes.replace(at, 4, U32(value)); }

// The content of a chunk built above, as the reader's parts are given it.
TdsCursor Content(const std::string& chunk) {
    return TdsCursor{reinterpret_cast<const uint8_t*>(chunk.data()), 6, static_cast<uint32_t>(chunk.size())};
}

// ---- Reading the scene back ---------------------------------------------------------

std::vector<std::string> FaceSurfaceNames() {
    std::vector<std::string> names;
    for (const unit::Element& f : unit::ScenePolygons()) names.push_back(unit::SurfaceName(f.surface));
    return names;
}
int32_t SlotNamed(const std::string& name) {
    for (int32_t i = 0; i < g_Scene.SurfaceSlotCount; ++i)
        if (name == g_Scene.SurfaceNames[i]) return i;
    return -1;
}
std::vector<uint8_t> Colour(int32_t slot) {
    return std::vector<uint8_t>(g_Scene.SurfaceColours[slot], g_Scene.SurfaceColours[slot] + 3);
}

class Read3DSTest : public unit::SceneFileTest {
protected:
    // A fresh scene, then the file.
    int32_t Read(const std::string& bytes) {
        if (!unit::FreshScene()) return -1;
        return Read3DS(Write("model.3ds", bytes).c_str());
    }
};

// ---- Whole files ----------------------------------------------------------------------

// What small files read to: the result and, when given, the point count, each face's surface name,
// point references and smoothing, and the count of surfaces.
TEST_F(Read3DSTest, FilesReadToTheirFaces) {
    const std::string quad = File(Editor(Quad("Box01")));
    std::vector<Point> eight;
    for (int i = 0; i < 8; ++i) eight.push_back({float(i & 1), float(i >> 1 & 1), float(i >> 2)});
    const std::string eightPoints = PointList(eight) + FaceList({{0, 1, 2}, {7, 6, 5}});
    const std::vector<Corners> three = {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}};
    const std::string shortGroup = Chunk(0x4130, Name("Red") + U16(9) + U16(1));
    const std::string cutName = File(Editor(Quad("Box01") + Chunk(0x4000, Name("AnObjectCutShort"))));
    struct Case {
        const char* what;
        std::string file;
        int32_t read = 1;
        int32_t points = -1;
        std::vector<std::string> names = {};
        std::vector<Refs> refs = {};
        std::vector<int> smooth = {};
        int32_t surfaces = -1;
    };
    const Case cases[] = {
        {.what = "a quad", .file = quad, .points = 4, .names = {"Box01", "Box01"}, .refs = {{0, 1, 2}, {0, 2, 3}}},
        {.what = "17 bytes", .file = quad.substr(0, 17), .read = 0},
        {.what = "a main chunk of the version's length", .file = WithU32(quad, 2, 16), .read = 0, .points = 0},
        {.what = "a main chunk shorter than the version", .file = WithU32(quad, 2, 10), .read = 0, .points = 0},
        {.what = "a main chunk of length 0", .file = WithU32(quad, 2, 0), .read = 0, .points = 0},
        // The sniffer wants an editor section at offset 16, so a keyframer before the model's editor
        // section follows a first, empty one.
        {.what = "keyframer sections are passed over",
         .file = File(Editor("") + kKeyframer + Editor(Quad("Box01")) + kKeyframer), .points = 4,
         .names = {"Box01", "Box01"}},
        {.what = "another top-level chunk ends the walk keeping what was read",
         .file = File(Editor(Quad("First")) + Chunk(0x1234, U32(0)) + Editor(Quad("Second"))), .points = 4,
         .names = {"First", "First"}},
        {.what = "each mesh counts its corners from its own first point",
         .file = File(Editor(Object("Box01", eightPoints) + Object("Box02", eightPoints))), .points = 16,
         .names = {"Box01", "Box01", "Box02", "Box02"}, .refs = {{0, 1, 2}, {7, 6, 5}, {8, 9, 10}, {15, 14, 13}}},
        {.what = "materials alone are not a model",
         .file = File(Editor(Material(MaterialName("Red") + Diffuse(255, 0, 0)) +
                             Chunk(0x4000, Name("Camera01") + Chunk(0x4700, F32(1))))),
         .read = 0},
        {.what = "face corners beyond the mesh points fail the file",
         .file = File(Editor(Object("Box01", PointList(kQuad) + FaceList({{0, 1, 4}})))), .read = 0},
        {.what = "group surfaces are named after object and material, a name already starting with the object's kept",
         .file = File(Editor(Object("Box01", PointList(kQuad) + FaceList(kFourFaces, Group("Red", {0}) +
                                                                                      Group("Box01 Red", {1}) +
                                                                                      Group("Blue Sky", {2}))))),
         .names = {"Box01 Red", "Box01 Red", "Box01 Blue Sky", "Box01"}, .surfaces = 3},
        // In file order: the smoothing chunk still sees face 0 of "Order" as the object's own.
        {.what = "non-zero smoothing masks make their faces' surfaces smooth",
         .file = File(Editor(Material(MaterialName("Red")) + Quad("Flat", Smoothing({0, 0})) +
                             Object("Part", PointList(kQuad) + FaceList(three, Group("Red", {1}) +
                                                                                   Smoothing({0, 5, 0}))) +
                             Object("After", PointList(kQuad) + FaceList(kQuadFaces) + Smoothing({1, 0})) +
                             Quad("Order", Smoothing({1, 0}) + Group("Red", {0})))),
         .names = {"Flat", "Flat", "Part", "Part Red", "Part", "After", "After", "Order Red", "Order"},
         .smooth = {0, 0, 0, 1, 0, 1, 1, 0, 1}},
        // Hostile files.
        {.what = "a chunk length below six ends the walk of its parent",
         .file = File(Editor(Quad("Kept") + ChunkOfLength(0x4000, 3, Name("X")) + Quad("Lost"))), .points = 4,
         .names = {"Kept", "Kept"}},
        {.what = "an editor of length 0", .file = File(ChunkOfLength(0x3D3D, 0, "") + Editor(Quad("Lost"))), .read = 0},
        {.what = "a mesh chunk of length 5 ends the mesh",
         .file = File(Editor(Object("Box01", PointList(kQuad) + ChunkOfLength(0x4160, 5, "") + FaceList(kQuadFaces)))),
         .points = 4},
        // The point list swallows the face list and ends with the mesh.
        {.what = "a chunk reaching past its parent is cut at its end",
         .file = File(Editor(Object("Cut", WithU32(PointList(kQuad), 2, 0xFFFFFFF0u) + FaceList(kQuadFaces)) +
                             Quad("Next"))),
         .points = 8, .names = {"Next", "Next"}, .refs = {{4, 5, 6}, {4, 6, 7}}},
        {.what = "main chunk and editor longer than the file", .file = WithU32(WithU32(quad, 2, ~0u), 18, ~0u),
         .points = 4, .names = {"Box01", "Box01"}},
        {.what = "counts beyond their chunk are cut to the whole records present",
         .file = File(Editor(Object("Box01", Chunk(0x4110, U16(100) + PointRecords(kQuad) + std::string(5, '\xEE')) +
                                                 Chunk(0x4120, U16(50) + FaceRecords(three) + "\1\2\3")))),
         .points = 4, .names = {"Box01", "Box01", "Box01"}},
        {.what = "a group and masks cut short, a point list without its count",
         .file = File(Editor(Object("Box01", PointList(kQuad) + Chunk(0x4110, "") +
                                                 FaceList(kQuadFaces, shortGroup + Smoothing({1}))))),
         .points = 4, .names = {"Box01", "Box01 Red"}, .smooth = {1, 0}},
        {.what = "face numbers beyond the face list are ignored",
         .file = File(Editor(Quad("Box01", Group("Red", {2, 1, 65535, 40000})))), .names = {"Box01", "Box01 Red"}},
        {.what = "a group name without its NUL has no count and no faces",
         .file = File(Editor(Quad("Box01", Chunk(0x4130, "Blue")))), .names = {"Box01", "Box01"}},
        {.what = "a file cut inside an object name", .file = cutName.substr(0, cutName.size() - 6), .points = 4,
         .names = {"Box01", "Box01"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Read(c.file), c.read);
        if (c.points >= 0) {
            EXPECT_EQ(g_Scene.PointCount, c.points);
        }
        if (c.read != 1) continue;
        EXPECT_EQ(FaceSurfaceNames(), c.names);
        std::vector<int> smooth;
        for (const unit::Element& f : unit::ScenePolygons()) smooth.push_back(g_Scene.SurfaceSmooth[f.surface - 1]);
        if (!c.refs.empty()) {
            EXPECT_EQ(unit::RefsOf(unit::ScenePolygons()), c.refs);
        }
        if (!c.smooth.empty()) {
            EXPECT_EQ(smooth, c.smooth);
        }
        if (c.surfaces >= 0) {
            EXPECT_EQ(g_Scene.SurfaceCount, c.surfaces);
        }
    }
}

TEST_F(Read3DSTest, SniffingNeedsEighteenBytes) {
    const std::string head = File(Editor(""));
    ASSERT_EQ(head.size(), 22u);
    EXPECT_TRUE(Sniff3DS(18, reinterpret_cast<const uint8_t*>(head.data())));
    EXPECT_FALSE(Sniff3DS(17, reinterpret_cast<const uint8_t*>(head.data())));
}

TEST_F(Read3DSTest, PointsExchangeTheirLastTwoAxesAndFacesKeepTheirOrder) {
    ASSERT_EQ(Read(File(Editor(Object("Tri", PointList({{1, 2, 3}, {4, 5, 6}, {-7, 8.5f, 9}}) +
                                                 FaceList({{2, 0, 1}}))))),
              1);
    EXPECT_EQ(unit::ScenePoints(), (std::vector<Point>{{1, 3, 2}, {4, 6, 5}, {-7, 9, 8.5f}}));
    EXPECT_EQ(unit::ScenePolygons().at(0).refs, (Refs{2, 0, 1}));
}

// ---- Surfaces ---------------------------------------------------------------------

TEST_F(Read3DSTest, GroupSurfacesLookLikeTheirMaterialElseLikeTheObject) {
    const std::string red = Material(MaterialName("Red") + Diffuse(255, 0, 0) + IntPercent(0xA040, 50) +
                                     IntPercent(0xA041, 100) + IntPercent(0xA050, 50) + Shading(3));
    const std::string box01 = Material(MaterialName("Box01") + Diffuse(1, 2, 3));
    const std::string box = Object("Box01", PointList(kQuad) + FaceList(kFourFaces, Group("Red", {0}) +
                                                                                    Group("Green", {1}) +
                                                                                    Group("Box01 Red", {2})));
    ASSERT_EQ(Read(File(Editor(red + box01 + box))), 1);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{"Box01 Red", "Box01 Green", "Box01 Red", "Box01"}));
    const std::vector<unit::Element> faces = unit::ScenePolygons();
    const int32_t redGroup = int32_t(faces[0].surface) - 1;
    EXPECT_EQ(Colour(redGroup), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(g_Scene.SurfaceShininess[redGroup], 127);
    EXPECT_EQ(g_Scene.SurfaceTransparency[redGroup], 127);
    EXPECT_EQ(g_Scene.SurfaceSmooth[redGroup], 1);
    EXPECT_EQ(g_Scene.SurfaceColourLevel[redGroup], 255);
    EXPECT_EQ(g_Scene.SurfaceShininessStrength[redGroup], 0) << "strength is not part of a group's look";
    // No material "Green": the group looks like the object's surface, which is the material "Box01".
    EXPECT_EQ(Colour(int32_t(faces[1].surface) - 1), (std::vector<uint8_t>{1, 2, 3}));
    // "Box01 Red" names itself: the surface it just got is the one it copies from.
    EXPECT_EQ(faces[2].surface, faces[0].surface);
    EXPECT_EQ(Colour(int32_t(faces[3].surface) - 1), (std::vector<uint8_t>{1, 2, 3}));
}

// Object names keep 15 characters, material names 31, composed group names 31.
TEST_F(Read3DSTest, LongNamesAreCut) {
    const std::string material(40, 'm');
    const std::string box = Quad("ObjectNameOfTwentyOne", Group(material, {0}));
    ASSERT_EQ(Read(File(Editor(Material(MaterialName(material) + Diffuse(9, 8, 7)) + box))), 1);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{("ObjectNameOfTwe " + material).substr(0, 31),
                                                            "ObjectNameOfTwe"}));
    const int32_t group = int32_t(unit::ScenePolygons()[0].surface) - 1;
    EXPECT_EQ(g_Scene.SurfaceColours[group][0], 9) << "the cut material name still finds its material";
}

// The reader's parts on single chunks: material attributes, names without their NUL.
TEST_F(Read3DSTest, MaterialAttributesFollowTheirName) {
    for (uint16_t value = 0; value <= 4; ++value) {
        const std::string name = "Shade" + std::to_string(value);
        EXPECT_EQ(Read3DSMaterial(Content(Material(MaterialName(name) + Shading(value)))), 1);
        EXPECT_EQ(g_Scene.SurfaceSmooth[SlotNamed(name)], value >= 2 ? 1 : 0) << "shading above one means smooth";
    }
    // Attributes before the material name are ignored.
    const std::string early =
        Material(Diffuse(1, 2, 3) + Shading(3) + IntPercent(0xA050, 50) + MaterialName("Red") + IntPercent(0xA040, 50));
    EXPECT_EQ(Read3DSMaterial(Content(early)), 1);
    const int32_t red = SlotNamed("Red");
    EXPECT_EQ(Colour(red), (std::vector<uint8_t>{200, 200, 200}));
    EXPECT_EQ(g_Scene.SurfaceSmooth[red], 0);
    EXPECT_EQ(g_Scene.SurfaceTransparency[red], 0);
    EXPECT_EQ(g_Scene.SurfaceShininess[red], 127);
    // A name that meets the end of its chunk without its NUL ends there.
    EXPECT_EQ(Read3DSNamedObject(Content(Chunk(0x4000, "Box01"))), 1);
    EXPECT_GE(SlotNamed("Box01"), 0);
    EXPECT_EQ(Read3DSMaterial(Content(Material(Chunk(0xA000, "Blue")))), 1);
    EXPECT_GE(SlotNamed("Blue"), 0);
    EXPECT_EQ(g_Scene.SurfaceSlotCount, 5 + 1 + 2);
}

TEST_F(Read3DSTest, DiffuseColourIsTheLast24BitSubChunk) {
    const std::string mixed = Chunk(0xA020, Colour24(1, 2, 3) + Chunk(0x0012, "\x9\x9\x9") +
                                                Chunk(0x0010, F32(1) + F32(1) + F32(1)) + Chunk(0x0011, "\x4\x5"));
    EXPECT_EQ(Read3DSColour(Content(mixed), 5), 1);
    EXPECT_EQ(Colour(5), (std::vector<uint8_t>{1, 2, 3}));
    Read3DSColour(Content(Chunk(0xA020, Colour24(4, 5, 6) + Colour24(7, 8, 9))), 5);
    EXPECT_EQ(Colour(5), (std::vector<uint8_t>{7, 8, 9}));
}

// Integer percentages scale by 2.55 in double precision, floats by 255 in
// single precision; values outside 0..100 and 0..1 (and NaN) are held to 0..255.
TEST_F(Read3DSTest, PercentagesScaleToLevelsAndStayInRange) {
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    const std::pair<std::string, uint16_t> cases[] = {
        {IntPercent(0xA040, 50), 127},
        {IntPercent(0xA040, 100), 254},
        {IntPercent(0xA040, 0), 0},
        {IntPercent(0xA040, 101), 255},
        {IntPercent(0xA040, 65535), 255},
        {FloatPercent(0xA040, 1.0f), 255},
        {FloatPercent(0xA040, 0.5f), 127},
        {FloatPercent(0xA040, 1e30f), 255},
        {FloatPercent(0xA040, kInfinity), 255},
        {FloatPercent(0xA040, -0.5f), 0},
        {FloatPercent(0xA040, -kInfinity), 0},
        {FloatPercent(0xA040, std::numeric_limits<float>::quiet_NaN()), 0},
        {Chunk(0xA040, Chunk(0x0030, U16(50)) + Chunk(0x0031, F32(1.0f))), 255},
        {Chunk(0xA040, Chunk(0x0030, U16(50)) + Chunk(0x0030, "\x9")), 127},
        {Chunk(0xA040, Chunk(0x0031, std::string(2, '\0'))), 0},
        {Chunk(0xA040, ""), 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Read3DSPercentage(Content(cases[i].first)), cases[i].second) << i;
    }
}

TEST_F(Read3DSTest, OutOfMemoryFailsCleanly) {
    for (int64_t failAt : {1, 2}) {  // the file's block, the face list's surfaces
        ASSERT_EQ(unit::FreshScene(), 1);
        const fs::path path = Write("model.3ds", File(Editor(Quad("Box01"))));
        ModuleHeapFailAt(failAt);
        EXPECT_EQ(Read3DS(path.c_str()), 0) << failAt;
        ModuleHeapFailAt(0);
    }
}

// ---- The corpus ---------------------------------------------------------------------

// One face as its corner coordinates in the module's axes and its surface name.
using FaceView = std::tuple<Point, Point, Point, std::string>;

#ifdef TAMLORN_HAVE_LIB3DS
// Group surfaces are "object material", or the material alone when both
// start with the same word; faces outside every group take the object's name.
std::string ExpectedSurface(const std::string& object, const std::string& material) {
    if (material.empty()) return object;
    if (object.substr(0, object.find(' ')) == material.substr(0, material.find(' '))) return material;
    return object + " " + material;
}

std::vector<FaceView> Lib3dsFaceViews(Lib3dsFile* file, int32_t* points) {
    std::vector<FaceView> views;
    *points = 0;
    for (Lib3dsMesh* mesh = file->meshes; mesh; mesh = mesh->next) {
        *points += static_cast<int32_t>(mesh->points);
        auto at = [mesh](Lib3dsWord i) {
            const float* p = mesh->pointL[i].pos;
            return Point{p[0], p[2], p[1]};
        };
        for (Lib3dsDword k = 0; k < mesh->faces; ++k) {
            const Lib3dsFace& f = mesh->faceL[k];
            views.emplace_back(at(f.points[0]), at(f.points[1]), at(f.points[2]),
                               ExpectedSurface(mesh->name, f.material));
        }
    }
    std::sort(views.begin(), views.end());
    return views;
}
#endif

TEST_F(Read3DSTest, CorpusMeshesMatchLib3ds) {
#ifndef TAMLORN_HAVE_LIB3DS
    GTEST_SKIP() << "lib3ds is not installed";
#else
    const std::vector<fs::path> files = host_support::CorpusFiles("3ds", ".txt");
    ASSERT_GE(files.size(), 8u);
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        Lib3dsFile* file = lib3ds_file_load(path.c_str());
        ASSERT_NE(file, nullptr);
        int32_t points = 0;
        const std::vector<FaceView> expected = Lib3dsFaceViews(file, &points);
        lib3ds_file_free(file);

        ASSERT_EQ(unit::FreshScene(), 1);
        ASSERT_EQ(Read3DS(path.c_str()), 1);
        EXPECT_EQ(g_Scene.PointCount, points);
        std::vector<FaceView> views;
        for (const unit::Element& f : unit::ScenePolygons()) {
            ASSERT_EQ(f.refs.size(), 3u);
            views.emplace_back(unit::ScenePoint(f.refs[0]), unit::ScenePoint(f.refs[1]), unit::ScenePoint(f.refs[2]),
                               unit::SurfaceName(f.surface));
        }
        std::sort(views.begin(), views.end());
        EXPECT_TRUE(views == expected);
    }
#endif
}

// Every chunk header of each corpus file with its lowest, highest or all bits
// flipped in each byte: the copy loads or fails, and what it loads is a valid scene.
TEST_F(Read3DSTest, FlippedHeaderBytesNeverBreakTheReader) {
    int32_t loaded = 0, refused = 0;
    for (const fs::path& path : host_support::CorpusFiles("3ds", ".txt")) {
        SCOPED_TRACE(path.filename().string());
        const std::string whole = unit::ReadFile(path);
        const std::vector<size_t> headers = host_support::WalkChunks(whole).headers;
        ASSERT_GE(headers.size(), 10u);
        const size_t stride = std::max<size_t>(1, headers.size() / 40);
        for (size_t h = 0; h < headers.size(); h += stride)
            for (size_t byte = 0; byte < 6; ++byte)
                for (uint8_t mask : {0x01, 0x80, 0xFF}) {
                    SCOPED_TRACE(testing::Message() << "header " << headers[h] << " byte " << byte << " ^ "
                                                    << int(mask));
                    std::string damaged = whole;
                    damaged[headers[h] + byte] = char(damaged[headers[h] + byte] ^ mask);
                    const int32_t result = Read(damaged);
                    ASSERT_TRUE(result == 0 || result == 1);
                    (result ? loaded : refused) += 1;
                    if (result == 0) continue;
                    EXPECT_GE(g_Scene.PointCount, 1);
                    for (const unit::Element& f : unit::ScenePolygons()) {
                        EXPECT_LT(*std::max_element(f.refs.begin(), f.refs.end()), uint32_t(g_Scene.PointCount));
                        EXPECT_TRUE(f.surface >= 1 && f.surface <= uint32_t(g_Scene.SurfaceCount));
                    }
                }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
