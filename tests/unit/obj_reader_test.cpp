// The OBJ reader on small files written to a temporary folder: sniffing and
// line ends, the block loader, continuation lines, group picks and surface
// names, every element kind, texture references, failures, hostile input and
// running out of module memory at every allocation.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "formats/obj/obj.h"
#include "formats/obj/obj_reader.h"
#include "unit/unit_support.h"

namespace {

namespace fs = std::filesystem;
using unit::Point;
using unit::Refs;

using unit::RefsOf;
std::vector<Refs> Polygons() { return RefsOf(unit::ScenePolygons()); }
Refs PolygonSurfaces() {
    Refs surfaces;
    for (const unit::Element& e : unit::ScenePolygons()) surfaces.push_back(e.surface);
    return surfaces;
}

class ObjReaderTest : public unit::SceneFileTest {
protected:
    int32_t Import(const fs::path& path) { return unit::LoadLikeTheDriver(path, kFormatOBJ, ObjSniff, ObjRead).read; }
    int32_t Read(const std::string& text) { return Import(Write("model.obj", text)); }
};

const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";

// ---- Sniffing and line ends ----------------------------------------------------------

int32_t Sniff(const std::string& head) {
    return ObjSniff(static_cast<int32_t>(head.size()), reinterpret_cast<const uint8_t*>(head.data()));
}

TEST(ObjSniffTest, RecognisesVertexLinesAndRecordsTheLineEnd) {
    std::string thirtyComments;
    for (int i = 0; i < 30; ++i) thirtyComments += "#\n";
    // The head, and the line end noted when it is OBJ.
    constexpr int32_t kNotObj = -1, kKept = -2;
    const std::pair<std::string, int32_t> cases[] = {
        {"v 1 2 3\nv 4 5 6\nf 1 2 3\n", kLineEndLF}, {"v 1 2 3\r\nv 4 5 6\r\n", kLineEndCRLF},
        {"v 1 2 3\rv 4 5 6\r", kLineEndCR}, {"# made by hand\nv -1 2 3\n", kLineEndLF},
        {"# c\nv .5 2 3\n#\n", kLineEndLF}, {"# c\nv  1 2 3\n#\n", kLineEndLF},
        {"v 1 2\n", kKept},  // 6 bytes: the first line start is inside the first byte, its end past the bytes looked at
        {std::string("v 1 2 3\n\0v 1 2 3\nv 1 2 3\n", 24), kNotObj},  // zero byte among the first 50
        {"vt 1 2\nvn 0 0 1\nf 1 2 3\n", kNotObj}, {"v\t1 2 3\nv\t4 5 6\n", kNotObj},
        {"V 1 2 3\n v 4 5 6\n", kNotObj}, {thirtyComments + "v 1 2 3\nv 1 2 3\n", kNotObj},
        {"# c\rv 1 2 3\rv 4 5 6\r", kNotObj},  // CR alone: only the first line is looked at
    };
    for (const auto& [head, lineEnd] : cases) {
        const int32_t before = lineEnd == kLineEndCR ? kLineEndLF : kLineEndCR;
        g_Scene.LineEndStyle = before;
        EXPECT_EQ(Sniff(head), lineEnd == kNotObj ? 0 : 1) << head;
        if (lineEnd != kNotObj) {
            EXPECT_EQ(g_Scene.LineEndStyle, lineEnd == kKept ? before : lineEnd) << head;
        }
    }
    // Heads of 5 bytes or fewer are never OBJ (the "count - 5" bounds would be negative) and keep the line end.
    g_Scene.LineEndStyle = kLineEndCRLF;
    const char head[8] = "v 1\n\n\n";
    for (int32_t count = 0; count <= 5; ++count) EXPECT_EQ(ObjSniff(count, reinterpret_cast<const uint8_t*>(head)), 0);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCRLF);
}

TEST_F(ObjReaderTest, EveryLineEndStyleGivesTheSameScene) {
    const std::string lines[] = {"v 1 2 3", "v 4 5 6", "v 7 8 9.5", "vt 0.5 0.25", "g body", "usemtl wood",
                                 "f 1/1 2/1 3/1", "l 1 2"};
    for (const char* end : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(int(end[0]) * 100 + int(end[1]));
        std::string text;
        for (const std::string& line : lines) text += line + end;
        ASSERT_EQ(Read(text), 1);
        EXPECT_EQ(unit::ScenePoints(), (std::vector<Point>{{1, 2, -3}, {4, 5, -6}, {7, 8, -9.5f}}));
        EXPECT_EQ(unit::StreamPoints(g_Scene.UVPointStream, g_Scene.UVPointCount), (std::vector<Point>{{0.5f, 0.25f, 0}}));
        EXPECT_EQ(Polygons(), (std::vector<Refs>{{0, 1, 2}}));
        EXPECT_EQ(g_Scene.LineCount, 1);
        // With CR LF the CR reads as a trailing space, which "usemtl" drops and
        // which makes the "g" line end in an empty group name.
        EXPECT_EQ(unit::SurfaceNames(), std::vector<std::string>{"wood body"});
    }
}

// ---- Block loader and joined lines ------------------------------------------------------

// The triangle's points, then comment lines up to `offset`.
std::string TriangleFilledTo(size_t offset) {
    std::string text = kTriangle;
    while (text.size() + 82 <= offset) text += "# " + std::string(77, 'c') + "\n";
    text += "#" + std::string(offset - text.size() - 2, 'c') + "\n";
    return text;
}

// A statement of `count` references to the triangle's points.
std::string Cycling(const char* keyword, int count) {
    std::string statement = keyword;
    for (int i = 0; i < count; ++i) statement += " " + std::to_string(1 + i % 3);
    return statement;
}

// Each file has four points and one polygon, the fourth point and the polygon's
// corner count given; lines across a piece boundary need a second text block.
TEST_F(ObjReaderTest, TextAcrossPieceBoundaries) {
    struct Case {
        const char* what;
        std::string text;
        Point fourth;
        size_t corners;
        int32_t lastBlock;
    };
    const Case cases[] = {
        {"a long line across the boundary is continued in the next block",
         TriangleFilledTo(kTextPieceBytes - 100) + Cycling("f", 300) + "\nv 5 5 5\n", {5, 5, -5}, 300, 1},
        {"a short line across the boundary stays whole",
         TriangleFilledTo(kTextPieceBytes - 5) + "v 1.25 2.5 3.75\nf 1 2 4\n", {1.25f, 2.5f, -3.75f}, 3, 1},
        // The block keeps room for 2045 bytes past its piece: the rest of a run without a space is
        // dropped, up to its line end or (here) its next space.
        {"a spaceless run past the boundary is cut",
         TriangleFilledTo(kTextPieceBytes - 10) + "#" + std::string(5000, 'x') + " more\nv 7 8 9\nf 1 2 3\n",
         {7, 8, -9}, 3, 1},
        {"a file ending in a space", kTriangle + "f 1 2 3\nv 4 4 4 ", {4, 4, -4}, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Read(c.text), 1);
        ASSERT_EQ(std::tuple(g_Scene.TextBlockLast, g_Scene.PointCount, g_Scene.PolygonCount),
                  std::tuple(c.lastBlock, 4, 1));
        EXPECT_EQ(std::tuple(unit::ScenePoint(3), Polygons()[0].size()), std::tuple(c.fourth, c.corners));
    }
}

// The second pass steps over blocks that hold only points, and over a block's leading points,
// but not over a point statement that joins the lines after it: the "f 1 2 3" it swallows is
// no face. Lines of 8 bytes fill each block exactly; the last face has no LF and so reads as empty.
TEST_F(ObjReaderTest, BlocksOfPointsAreSteppedOverUnlessALineJoinsTheNext) {
    std::string blocksOfPoints;
    for (int32_t i = 0; i < 2 * kTextPieceBytes / 8; ++i) blocksOfPoints += "v 1 1 1\n";
    const int32_t points = 2 * kTextPieceBytes / 8;
    ASSERT_EQ(Read(blocksOfPoints + "v 1 2 3 \\\n2 \\\nf 1 2 3\nv 4 5 6\nf 3 2 1\nf 1 2 3"), 1);
    EXPECT_EQ(std::tuple(g_Scene.TextBlockLast, g_Scene.PointCount), std::tuple(2, points + 2));
    EXPECT_EQ(Polygons(), (std::vector<Refs>{{2, 1, 0}}));
    ASSERT_EQ(Read(blocksOfPoints + "v 1 2 3\n"), 1);
    EXPECT_EQ(std::tuple(g_Scene.TextBlockLast, g_Scene.PointCount, g_Scene.PolygonCount), std::tuple(2, points + 1, 0));
}

// A backslash joins the next line when it does not start a statement (only the first joined line
// must not start with a letter), and reads as a space otherwise; the last line of the text ends the
// joining even when continued. Over-long lines are cut to the line buffer.
TEST_F(ObjReaderTest, JoinedAndOverlongLines) {
    const std::string padding(kObjLineBufferBytes, ' ');
    const std::pair<std::string, std::vector<Refs>> cases[] = {
        {"f 1 2 \\\n3 4\n", {{0, 1, 2, 3}}},
        {"f 1 2 3\\\nf 2 3 4\n", {{0, 1, 2}, {1, 2, 3}}},
        {"f 1 2 3\\\na 4\nf 2 3 4\\\nz 1\n", {{0, 1, 2}, {1, 2, 3}}},  // "a" and "z" start statements too
        {"f 1 \\\n2 \\\np 3\nf 3 2 \\\n1 \\\n", {{0, 1, 2}, {2, 1, 0}}},  // "f 1  2  p 3"
        {"f 1 2 3" + padding + "4\n", {{0, 1, 2}}},
        {"f 1 2 \\\n3" + padding + "4 \\\n1 \\\np 1\n", {{0, 1, 2}}},  // still every continued line is taken
    };
    for (const auto& [statements, polygons] : cases) {
        SCOPED_TRACE(statements.substr(0, 40));
        ASSERT_EQ(Read(kTriangle + "v 1 1 1\n" + statements), 1);
        EXPECT_EQ(Polygons(), polygons);
        EXPECT_EQ(g_Scene.DotCount, 0);
    }
    EXPECT_EQ(Read(kTriangle + "g a \\\nB\nf 1 2 3\n"), 0);  // a "g" line continued onto the next
}

// ---- Groups and surfaces ---------------------------------------------------------------

// A surface is named by the material and the group pick, the rarest name on the last "g" line.
TEST_F(ObjReaderTest, GroupsAndMaterialsNameTheSurfaces) {
    std::string manyA;
    for (int i = 0; i < 65535; ++i) manyA += "g a\n";
    struct Case {
        const char* what;
        std::string statements;
        std::vector<std::string> names;
        Refs surfaces;  // of each polygon
    };
    const Case cases[] = {
        {"the group pick is the rarest name on the line",
         "g shared a\nf 1 2 3\ng shared b\nf 1 2 3\ng shared rare\nf 1 2 3\ng c d\nf 1 2 3\ng d c\nf 1 2 3\n",
         {"default a", "default b", "default rare", "default c", "default d"}, {1, 2, 3, 4, 5}},
        // Before any "g" or "usemtl" an element carries surface 1 without a name.
        {"names join material and group pick",
         "f 1 2 3\nusemtl wood   \nf 1 2 3\ng body\nusemtl wood\nf 1 2 3\nusemtl st\xE9" "el\nf 1 2 3\n"
         "g body\nusemtl wood\nf 1 2 3\nusemtl  1\nf 1 2 3\n",
         {"wood", "wood body", "st el body", " 1 body"}, {1, 1, 2, 3, 2, 4}},
        {"a \"v\" or \"g\" inside a line starts no statement", "f 1 2 3\n# move the group\ng left\nf 1 2 3\n",
         {"default left"}, {1, 1}},
        {"a group name's use count is a u16: its 65536th sighting brings it back to 0, the rarest",
         manyA + "g b a\nf 1 2 3\n", {"default a"}, {1}},
        {"long group and material names are cut",
         "g " + std::string(300, 'g') + "\nusemtl x\nf 1 2 3\nusemtl " + std::string(300, 'm') + "\nf 1 2 3\n",
         {"x " + std::string(30, 'g'), std::string(127, 'm')}, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Read(kTriangle + c.statements), 1);
        EXPECT_EQ(unit::SurfaceNames(), c.names);
        EXPECT_EQ(PolygonSurfaces(), c.surfaces);
    }
}

std::string GroupName(int i) { return "n" + std::to_string(i); }

// 2046 names and 100000 "g" lines, each with an element: every lookup is a binary
// search, and afterwards each name's use count is exact. One more name fails the read.
TEST_F(ObjReaderTest, AtMost2046GroupNamesEachCountedExactly) {
    std::string names;
    for (int i = 0; i < 2046; ++i) names += "g " + GroupName(i) + "\n";
    std::string lines;
    std::mt19937 random(7);
    std::vector<int> seen(2046, 1);
    for (int line = 0; line < 100000; ++line) {
        const int a = static_cast<int>(random() % 2046);
        const int b = static_cast<int>(random() % 2046);
        lines += "g " + GroupName(a) + " " + GroupName(b) + "\nf 1 2 3\n";
        ++seen[a];
        ++seen[b];
    }
    ASSERT_EQ(Read(kTriangle + names + lines), 1);
    // "n0" went into slot 0.
    EXPECT_EQ(std::tuple(g_Scene.SurfaceSlotCount, g_Scene.PolygonCount, g_Scene.GroupUseCount[0],
                         g_Scene.GroupUseCount[2045]),
              std::tuple(2046, 100000, seen[0], seen[2045]));
    EXPECT_EQ(Read(kTriangle + names + "g one_more\nf 1 2 3\n"), 0);
}

TEST_F(ObjReaderTest, AtMost2048Surfaces) {
    std::string text = kTriangle;
    for (int i = 0; i < 2048; ++i) text += "usemtl m" + std::to_string(i) + "\nf 1 2 3\n";
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(std::tuple(g_Scene.SurfaceCount, PolygonSurfaces().back()), std::tuple(2048, 2048u));
    EXPECT_EQ(Read(text + "usemtl m2048\nf 1 2 3\n"), 0);
}

TEST(ObjNameIndexTest, FindsWhatALinearSearchFinds) {
    std::vector<char> slots(kSurfaceSlots * kSurfaceNameBytes);
    std::vector<uint16_t> order(kSurfaceSlots);
    NameIndex index{slots.data(), kSurfaceNameBytes, order.data()};
    int32_t count = 0;
    std::mt19937 random(11);
    for (int i = 0; i < 20000; ++i) {
        std::string name(random() % 4, 'a');
        for (char& c : name) c = static_cast<char>('a' + random() % 3);
        int32_t linear = -1;
        for (int32_t slot = 0; slot < count && linear < 0; ++slot)
            if (NamesEqual(slots.data() + slot * kSurfaceNameBytes, name.c_str())) linear = slot;
        ASSERT_EQ(NameIndexFind(index, count, name.c_str()), linear) << name;
        bool added = false;
        const int32_t slot = NameIndexFindOrAdd(index, count, 30, name.c_str(), &added);
        ASSERT_EQ(added, linear < 0 && count < 30) << name;
        ASSERT_EQ(slot, added ? count : linear) << name;
        count += added;
    }
    EXPECT_EQ(count, 30);  // 40 names of up to 3 letters from a, b, c; the limit holds 30
}

// ---- Statements -------------------------------------------------------------------------

// What small files read to: the result and, when read, the counts of points and texture points and
// every element's point references (texture references where given).
TEST_F(ObjReaderTest, StatementsGiveTheirElements) {
    std::string tenPoints;
    for (int i = 0; i < 10; ++i) tenPoints += "v " + std::to_string(i) + " 0 0\n";
    struct Case {
        const char* what;
        std::string text;
        int32_t read = 1;
        int32_t points = 3;
        int32_t uvPoints = 0;
        std::vector<Refs> polygons = {}, uvs = {}, lines = {}, dots = {};
    };
    std::string tenUVs;
    for (int i = 0; i < 10; ++i) tenUVs += "vt 0." + std::to_string(i) + " 0.5\n";
    const Case cases[] = {
        {.what = "texture references absolute, none, relative, 0 or not a number; \"fo\" and \"bzp\" are faces",
         .text = kTriangle + tenUVs + "f 1/1 2/2 3/3\nf 1//5 2//6 3//7\nf 1/-1 2/-2 3/-3\nf   1/1/1    2/0   3/x  \n"
                 "fo 3 2 1\nbzp 1 2 3 1\n",
         .uvPoints = 10,
         .polygons = {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, {2, 1, 0}, {0, 1, 2, 0}},
         .uvs = {{0, 1, 2}, Refs(3, kNoTexture), {9, 8, 7}, {0, kNoTexture, kNoTexture}, Refs(3, kNoTexture),
                 Refs(4, kNoTexture)}},
        {.what = "relative texture references count the texture points read so far",
         .text = kTriangle + "vt 0 0\nvt 1 0\nf 1/-1 2/-2 3/-1\nvt 0 1\nf 1/-1 2/-3 3/-2\n", .uvPoints = 3,
         .polygons = {{0, 1, 2}, {0, 1, 2}}, .uvs = {{1, 0, 1}, {2, 0, 1}}},
        {.what = "a texture reference counting back to 0 is none", .text = kTriangle + "vt 0 0\nf 1/-2 2/1 3/1\n",
         .uvPoints = 1, .polygons = {{0, 1, 2}}, .uvs = {{kNoTexture, 0, 0}}},
        {.what = "faces may refer to later points", .text = "v 0 0 0\nv 1 0 0\nf 1 2 3\nv 0 1 0",
         .polygons = {{0, 1, 2}}},
        {.what = "the last line is read for points only: a face there copies as empty",
         .text = kTriangle + "f 1 2 3\nf 3 2 1", .polygons = {{0, 1, 2}}},
        {.what = "a texture point on the last line", .text = kTriangle + "vt 1 1\nf 1/1 2/1 3/1\nvt 2 2",
         .uvPoints = 2, .polygons = {{0, 1, 2}}},
        {.what = "short faces become lines and dots", .text = kTriangle + "f 1 2\nf 3\n", .lines = {{0, 1}},
         .dots = {{2}}},
        {.what = "a line statement is a chain of lines", .text = tenPoints + "l 1 2 3 4\n", .points = 10,
         .lines = {{0, 1}, {1, 2}, {2, 3}}},
        // Two point-like statements in a row make one line; one followed by another statement is a line
        // from the point to itself.
        {.what = "point-like line statements", .text = tenPoints + "l 5 5\nl 9 9\nl 5 5\n# end\nl 2/1 3/4\n",
         .points = 10, .lines = {{4, 8}, {4, 4}, {1, 2}}},
        {.what = "a pending point starts the next two-point line; \"l\" with one reference is ignored",
         .text = tenPoints + "l 5 5\nl 1\nl 2 3\n", .points = 10, .lines = {{4, 2}}},
        {.what = "a point statement adds one dot a reference", .text = kTriangle + "usemtl m\np 1 2  3\n",
         .dots = {{0}, {1}, {2}}},
        {.what = "ignored lines",
         .text = kTriangle + "\n\n v 9 9 9\n f 1 2 3\n# f 1 2 3\nvn 0 0 1\ns 1\nF 1 2 3\nf 1 2 3\n",
         .polygons = {{0, 1, 2}}},
        {.what = "a tab reads as a space", .text = kTriangle + "f\t1\t2\t3\n", .polygons = {{0, 1, 2}}},
        {.what = "no \"v\"", .text = "vt 0 0\nf 1/-1 1/-1 1/-2\n", .read = 0},
        {.what = "no index token", .text = kTriangle + "f -3 -2 -1\n", .read = 0},
        {.what = "point 0", .text = kTriangle + "f 0 1 2\n", .read = 0},
        {.what = "beyond the points", .text = kTriangle + "f 1 2 4\n", .read = 0},
        {.what = "beyond the texture points", .text = kTriangle + "vt 0 0\nf 1/1 2/1 3/2\n", .read = 0},
        {.what = "a line beyond the points", .text = kTriangle + "l 1 4\n", .read = 0},
        {.what = "a dot beyond the points", .text = kTriangle + "p 7\n", .read = 0},
        {.what = "empty file", .text = "", .read = 0},
        // 4294967297 - 1 would wrap to point 0, 4294967296 - 1 to "no texture".
        {.what = "a huge point reference", .text = kTriangle + "f 4294967297 2 3\n", .read = 0},
        {.what = "a huge texture reference", .text = kTriangle + "vt 0 0\nf 1/4294967296 2/1 3/1\n", .read = 0},
        {.what = "a huge relative texture reference", .text = kTriangle + "vt 0 0\nf 1/-4294967296 2/1 3/1\n",
         .read = 0},
        {.what = "before the first texture point", .text = kTriangle + "vt 0 0\nf 1/-3 2/1 3/1\n", .read = 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Read(c.text), c.read);
        if (c.read != 1) continue;
        EXPECT_EQ(g_Scene.PointCount, c.points);
        EXPECT_EQ(g_Scene.UVPointCount, c.uvPoints);
        EXPECT_EQ(Polygons(), c.polygons);
        EXPECT_TRUE(c.uvs.empty() || unit::ScenePolygonUVs() == c.uvs);
        EXPECT_EQ(RefsOf(unit::SceneLines()), c.lines);
        EXPECT_EQ(RefsOf(unit::SceneDots()), c.dots);
    }
    EXPECT_EQ(ObjRead((dir_ / "missing.obj").string().c_str()), 0);
}

TEST_F(ObjReaderTest, FaceWithMoreThan4000CornersIsSkippedAndCounted) {
    const std::string big = Cycling("f", 4001);
    ASSERT_EQ(Read(kTriangle + big + "\n" + Cycling("f", 4000) + "\nl" + big.substr(1) + "\nf 1 2 3\n"), 1);
    ASSERT_EQ(std::tuple(g_Scene.SkippedFaceCount, g_Scene.PolygonCount, g_Scene.LineCount), std::tuple(2, 2, 0));
    EXPECT_EQ(Polygons()[0].size(), 4000u);
}

// ---- Failures ---------------------------------------------------------------------------

// 12000 dots or lines need a second chunk; its allocation fails (the third
// allocation of the read: text block, reader storage, chunk).
TEST_F(ObjReaderTest, ElementsTheSceneRefusesEndTheRead) {
    for (const char* keyword : {"p", "l"}) {
        SCOPED_TRACE(keyword);
        const std::string statement = Cycling(keyword, 4000) + "\n";
        const fs::path path = Write("model.obj", kTriangle + statement + statement + statement);
        ASSERT_EQ(unit::FreshScene(), 1);
        g_Scene.DetectedFormat = kFormatOBJ;
        ModuleHeapFailAt(3);
        EXPECT_EQ(ObjRead(path.string().c_str()), 0);
        ModuleHeapFailAt(0);
        EXPECT_LT(g_Scene.DotCount + g_Scene.LineCount, 3 * 3999);
    }
}

TEST_F(ObjReaderTest, ModuleHeapFailureAtEveryAllocation) {
    // Three text blocks, so that a failing later block is among the cases.
    const fs::path path = Write("model.obj", TriangleFilledTo(2 * kTextPieceBytes + 10) +
                                                 "vt 0 0\ng a b\nusemtl red\nf 1/1 2/1 3/1\nl 1 2\np 3\n");
    const int64_t before = ModuleHeapAllocCount();
    ASSERT_EQ(Import(path), 1);
    const int64_t total = ModuleHeapAllocCount() - before;
    const int64_t compaction = ModuleHeapAllocCount();
    SceneCompactSurfaces();
    const int64_t compactionAllocs = ModuleHeapAllocCount() - compaction;
    ASSERT_GT(total, compactionAllocs);

    for (int64_t n = 1; n <= total; ++n) {
        SceneFree();
        const int64_t live = ModuleHeapLiveBlocks();
        ModuleHeapFailAt(n);
        const int32_t result = Import(path);
        ModuleHeapFailAt(0);
        // Only the compaction's scratch may fail without failing the read.
        EXPECT_EQ(result == 1, n > total - compactionAllocs) << "allocation " << n;
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), live) << "allocation " << n;
    }
}

TEST_F(ObjReaderTest, FileNeedingMoreThan2048TextBlocksFails) {
    // Start the loader as if 2047 blocks were filled already: the second piece
    // of this file would need a 2049th block.
    const fs::path path = Write("model.obj", TriangleFilledTo(kTextPieceBytes + 10) + "f 1 2 3\n");
    const auto size = static_cast<uint32_t>(fs::file_size(path));
    SceneFree();
    SceneReset();
    g_Scene.DetectedFormat = kFormatOBJ;
    g_Scene.TextBlockLast = kMaxTextBlocks - 1;
    g_Scene.TextBlocks[kMaxTextBlocks - 1] = static_cast<uint8_t*>(ModuleAlloc(kTextBlockBytes));
    g_Scene.TextBlockCursor = g_Scene.TextBlocks[kMaxTextBlocks - 1];
    g_Scene.TextBlocksOwned = true;
    uint32_t loaded = 0;
    EXPECT_EQ(ObjLoadText(path.string().c_str(), size, &loaded), 0);
    EXPECT_EQ(g_Scene.TextBlockLast, kMaxTextBlocks - 1);
    EXPECT_LT(loaded, size);

    g_Scene.TextBlockLast = 0;  // the same file from block 0 loads into two blocks
    g_Scene.TextBlocks[0] = g_Scene.TextBlocks[kMaxTextBlocks - 1];
    g_Scene.TextBlocks[kMaxTextBlocks - 1] = nullptr;
    g_Scene.TextBlockCursor = g_Scene.TextBlocks[0];
    EXPECT_EQ(ObjLoadText(path.string().c_str(), size, &loaded), 1);
    EXPECT_EQ(std::tuple(g_Scene.TextBlockLast, loaded), std::tuple(1, size));
}

}  // namespace
