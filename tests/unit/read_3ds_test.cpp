// The 3D Studio reader on files written chunk by chunk, on the corpus (checked
// against lib3ds as an independent reader) and on damaged copies of the corpus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "formats/3ds/tds.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

#ifdef TAMLORN_HAVE_LIB3DS
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Point = std::array<float, 3>;
using Corners = std::array<uint16_t, 3>;

// ---- Writing files chunk by chunk -------------------------------------------------

Bytes Number(uint64_t value, int bytes) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}
Bytes U16(uint16_t v) { return Number(v, 2); }
Bytes U32(uint32_t v) { return Number(v, 4); }
Bytes F32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return U32(bits);
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }  // no NUL
Bytes Name(const std::string& s) { return Text(s + '\0'); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}
Bytes ChunkOfLength(uint16_t id, uint32_t length, const Bytes& body) { return Cat({U16(id), U32(length), body}); }
Bytes Chunk(uint16_t id, std::initializer_list<Bytes> parts) {
    const Bytes body = Cat(parts);
    return ChunkOfLength(id, static_cast<uint32_t>(body.size() + 6), body);
}

Bytes File(std::initializer_list<Bytes> sections) { return Chunk(0x4D4D, {Chunk(0x0002, {U32(3)}), Cat(sections)}); }
Bytes Editor(std::initializer_list<Bytes> chunks) { return Chunk(0x3D3D, chunks); }
Bytes Keyframer() { return Chunk(0xB000, {Chunk(0xB00A, {U16(5)}), Chunk(0x0000, {U32(7)})}); }
Bytes Object(const std::string& name, std::initializer_list<Bytes> mesh) {
    return Chunk(0x4000, {Name(name), Chunk(0x4100, mesh)});
}
Bytes PointRecords(const std::vector<Point>& points) {
    Bytes body;
    for (const Point& p : points) body = Cat({body, F32(p[0]), F32(p[1]), F32(p[2])});
    return body;
}
Bytes FaceRecords(const std::vector<Corners>& faces) {
    Bytes body;
    for (const Corners& f : faces) body = Cat({body, U16(f[0]), U16(f[1]), U16(f[2]), U16(7)});
    return body;
}
Bytes PointList(const std::vector<Point>& points) {
    return Chunk(0x4110, {U16(static_cast<uint16_t>(points.size())), PointRecords(points)});
}
Bytes FaceList(const std::vector<Corners>& faces, std::initializer_list<Bytes> after = {}) {
    return Chunk(0x4120, {U16(static_cast<uint16_t>(faces.size())), FaceRecords(faces), Cat(after)});
}
Bytes Group(const std::string& material, const std::vector<uint16_t>& faces) {
    Bytes body = Cat({Name(material), U16(static_cast<uint16_t>(faces.size()))});
    for (uint16_t f : faces) body = Cat({body, U16(f)});
    return Chunk(0x4130, {body});
}
Bytes Smoothing(const std::vector<uint32_t>& masks) {
    Bytes body;
    for (uint32_t m : masks) body = Cat({body, U32(m)});
    return Chunk(0x4150, {body});
}
Bytes Material(std::initializer_list<Bytes> chunks) { return Chunk(0xAFFF, chunks); }
Bytes MaterialName(const std::string& name) { return Chunk(0xA000, {Name(name)}); }
Bytes Diffuse(uint8_t r, uint8_t g, uint8_t b) { return Chunk(0xA020, {Chunk(0x0011, {{r, g, b}})}); }
Bytes IntPercent(uint16_t id, uint16_t v) { return Chunk(id, {Chunk(0x0030, {U16(v)})}); }
Bytes FloatPercent(uint16_t id, float f) { return Chunk(id, {Chunk(0x0031, {F32(f)})}); }
Bytes Shading(uint16_t v) { return Chunk(0xA100, {U16(v)}); }

const std::vector<Point> kQuad = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<Corners> kQuadFaces = {{0, 1, 2}, {0, 2, 3}};
Bytes Quad(const std::string& name) { return Object(name, {PointList(kQuad), FaceList(kQuadFaces)}); }

// A new file each time: rewriting one in place makes some file systems flush it
// at every close.
void WriteFile(const fs::path& path, const Bytes& bytes) {
    fs::remove(path);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The content of a chunk built above, as the reader's parts are given it.
TdsCursor Content(const Bytes& chunk) { return TdsCursor{chunk.data(), 6, static_cast<uint32_t>(chunk.size())}; }

// ---- Reading the scene back ---------------------------------------------------------

struct SceneFace {
    uint32_t a, b, c, surface;
};

std::vector<SceneFace> Faces() {
    std::vector<SceneFace> faces;
    StreamWalker w = WalkerBegin(g_Scene.PolygonStream);
    std::vector<uint32_t*> words(kMaxCorners);
    for (int32_t k = 0; k < g_Scene.PolygonCount; ++k) {
        uint32_t surface = 0;
        EXPECT_EQ(WalkerPolygon(w, words.data(), &surface), 3u);
        faces.push_back({*words[0], *words[1], *words[2], surface});
    }
    return faces;
}
std::string SurfaceName(uint32_t surface) { return g_Scene.SurfaceNames[surface - 1]; }
std::vector<std::string> FaceSurfaceNames() {
    std::vector<std::string> names;
    for (const SceneFace& f : Faces()) names.push_back(SurfaceName(f.surface));
    return names;
}
Point PointAt(int32_t i) {
    const float* p = ScenePointAt(i);
    return {p[0], p[1], p[2]};
}
int32_t SlotNamed(const std::string& name) {
    for (int32_t i = 0; i < g_Scene.SurfaceSlotCount; ++i)
        if (name == g_Scene.SurfaceNames[i]) return i;
    return -1;
}

class Read3DSTest : public ::testing::Test {
  protected:
    void SetUp() override {
        liveBefore_ = ModuleHeapLiveBlocks();
        Reset();
    }
    void TearDown() override {
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), liveBefore_) << "module blocks leaked";
        fs::remove(path_);
    }
    void Reset() {
        SceneFree();
        SceneReset();
        ASSERT_TRUE(SceneAllocateFirstChunks());
    }
    int32_t Read(const Bytes& bytes) {
        WriteFile(path_, bytes);
        return Read3DS(path_.c_str());
    }
    // A fresh scene, then the file.
    int32_t ReadAfresh(const Bytes& bytes) {
        Reset();
        return Read(bytes);
    }

    int64_t liveBefore_ = 0;
    fs::path path_ = fs::path(::testing::TempDir()) /
                     ("read_3ds_" + std::to_string(getpid()) + "_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".3ds");
};

// ---- The file and its sections ------------------------------------------------------

TEST_F(Read3DSTest, NeedsEighteenBytesAndAMainChunkLongerThanTheVersion) {
    Bytes head = File({Editor({})});
    ASSERT_EQ(head.size(), 22u);
    EXPECT_TRUE(Sniff3DS(18, head.data()));
    EXPECT_FALSE(Sniff3DS(17, head.data()));
    EXPECT_EQ(Read(Bytes(head.begin(), head.begin() + 17)), 0);

    Bytes file = File({Editor({Quad("Box01")})});
    EXPECT_EQ(ReadAfresh(file), 1);
    for (uint32_t mainLength : {16u, 10u, 0u}) {
        std::copy_n(U32(mainLength).begin(), 4, file.begin() + 2);
        EXPECT_EQ(ReadAfresh(file), 0) << mainLength;
        EXPECT_EQ(g_Scene.PointCount, 0);
    }
}

// The sniffer wants an editor section at offset 16, so a keyframer before the
// model's editor section follows a first, empty one.
TEST_F(Read3DSTest, KeyframerSectionsArePassedOver) {
    EXPECT_EQ(Read(File({Editor({}), Keyframer(), Editor({Quad("Box01")}), Keyframer()})), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(g_Scene.PolygonCount, 2);
}

TEST_F(Read3DSTest, AnotherTopLevelChunkEndsTheWalkKeepingWhatWasRead) {
    EXPECT_EQ(Read(File({Editor({Quad("First")}), Chunk(0x1234, {U32(0)}), Editor({Quad("Second")})})), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{"First", "First"}));
}

TEST_F(Read3DSTest, PointsExchangeTheirLastTwoAxesAndFacesKeepTheirOrder) {
    EXPECT_EQ(Read(File({Editor({Object("Tri", {PointList({{1, 2, 3}, {4, 5, 6}, {-7, 8.5f, 9}}),
                                                FaceList({{2, 0, 1}})})})})),
              1);
    EXPECT_EQ(PointAt(0), (Point{1, 3, 2}));
    EXPECT_EQ(PointAt(2), (Point{-7, 9, 8.5f}));
    const SceneFace face = Faces().at(0);
    EXPECT_EQ(std::tie(face.a, face.b, face.c), std::make_tuple(2u, 0u, 1u));
}

TEST_F(Read3DSTest, EachMeshCountsItsCornersFromItsOwnFirstPoint) {
    std::vector<Point> eight;
    for (int i = 0; i < 8; ++i) eight.push_back({float(i & 1), float(i >> 1 & 1), float(i >> 2)});
    const Bytes mesh = Cat({PointList(eight), FaceList({{0, 1, 2}, {7, 6, 5}})});
    EXPECT_EQ(Read(File({Editor({Object("Box01", {mesh}), Object("Box02", {mesh})})})), 1);
    EXPECT_EQ(g_Scene.PointCount, 16);
    const std::vector<SceneFace> faces = Faces();
    ASSERT_EQ(faces.size(), 4u);
    EXPECT_EQ(std::tie(faces[2].a, faces[2].b, faces[2].c), std::make_tuple(8u, 9u, 10u));
    EXPECT_EQ(std::tie(faces[3].a, faces[3].b, faces[3].c), std::make_tuple(15u, 14u, 13u));
    EXPECT_EQ(SurfaceName(faces[0].surface), "Box01");
    EXPECT_EQ(SurfaceName(faces[3].surface), "Box02");
}

TEST_F(Read3DSTest, MaterialsAloneAreNotAModel) {
    EXPECT_EQ(Read(File({Editor({Material({MaterialName("Red"), Diffuse(255, 0, 0)}),
                                 Chunk(0x4000, {Name("Camera01"), Chunk(0x4700, {F32(1)})})})})),
              0);
}

TEST_F(Read3DSTest, FaceCornersBeyondTheMeshPointsFailTheFile) {
    EXPECT_EQ(Read(File({Editor({Object("Box01", {PointList(kQuad), FaceList({{0, 1, 4}})})})})), 0);
}

// ---- Surfaces ---------------------------------------------------------------------

const std::vector<Corners> kFourFaces = {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}, {0, 1, 3}};

TEST_F(Read3DSTest, GroupSurfacesAreNamedAfterObjectAndMaterial) {
    const Bytes box = Object("Box01", {PointList(kQuad), FaceList(kFourFaces, {Group("Red", {0}), Group("Box01 Red", {1}),
                                                                               Group("Blue Sky", {2})})});
    EXPECT_EQ(Read(File({Editor({box})})), 1);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{"Box01 Red", "Box01 Red", "Box01 Blue Sky", "Box01"}));
    EXPECT_EQ(g_Scene.SurfaceCount, 3);
}

TEST_F(Read3DSTest, GroupSurfacesLookLikeTheirMaterialElseLikeTheObject) {
    const Bytes red = Material({MaterialName("Red"), Diffuse(255, 0, 0), IntPercent(0xA040, 50),
                                IntPercent(0xA041, 100), IntPercent(0xA050, 50), Shading(3)});
    const Bytes box01 = Material({MaterialName("Box01"), Diffuse(1, 2, 3)});
    const Bytes box = Object("Box01", {PointList(kQuad), FaceList(kFourFaces, {Group("Red", {0}), Group("Green", {1}),
                                                                               Group("Box01 Red", {2})})});
    EXPECT_EQ(Read(File({Editor({red, box01, box})})), 1);
    const std::vector<SceneFace> faces = Faces();
    ASSERT_EQ(faces.size(), 4u);
    const int32_t redGroup = faces[0].surface - 1;
    EXPECT_EQ(SurfaceName(faces[0].surface), "Box01 Red");
    EXPECT_EQ(std::vector<uint8_t>(g_Scene.SurfaceColours[redGroup], g_Scene.SurfaceColours[redGroup] + 3),
              (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(g_Scene.SurfaceShininess[redGroup], 127);
    EXPECT_EQ(g_Scene.SurfaceTransparency[redGroup], 127);
    EXPECT_EQ(g_Scene.SurfaceSmooth[redGroup], 1);
    EXPECT_EQ(g_Scene.SurfaceColourLevel[redGroup], 255);
    EXPECT_EQ(g_Scene.SurfaceShininessStrength[redGroup], 0) << "strength is not part of a group's look";
    // No material "Green": the group looks like the object's surface, which is the material "Box01".
    const int32_t green = faces[1].surface - 1;
    EXPECT_EQ(SurfaceName(faces[1].surface), "Box01 Green");
    EXPECT_EQ(g_Scene.SurfaceColours[green][2], 3);
    // "Box01 Red" names itself: the surface it just got is the one it copies from.
    EXPECT_EQ(faces[2].surface, faces[0].surface);
    EXPECT_EQ(g_Scene.SurfaceColours[redGroup][0], 255);
    EXPECT_EQ(SurfaceName(faces[3].surface), "Box01");
    EXPECT_EQ(g_Scene.SurfaceColours[faces[3].surface - 1][0], 1);
}

TEST_F(Read3DSTest, NonZeroSmoothingMasksMakeTheirFacesSurfacesSmooth) {
    const std::vector<Corners> three = {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}};
    const Bytes flat = Object("Flat", {PointList(kQuad), FaceList(kQuadFaces, {Smoothing({0, 0})})});
    const Bytes part = Object("Part", {PointList(kQuad), FaceList(three, {Group("Red", {1}), Smoothing({0, 5, 0})})});
    const Bytes after = Object("After", {PointList(kQuad), FaceList(kQuadFaces), Smoothing({1, 0})});
    // In file order: the smoothing chunk still sees face 0 as the object's own.
    const Bytes order = Object("Order", {PointList(kQuad), FaceList(kQuadFaces, {Smoothing({1, 0}), Group("Red", {0})})});
    EXPECT_EQ(Read(File({Editor({Material({MaterialName("Red")}), flat, part, after, order})})), 1);
    std::vector<std::pair<std::string, int>> smooth;
    for (const SceneFace& f : Faces()) smooth.emplace_back(SurfaceName(f.surface), g_Scene.SurfaceSmooth[f.surface - 1]);
    const std::vector<std::pair<std::string, int>> expected = {
        {"Flat", 0},  {"Flat", 0},  {"Part", 0},      {"Part Red", 1}, {"Part", 0},
        {"After", 1}, {"After", 1}, {"Order Red", 0}, {"Order", 1}};
    EXPECT_EQ(smooth, expected);
}

TEST_F(Read3DSTest, ShadingAboveOneMeansSmooth) {
    for (uint16_t value = 0; value <= 4; ++value) {
        const std::string name = "Shade" + std::to_string(value);
        const Bytes material = Material({MaterialName(name), Shading(value)});
        EXPECT_EQ(Read3DSMaterial(Content(material)), 1);
        EXPECT_EQ(g_Scene.SurfaceSmooth[SlotNamed(name)], value >= 2 ? 1 : 0) << value;
    }
}

TEST_F(Read3DSTest, DiffuseColourIsTheLast24BitSubChunk) {
    const Bytes mixed = Chunk(0xA020, {Chunk(0x0011, {{1, 2, 3}}), Chunk(0x0012, {{9, 9, 9}}),
                                       Chunk(0x0010, {F32(1), F32(1), F32(1)}), Chunk(0x0011, {{4, 5}})});
    EXPECT_EQ(Read3DSColour(Content(mixed), 5), 1);
    EXPECT_EQ(std::vector<uint8_t>(g_Scene.SurfaceColours[5], g_Scene.SurfaceColours[5] + 3),
              (std::vector<uint8_t>{1, 2, 3}));
    const Bytes twice = Chunk(0xA020, {Chunk(0x0011, {{4, 5, 6}}), Chunk(0x0011, {{7, 8, 9}})});
    Read3DSColour(Content(twice), 5);
    EXPECT_EQ(g_Scene.SurfaceColours[5][0], 7);
}

// Integer percentages scale by 2.55 in double precision, floats by 255 in
// single precision; values outside 0..100 and 0..1 (and NaN) are held to 0..255.
TEST_F(Read3DSTest, PercentagesScaleToLevelsAndStayInRange) {
    const std::vector<std::pair<Bytes, uint16_t>> cases = {
        {IntPercent(0xA040, 50), 127},
        {IntPercent(0xA040, 100), 254},
        {IntPercent(0xA040, 0), 0},
        {IntPercent(0xA040, 101), 255},
        {IntPercent(0xA040, 65535), 255},
        {FloatPercent(0xA040, 1.0f), 255},
        {FloatPercent(0xA040, 0.5f), 127},
        {FloatPercent(0xA040, 1e30f), 255},
        {FloatPercent(0xA040, std::numeric_limits<float>::infinity()), 255},
        {FloatPercent(0xA040, -0.5f), 0},
        {FloatPercent(0xA040, -std::numeric_limits<float>::infinity()), 0},
        {FloatPercent(0xA040, std::numeric_limits<float>::quiet_NaN()), 0},
        {Chunk(0xA040, {Chunk(0x0030, {U16(50)}), Chunk(0x0031, {F32(1.0f)})}), 255},
        {Chunk(0xA040, {Chunk(0x0030, {U16(50)}), Chunk(0x0030, {{9}})}), 127},
        {Chunk(0xA040, {Chunk(0x0031, {{0, 0}})}), 0},
        {Chunk(0xA040, {}), 0},
    };
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Read3DSPercentage(Content(cases[i].first)), cases[i].second) << i;
}

// ---- Hostile files ------------------------------------------------------------------

TEST_F(Read3DSTest, ChunkLengthBelowSixEndsTheWalkOfItsParent) {
    EXPECT_EQ(Read(File({Editor({Quad("Kept"), ChunkOfLength(0x4000, 3, Name("X")), Quad("Lost")})})), 1);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{"Kept", "Kept"}));

    EXPECT_EQ(ReadAfresh(File({ChunkOfLength(0x3D3D, 0, {}), Editor({Quad("Lost")})})), 0);

    const Bytes mesh = Object("Box01", {PointList(kQuad), ChunkOfLength(0x4160, 5, {}), FaceList(kQuadFaces)});
    EXPECT_EQ(ReadAfresh(File({Editor({mesh})})), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(g_Scene.PolygonCount, 0);
}

TEST_F(Read3DSTest, ChunksReachingPastTheirParentAreCutAtItsEnd) {
    Bytes points = PointList(kQuad);
    std::copy_n(U32(0xFFFFFFF0u).begin(), 4, points.begin() + 2);  // swallows the face list, ends with the mesh
    EXPECT_EQ(Read(File({Editor({Object("Cut", {points, FaceList(kQuadFaces)}), Quad("Next")})})), 1);
    EXPECT_EQ(g_Scene.PointCount, 8);
    const std::vector<SceneFace> faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_EQ(faces[1].c, 7u);
    EXPECT_EQ(SurfaceName(faces[0].surface), "Next");

    Bytes longer = File({Editor({Quad("Box01")})});
    std::copy_n(U32(0xFFFFFFFFu).begin(), 4, longer.begin() + 2);   // main chunk
    std::copy_n(U32(0xFFFFFFFFu).begin(), 4, longer.begin() + 18);  // editor
    EXPECT_EQ(ReadAfresh(longer), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 2);
}

TEST_F(Read3DSTest, CountsBeyondTheirChunkAreCutToTheWholeRecordsPresent) {
    const Bytes points = Chunk(0x4110, {U16(100), PointRecords(kQuad), Bytes(5, 0xEE)});
    const Bytes faces = Chunk(0x4120, {U16(50), FaceRecords({{0, 1, 2}, {0, 2, 3}, {1, 2, 3}}), {1, 2, 3}});
    EXPECT_EQ(Read(File({Editor({Object("Box01", {points, faces})})})), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(g_Scene.PolygonCount, 3);

    const Bytes shortGroup = Chunk(0x4130, {Name("Red"), U16(9), U16(1)});
    const Bytes shortMasks = Smoothing({1});
    const Bytes noCount = Chunk(0x4110, {});
    EXPECT_EQ(ReadAfresh(File({Editor({Object("Box01", {PointList(kQuad), noCount,
                                                        FaceList(kQuadFaces, {shortGroup, shortMasks})})})})),
              1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    std::vector<std::pair<std::string, int>> smooth;
    for (const SceneFace& f : Faces()) smooth.emplace_back(SurfaceName(f.surface), g_Scene.SurfaceSmooth[f.surface - 1]);
    EXPECT_EQ(smooth, (std::vector<std::pair<std::string, int>>{{"Box01", 1}, {"Box01 Red", 0}}));
}

TEST_F(Read3DSTest, FaceNumbersBeyondTheFaceListAreIgnored) {
    EXPECT_EQ(Read(File({Editor({Object("Box01", {PointList(kQuad),
                                                  FaceList(kQuadFaces, {Group("Red", {2, 1, 65535, 40000})})})})})),
              1);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{"Box01", "Box01 Red"}));
}

// Object names keep 15 characters, material names 31, composed group names 31.
TEST_F(Read3DSTest, LongNamesAreCut) {
    const std::string material(40, 'm');
    const Bytes box = Object("ObjectNameOfTwentyOne", {PointList(kQuad), FaceList(kQuadFaces, {Group(material, {0})})});
    EXPECT_EQ(Read(File({Editor({Material({MaterialName(material), Diffuse(9, 8, 7)}), box})})), 1);
    const std::vector<SceneFace> faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_EQ(SurfaceName(faces[1].surface), "ObjectNameOfTwe");
    EXPECT_EQ(SurfaceName(faces[0].surface), ("ObjectNameOfTwe " + material).substr(0, 31));
    EXPECT_EQ(g_Scene.SurfaceColours[faces[0].surface - 1][0], 9) << "the cut material name still finds its material";
}

// A name that meets the end of its chunk (or of the file) without its NUL ends there.
TEST_F(Read3DSTest, NamesWithoutTheirNulEndAtTheirChunk) {
    const Bytes object = Chunk(0x4000, {Text("Box01")});
    EXPECT_EQ(Read3DSNamedObject(Content(object)), 1);
    EXPECT_GE(SlotNamed("Box01"), 0);
    const Bytes material = Material({Chunk(0xA000, {Text("Red")})});
    EXPECT_EQ(Read3DSMaterial(Content(material)), 1);
    EXPECT_GE(SlotNamed("Red"), 0);

    const Bytes group = Chunk(0x4130, {Text("Blue")});  // no NUL, so no count and no faces
    EXPECT_EQ(ReadAfresh(File({Editor({Object("Box01", {PointList(kQuad), FaceList(kQuadFaces, {group})})})})), 1);
    EXPECT_EQ(FaceSurfaceNames(), (std::vector<std::string>{"Box01", "Box01"}));

    const Bytes cut = File({Editor({Quad("Box01"), Chunk(0x4000, {Name("AnObjectCutShort")})})});
    EXPECT_EQ(ReadAfresh(Bytes(cut.begin(), cut.end() - 6)), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
}

TEST_F(Read3DSTest, AttributesBeforeTheMaterialNameAreIgnored) {
    const Bytes material = Material({Diffuse(1, 2, 3), Shading(3), IntPercent(0xA050, 50), MaterialName("Red"),
                                     IntPercent(0xA040, 50)});
    EXPECT_EQ(Read3DSMaterial(Content(material)), 1);
    ASSERT_EQ(g_Scene.SurfaceSlotCount, 1);
    EXPECT_EQ(g_Scene.SurfaceColours[0][0], 200);
    EXPECT_EQ(g_Scene.SurfaceSmooth[0], 0);
    EXPECT_EQ(g_Scene.SurfaceTransparency[0], 0);
    EXPECT_EQ(g_Scene.SurfaceShininess[0], 127);
}

TEST_F(Read3DSTest, OutOfMemoryFailsCleanly) {
    const Bytes file = File({Editor({Quad("Box01")})});
    for (int64_t failAt : {1, 2}) {  // the file's block, the face list's surfaces
        Reset();
        ModuleHeapFailAt(failAt);
        EXPECT_EQ(Read(file), 0) << failAt;
        ModuleHeapFailAt(0);
    }
}

// ---- The corpus ---------------------------------------------------------------------

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TAMLORN_CORPUS_DIR) / "3ds"))
        if (entry.path().extension() != ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// One face as its corner coordinates in the module's axes and its surface name.
using FaceView = std::tuple<Point, Point, Point, std::string>;

std::vector<FaceView> SceneFaceViews() {
    std::vector<FaceView> views;
    for (const SceneFace& f : Faces())
        views.emplace_back(PointAt(f.a), PointAt(f.b), PointAt(f.c), SurfaceName(f.surface));
    std::sort(views.begin(), views.end());
    return views;
}

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
    const std::vector<fs::path> files = CorpusFiles();
    ASSERT_GE(files.size(), 8u);
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        Lib3dsFile* file = lib3ds_file_load(path.c_str());
        ASSERT_NE(file, nullptr);
        int32_t points = 0;
        const std::vector<FaceView> expected = Lib3dsFaceViews(file, &points);
        lib3ds_file_free(file);

        Reset();
        ASSERT_EQ(Read3DS(path.c_str()), 1);
        EXPECT_EQ(g_Scene.PointCount, points);
        EXPECT_EQ(g_Scene.PolygonCount, static_cast<int32_t>(expected.size()));
        EXPECT_TRUE(SceneFaceViews() == expected);
    }
#endif
}

// ---- Damaged copies -----------------------------------------------------------------

// Offsets of the chunk headers of the editor's tree, found by a walk of its own.
void CollectHeaders(const Bytes& b, size_t pos, size_t end, std::vector<size_t>* headers) {
    while (pos + 6 <= end) {
        const uint16_t id = static_cast<uint16_t>(b[pos] | b[pos + 1] << 8);
        const size_t length = b[pos + 2] | b[pos + 3] << 8 | b[pos + 4] << 16 | size_t(b[pos + 5]) << 24;
        if (length < 6 || pos + length > end) return;
        headers->push_back(pos);
        size_t content = pos + 6;
        if (id == 0x4000) content = std::find(b.begin() + content, b.begin() + pos + length, 0) - b.begin() + 1;
        if (id == 0x4120) content += 2 + 8 * size_t(b[content] | b[content + 1] << 8);
        if (id == 0x4D4D || id == 0x3D3D || id == 0x4000 || id == 0x4100 || id == 0x4120 || id == 0xAFFF ||
            id == 0xA020 || id == 0xA040 || id == 0xA041 || id == 0xA050)
            CollectHeaders(b, content, pos + length, headers);
        pos += length;
    }
}

class DamagedCorpusTest : public Read3DSTest {
  protected:
    // Reads a damaged copy: it loads or fails, and what it loads is a valid scene.
    int32_t ReadDamaged(const Bytes& bytes) {
        const int32_t result = ReadAfresh(bytes);
        EXPECT_TRUE(result == 0 || result == 1);
        if (result == 1) {
            EXPECT_GE(g_Scene.PointCount, 1);
            for (const SceneFace& f : Faces()) {
                EXPECT_LT(std::max({f.a, f.b, f.c}), static_cast<uint32_t>(g_Scene.PointCount));
                EXPECT_TRUE(f.surface >= 1 && f.surface <= static_cast<uint32_t>(g_Scene.SurfaceCount));
            }
        }
        return result;
    }
};

TEST_F(DamagedCorpusTest, TruncatedCopiesLoadAtMostTheWholeFile) {
    for (const fs::path& path : CorpusFiles()) {
        SCOPED_TRACE(path.filename().string());
        const Bytes whole = ReadFile(path);
        ASSERT_EQ(ReadAfresh(whole), 1);
        const int32_t points = g_Scene.PointCount, faces = g_Scene.PolygonCount;
        const size_t step = std::max<size_t>(1, whole.size() / 120);
        for (size_t cut = 0; cut < whole.size(); cut += cut < 64 ? 1 : step + cut % 7) {
            SCOPED_TRACE(cut);
            if (ReadDamaged(Bytes(whole.begin(), whole.begin() + cut)) == 1) {
                EXPECT_LE(g_Scene.PointCount, points);
                EXPECT_LE(g_Scene.PolygonCount, faces);
            }
        }
    }
}

TEST_F(DamagedCorpusTest, FlippedHeaderBytesNeverBreakTheReader) {
    int32_t loaded = 0, refused = 0;
    for (const fs::path& path : CorpusFiles()) {
        SCOPED_TRACE(path.filename().string());
        const Bytes whole = ReadFile(path);
        std::vector<size_t> headers;
        CollectHeaders(whole, 0, whole.size(), &headers);
        ASSERT_GE(headers.size(), 10u);
        const size_t stride = std::max<size_t>(1, headers.size() / 40);
        for (size_t h = 0; h < headers.size(); h += stride)
            for (size_t byte = 0; byte < 6; ++byte)
                for (uint8_t mask : {0x01, 0x80, 0xFF}) {
                    SCOPED_TRACE(testing::Message() << "header " << headers[h] << " byte " << byte << " mask " << int(mask));
                    Bytes damaged = whole;
                    damaged[headers[h] + byte] ^= mask;
                    (ReadDamaged(damaged) ? loaded : refused) += 1;
                }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
