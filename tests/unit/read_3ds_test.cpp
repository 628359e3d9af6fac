// The 3D Studio reader on small files written chunk by chunk: what each file
// reads to, careless lengths and counts worked by hand down to the bytes. The
// corpus and its damaged copies go through the host (tds_corpus_test).
#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <tuple>

#include "formats/3ds/tds.h"
#include "unit/unit_support.h"

namespace {

using namespace host_support::tds;
using host_support::Chunk;
using host_support::F32;
using host_support::U16;
using host_support::U32;
using unit::Refs;

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

// One part of the reader on a chunk built above, entered after its header with its content length.
template <typename Part>
auto OnChunk(const std::string& chunk, Part part) {
    TdsFile file{reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<uint32_t>(chunk.size()), 6, false};
    return part(static_cast<int32_t>(chunk.size()) - 6, file);
}

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
    int32_t Read(const std::string& bytes) {
        if (!unit::FreshScene()) return -1;
        return Read3DS(Write("model.3ds", bytes).string().c_str());
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
    const std::string keyframer = Chunk(0xB000, Chunk(0xB00A, U16(5)) + Chunk(0xB008, U32(0) + U32(100)));
    const std::string cutName = File(Editor(Quad("Box01") + Chunk(0x4000, Name("AnObjectCutShort"))));
    const std::string cutGroup = File(Editor(Quad("Box01", Group("Red", {0, 1}))));
    // The group's length also covers the smoothing chunk after it, which is read all the same.
    const std::string longGroup = WithU32(Group("Red", {0}), 2, 14 + 14) + Smoothing({1, 0});
    // Two objects of 37 bytes: header 6, "Pin1" and its NUL 5, mesh header 6, point list 6 + 2 + 12.
    const std::string pinObjects = Object("Pin1", PointList({{1, 2, 3}})) + Object("Pin2", PointList({{4, 5, 6}}));
    const std::string pins = File(Editor(pinObjects) + Editor(Quad("Tri")));
    // Three points and a count of four, then the 16-byte face list
    // 20 41 10 00 00 00 | 01 00 | 00 00 01 00 02 00 07 00; its first 12 bytes read as the fourth point.
    const std::string fourPoints = Chunk(0x4110, U16(4) + PointRecords({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
    const auto bits = [](uint32_t b) { return std::bit_cast<float>(b); };
    const Point fourth = {bits(0x00104120), bits(0x00010000), bits(0x00010000)};
    struct Case {
        const char* what;
        std::string file;
        int32_t read = 1;
        int32_t points = -1;
        std::vector<std::string> names = {};
        std::vector<Refs> refs = {};
        std::vector<int> smooth = {};
        int32_t surfaces = -1;
        std::vector<Point> positions = {};  // in the scene's axes (x, z, y)
    };
    const Case cases[] = {
        {.what = "a quad", .file = quad, .points = 4, .names = {"Box01", "Box01"}, .refs = {{0, 1, 2}, {0, 2, 3}}},
        {.what = "17 bytes", .file = quad.substr(0, 17), .read = 0},
        {.what = "a main chunk of the version's length", .file = WithU32(quad, 2, 16), .read = 0, .points = 0},
        {.what = "a main chunk shorter than the version", .file = WithU32(quad, 2, 10), .read = 0, .points = 0},
        {.what = "a main chunk of length 0", .file = WithU32(quad, 2, 0), .read = 0, .points = 0},
        {.what = "a main length of 2^31 is negative: nothing is read", .file = WithU32(quad, 2, 0x80000000u),
         .read = 0, .points = 0},
        {.what = "main and editor lengths past the end of the file read to its end",
         .file = WithU32(WithU32(quad, 2, 0x7FFFFFFF), 18, 0x7FFFFFFF), .points = 4, .names = {"Box01", "Box01"}},
        // The sniffer wants an editor section at offset 16, so a keyframer before the model's editor
        // section follows a first, empty one.
        {.what = "keyframer sections are passed over",
         .file = File(Editor("") + keyframer + Editor(Quad("Box01")) + keyframer), .points = 4,
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
        {.what = "other chunks among the face list's chunks are passed over",
         .file = File(Editor(Quad("Box01", Chunk(0x4160, U32(7)) + Group("Red", {1}) + Chunk(0x4170, U16(1)) +
                                               Smoothing({1, 0})))),
         .names = {"Box01", "Box01 Red"}, .smooth = {1, 0}},
        // In file order: the smoothing chunk still sees face 0 of "Order" as the object's own.
        {.what = "non-zero smoothing masks make their faces' surfaces smooth",
         .file = File(Editor(Material(MaterialName("Red")) + Quad("Flat", Smoothing({0, 0})) +
                             Object("Part", PointList(kQuad) + FaceList(three, Group("Red", {1}) +
                                                                                   Smoothing({0, 5, 0}))) +
                             Object("After", PointList(kQuad) + FaceList(kQuadFaces) + Smoothing({1, 0})) +
                             Quad("Order", Smoothing({1, 0}) + Group("Red", {0})))),
         .names = {"Flat", "Flat", "Part", "Part Red", "Part", "After", "After", "Order Red", "Order"},
         .smooth = {0, 0, 0, 1, 0, 1, 1, 0, 1}},
        {.what = "a material group is read by its count, and the next chunk follows its last face number",
         .file = File(Editor(Quad("Box01", longGroup))), .names = {"Box01 Red", "Box01"}, .smooth = {1, 0}},
        // Careless lengths and counts move the walk as they would move a file's position.
        {.what = "a mesh running past its object is read to its own end",
         .file = File(Editor(WithU32(Quad("Cut"), 2, 6 + 4 + 6) + Quad("Next"))), .points = 8,
         .names = {"Cut", "Cut", "Next", "Next"}, .refs = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}}},
        // The main length L bounds the top-level walk alone: an editor chunk that starts before L (p = 16)
        // is read to its own length (80); p = 96 >= L ends the walk before the second editor.
        {.what = "the main length bounds only the top-level walk", .file = WithU32(pins, 2, 17),
         .positions = {{1, 3, 2}, {4, 6, 5}}},
        {.what = "the main length bounds only the top-level walk, 30", .file = WithU32(pins, 2, 30),
         .positions = {{1, 3, 2}, {4, 6, 5}}},
        // K = 16: the child (0, 10) brings q to 12; its four bytes and the second editor's id then make the
        // header (0xB010, 0x3D3D0006), whose skip passes the end of the file: the walk ends there.
        {.what = "a keyframer child of id 0 is its header alone",
         .file = File(Editor(Quad("Box")) + Chunk(0xB000, ChunkOfLength(0, 10, U16(0xB010) + U16(6))) +
                      Editor(Quad("Lost"))),
         .points = 4, .names = {"Box", "Box"}},
        // Then p = 44 < 60: the next header is 02 00 07 00 00 40, the last face bytes and the id of
        // "Next": id 2 of length 0x40000007, whose skip passes the end of the file. No face is read.
        {.what = "a point list is read by its count and the mesh's walk goes on from where the points end",
         .file = File(Editor(Object("Tri", fourPoints + FaceList({{0, 1, 2}})) + Quad("Next"))),
         .positions = {{1, 3, 2}, {4, 6, 5}, {7, 9, 8}, fourth}},
        {.what = "a point list is read by its count, not its length",
         .file = File(Editor(Object("Box01", WithU32(PointList(kQuad), 2, 6) + FaceList(kQuadFaces)))), .points = 4,
         .names = {"Box01", "Box01"}},
        {.what = "an editor of length 0 has no children: the walk goes on after its header",
         .file = File(ChunkOfLength(0x3D3D, 0, "") + Editor(Quad("Next"))), .points = 4, .names = {"Next", "Next"}},
        // Our choices where the walk cannot be followed: lengths below 6, as the signed counters see them.
        {.what = "a chunk length below six ends the walk",
         .file = File(Editor(Quad("Kept") + ChunkOfLength(0x4000, 3, Name("X")) + Quad("Lost")) +
                      Editor(Quad("After"))),
         .points = 4, .names = {"Kept", "Kept"}},
        {.what = "a chunk length of 2^31 ends the walk",
         .file = File(Editor(Quad("Kept") + WithU32(Quad("Lost"), 2, 0x80000000u) + Quad("After"))), .points = 4,
         .names = {"Kept", "Kept"}},
        {.what = "a mesh chunk of length 5 ends the walk before the faces",
         .file = File(Editor(Object("Box01", PointList(kQuad) + ChunkOfLength(0x4160, 5, "") + FaceList(kQuadFaces)))),
         .points = 4},
        {.what = "face numbers beyond the face list are ignored",
         .file = File(Editor(Quad("Box01", Group("Red", {2, 1, 65535, 40000})))), .names = {"Box01", "Box01 Red"}},
        // The end of the file: a read that comes up short ends the walk, keeping what came before.
        {.what = "a point count past the end of the file reads the points there",
         .file = File(Editor(Object("Box01", Chunk(0x4110, U16(100) + PointRecords(kQuad))))), .points = 4},
        {.what = "a group the file ends in leaves the faces read before it",
         .file = cutGroup.substr(0, cutGroup.size() - 2), .points = 4, .names = {"Box01 Red", "Box01"}},
        {.what = "a group name the file ends in names no surface",
         .file = File(Editor(Quad("Box01", Chunk(0x4130, "Blue")))), .names = {"Box01", "Box01"}},
        {.what = "a file cut inside an object name", .file = cutName.substr(0, cutName.size() - 6), .points = 4,
         .names = {"Box01", "Box01"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Read(c.file), c.read);
        EXPECT_TRUE(c.points < 0 || g_Scene.PointCount == c.points) << g_Scene.PointCount;
        if (c.read != 1) continue;
        EXPECT_EQ(FaceSurfaceNames(), c.names);
        std::vector<int> smooth;
        for (const unit::Element& f : unit::ScenePolygons()) smooth.push_back(g_Scene.SurfaceSmooth[f.surface - 1]);
        EXPECT_TRUE(c.refs.empty() || unit::RefsOf(unit::ScenePolygons()) == c.refs);
        EXPECT_TRUE(c.smooth.empty() || smooth == c.smooth);
        EXPECT_TRUE(c.surfaces < 0 || g_Scene.SurfaceCount == c.surfaces) << g_Scene.SurfaceCount;
        EXPECT_TRUE(c.positions.empty() || unit::ScenePoints() == c.positions);
    }
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
    const int32_t group = int32_t(faces[0].surface) - 1;
    // The shininess strength is not part of a group's look.
    EXPECT_EQ(std::tuple(Colour(group), g_Scene.SurfaceShininess[group], g_Scene.SurfaceTransparency[group],
                         g_Scene.SurfaceSmooth[group], g_Scene.SurfaceColourLevel[group],
                         g_Scene.SurfaceShininessStrength[group]),
              std::tuple(std::vector<uint8_t>{255, 0, 0}, 127, 127, 1, 255, 0));
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

// The reader's parts on single chunks: material attributes, names the file ends in.
TEST_F(Read3DSTest, MaterialAttributesFollowTheirName) {
    for (uint16_t value = 0; value <= 4; ++value) {
        const std::string name = "Shade" + std::to_string(value);
        EXPECT_EQ(OnChunk(Material(MaterialName(name) + Shading(value)), Read3DSMaterial), 1);
        EXPECT_EQ(g_Scene.SurfaceSmooth[SlotNamed(name)], value >= 2 ? 1 : 0) << "shading above one means smooth";
    }
    // Attributes before the material name are read and dropped.
    const std::string early =
        Material(Diffuse(1, 2, 3) + Shading(3) + IntPercent(0xA050, 50) + MaterialName("Red") + IntPercent(0xA040, 50));
    EXPECT_EQ(OnChunk(early, Read3DSMaterial), 1);
    const int32_t red = SlotNamed("Red");
    EXPECT_EQ(std::tuple(Colour(red), g_Scene.SurfaceSmooth[red], g_Scene.SurfaceTransparency[red],
                         g_Scene.SurfaceShininess[red]),
              std::tuple(std::vector<uint8_t>{200, 200, 200}, 0, 0, 127));
    // A name that meets the end of the file without its NUL ends there.
    EXPECT_EQ(OnChunk(Chunk(0x4000, "Box01"), Read3DSNamedObject), 1);
    EXPECT_EQ(OnChunk(Material(Chunk(0xA000, "Blue")), Read3DSMaterial), 1);
    EXPECT_TRUE(SlotNamed("Box01") >= 0 && SlotNamed("Blue") >= 0);
    EXPECT_EQ(g_Scene.SurfaceSlotCount, 5 + 1 + 2);
}

TEST_F(Read3DSTest, DiffuseColourIsTheLast24BitSubChunk) {
    const auto colourOfSlot5 = [](int32_t length, TdsFile& file) { return Read3DSColour(length, file, 5); };
    // The last 24-bit colour is cut by the end of the file: it is not kept.
    const std::string mixed = Chunk(0xA020, Colour24(1, 2, 3) + Chunk(0x0012, "\x9\x9\x9") +
                                                Chunk(0x0010, F32(1) + F32(1) + F32(1)) + Chunk(0x0011, "\x4\x5"));
    EXPECT_EQ(OnChunk(mixed, colourOfSlot5), 1);
    EXPECT_EQ(Colour(5), (std::vector<uint8_t>{1, 2, 3}));
    OnChunk(Chunk(0xA020, Colour24(4, 5, 6) + Colour24(7, 8, 9)), colourOfSlot5);
    EXPECT_EQ(Colour(5), (std::vector<uint8_t>{7, 8, 9}));
}

// Integer percentages scale by 2.55 in double precision, floats by 255 in
// single precision, truncated and kept as 16 bits as the format computes
// them; NaN and products past the i32 range are the reader's choice.
TEST_F(Read3DSTest, PercentagesFollowTheFormatsArithmetic) {
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    // Integer percentages, float ones, then chunks of several or cut short.
    const std::pair<std::string, uint16_t> cases[] = {
        {IntPercent(0xA040, 50), 127}, {IntPercent(0xA040, 100), 254}, {IntPercent(0xA040, 0), 0},
        {IntPercent(0xA040, 101), 257}, {IntPercent(0xA040, 25700), 65534},  // 65534.99...
        {IntPercent(0xA040, 25701), 1},                                      // 65537.55 wraps
        {IntPercent(0xA040, 65535), 36042},                                  // 167114 - 2 x 65536
        {FloatPercent(0xA040, 1.0f), 255}, {FloatPercent(0xA040, 0.5f), 127}, {FloatPercent(0xA040, 2.0f), 510},
        {FloatPercent(0xA040, -0.5f), 65409},  // -127
        {FloatPercent(0xA040, 1e30f), 65535}, {FloatPercent(0xA040, kInfinity), 65535},
        {FloatPercent(0xA040, -1e30f), 0}, {FloatPercent(0xA040, -kInfinity), 0},
        {FloatPercent(0xA040, std::numeric_limits<float>::quiet_NaN()), 0},
        {Chunk(0xA040, Chunk(0x0030, U16(50)) + Chunk(0x0031, F32(1.0f))), 255},
        {Chunk(0xA040, Chunk(0x0030, U16(50)) + Chunk(0x0030, "\x9")), 127},  // cut by the end of the file
        {Chunk(0xA040, ""), 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(OnChunk(cases[i].first, Read3DSPercentage), cases[i].second) << i;
    }
}

}  // namespace
