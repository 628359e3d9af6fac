// Files that other programs write carelessly, loaded through the host: each
// reads as the reader's walk over its bytes goes, worked by hand here down to
// the points, polygons and surfaces of the host object.
#include <bit>
#include <string>
#include <vector>

#include "host_support.h"

namespace {

using namespace host_support;
using namespace host_support::tds;

using Position = std::array<double, 3>;
using Positions = std::vector<Position>;
using Polygons = std::vector<std::vector<int32_t>>;
using Names = std::vector<std::string>;

using Loaded = ObjectShape;

class CarelessFilesTest : public ModuleTest {
protected:
    // What the load gave the host; all empty when the file was refused.
    Loaded LoadAs(const std::string& name, const std::string& bytes, const char* extension) {
        if (Load(Write(name, bytes), kLoadNewObject, extension) != 1) return {};
        const Loaded loaded = ShapeOfObject(*object_);
        DestroyLoaded();
        return loaded;
    }
};

const std::vector<Point> kTriangle = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
std::string Triangle(const std::string& name) { return Object(name, PointList(kTriangle) + FaceList({{0, 1, 2}})); }
// kTriangle in the host's axes (x, z, y); its face's corners come reversed.
const Positions kHostTriangle = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}};

// The main length L bounds the top-level walk alone: an editor chunk that
// starts before L is read to its own length E.
TEST_F(CarelessFilesTest, TheMainLengthBoundsOnlyTheTopLevelWalk) {
    // Two objects of 37 bytes: header 6, "Pin1" and its NUL 5, mesh header 6, point list 6 + 2 + 12.
    const std::string editor = Editor(Object("Pin1", PointList({{1, 2, 3}})) + Object("Pin2", PointList({{4, 5, 6}})));
    ASSERT_EQ(editor.size(), 80u);
    const std::string file = File(editor + Editor(Triangle("Tri")));
    // p = 16 < L: the editor (E = 80) reads both objects; p = 96 >= L ends the walk before the second editor.
    for (uint32_t mainLength : {17u, 30u}) {
        SCOPED_TRACE(mainLength);
        const Loaded loaded = LoadAs("pins.3ds", WithU32(file, 2, mainLength), "3ds");
        EXPECT_EQ(loaded.points, (Positions{{1, 3, 2}, {4, 6, 5}}));
        EXPECT_EQ(loaded.polygons, Polygons{});
    }
    // With the whole file's length the second editor is read too.
    const Loaded whole = LoadAs("pins.3ds", file, "3ds");
    EXPECT_EQ(whole.points, (Positions{{1, 3, 2}, {4, 6, 5}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}}));
    EXPECT_EQ(whole.polygons, (Polygons{{4, 3, 2}}));
    EXPECT_EQ(whole.surfaces, (Names{"Tri"}));
}

// A keyframer child whose id is 0 counts as its 6-byte header alone, so the
// next header is read from its content.
TEST_F(CarelessFilesTest, AKeyframerChildOfIdZeroIsItsHeaderAlone) {
    const std::string keyframer = Chunk(0xB000, ChunkOfLength(0x0000, 10, U16(0xB010) + U16(6)));
    ASSERT_EQ(keyframer.size(), 16u);
    // K = 16: the child (0, 10) brings q to 12; the four bytes and the second editor's id then make
    // the header (0xB010, 0x3D3D0006), whose skip passes the end of the file: the walk ends there.
    const Loaded loaded = LoadAs("keys.3ds", File(Editor(Triangle("Box")) + keyframer + Editor(Triangle("Lost"))), "3ds");
    EXPECT_EQ(loaded.points, kHostTriangle);
    EXPECT_EQ(loaded.polygons, (Polygons{{2, 1, 0}}));
    EXPECT_EQ(loaded.surfaces, (Names{"Box"}));
}

// A point list is read by its count whatever its length says; the mesh's walk
// goes on from where the points end, without a seek.
TEST_F(CarelessFilesTest, APointListIsReadByItsCountAndTheWalkGoesOnFromThere) {
    // Three points and a count of four, then the 16-byte face list
    // 20 41 10 00 00 00 | 01 00 | 00 00 01 00 02 00 07 00.
    const std::string points = Chunk(0x4110, U16(4) + PointRecords({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
    const std::string file = File(Editor(Object("Tri", points + FaceList({{0, 1, 2}})) + Triangle("Next")));
    // The fourth point is the face list's first 12 bytes read as x, y, z.
    const auto bits = [](uint32_t b) { return double(std::bit_cast<float>(b)); };
    const Position fourth = {bits(0x00104120), bits(0x00010000), bits(0x00010000)};
    // Then p = 44 < 60: the next header is 02 00 07 00 00 40, the last face bytes and the id of
    // "Next": id 2 of length 0x40000007, whose skip passes the end of the file. No face is read.
    const Loaded loaded = LoadAs("count.3ds", file, "3ds");
    EXPECT_EQ(loaded.points, (Positions{{1, 3, 2}, {4, 6, 5}, {7, 9, 8}, fourth}));
    EXPECT_EQ(loaded.polygons, Polygons{});
}

// A code line of blanks only, or a lone sign, reads as code 0: no digits give 0.
TEST_F(CarelessFilesTest, ADxfCodeLineWithoutDigitsReadsAsCodeZero) {
    const std::string text =
        "  0\nSECTION\n  2\nENTITIES\n   \nPOINT\n 10\n1\n 20\n2\n 30\n3\n-\nPOINT\n 10\n4\n 20\n5\n 30\n6\n"
        "+\nENDSEC\n  0\nEOF\n";
    const Loaded loaded = LoadAs("codes.dxf", text, "dxf");
    EXPECT_EQ(loaded.points, (Positions{{1, 3, 2}, {4, 6, 5}}));
    EXPECT_EQ(loaded.polygons, (Polygons{{0}, {1}}));
    EXPECT_EQ(loaded.surfaces, (Names{"default", "default"}));
}

// A group name's use count is a u16: its 65536th sighting brings it back to 0,
// which makes it the rarest name on the picking line.
TEST_F(CarelessFilesTest, AGroupUseCountWrapsAtSixteenBits) {
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 65535; ++i) text += "g a\n";
    text += "g b a\nf 1 2 3\n";
    // "a" is counted 65536 times (0), "b" once (1): the pick of "b a" is "a", on the surface
    // "default a", which the host makes the legal name "default_a".
    const Loaded loaded = LoadAs("groups.obj", text, "obj");
    EXPECT_EQ(loaded.polygons, (Polygons{{2, 1, 0}}));
    EXPECT_EQ(loaded.surfaces, (Names{"default_a"}));
}

}  // namespace
