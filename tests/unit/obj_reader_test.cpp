// The OBJ reader on small files written to a temporary folder: sniffing and
// line ends, the block loader, continuation lines, group picks and surface
// names, every element kind, texture references, failures, hostile input and
// running out of module memory at every allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/obj/obj.h"
#include "formats/obj/obj_reader.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

namespace {

namespace fs = std::filesystem;

struct Element {
    std::vector<uint32_t> points;
    std::vector<uint32_t> uvs;
    uint32_t surface = 0;
};

std::vector<std::array<float, 3>> Points(ChunkStream& stream, int32_t count) {
    std::vector<std::array<float, 3>> points;
    StreamWalker walker = WalkerBegin(stream);
    for (int32_t i = 0; i < count; ++i) {
        std::array<float, 3> p{};
        for (float& value : p) std::memcpy(&value, WalkerWord(walker), sizeof value);
        points.push_back(p);
        WalkerNextChunkIfDone(walker);
    }
    return points;
}

std::vector<Element> Polygons() {
    std::vector<Element> polygons;
    StreamWalker walker = WalkerBegin(g_Scene.PolygonStream);
    StreamWalker uvWalker = WalkerBegin(g_Scene.PolygonUVStream);
    std::vector<uint32_t*> words(kMaxCorners);
    for (int32_t i = 0; i < g_Scene.PolygonCount; ++i) {
        Element element;
        const uint32_t n = WalkerPolygon(walker, words.data(), &element.surface);
        for (uint32_t k = 0; k < n; ++k) element.points.push_back(*words[k]);
        const uint32_t uvCount = *WalkerWord(uvWalker);
        for (uint32_t k = 0; k < uvCount; ++k) {
            WalkerNextChunkIfDone(uvWalker);
            element.uvs.push_back(*WalkerWord(uvWalker));
        }
        polygons.push_back(element);
    }
    return polygons;
}

// Lines and dots: whole records of (n, n indices, surface).
std::vector<Element> Records(ChunkStream& stream, int32_t count) {
    std::vector<Element> records;
    StreamWalker walker = WalkerBegin(stream);
    for (int32_t i = 0; i < count; ++i) {
        Element element;
        const uint32_t n = *WalkerWord(walker);
        for (uint32_t k = 0; k < n; ++k) element.points.push_back(*WalkerWord(walker));
        element.surface = *WalkerWord(walker);
        records.push_back(element);
        WalkerNextChunkIfDone(walker);
    }
    return records;
}

std::vector<Element> Lines() { return Records(g_Scene.LineStream, g_Scene.LineCount); }
std::vector<Element> Dots() { return Records(g_Scene.DotStream, g_Scene.DotCount); }

std::vector<std::string> SurfaceNames() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < g_Scene.SurfaceCount; ++i) names.emplace_back(g_Scene.SurfaceNames[i]);
    return names;
}

using Refs = std::vector<uint32_t>;

class ObjReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("obj_reader_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        liveAtStart_ = ModuleHeapLiveBlocks();
    }

    void TearDown() override {
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), liveAtStart_);
        fs::remove_all(dir_);
    }

    std::string Write(const std::string& text) {
        const fs::path path = dir_ / "model.obj";
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    // The import as the driver runs it: reset, first chunks, sniff the head, read.
    int32_t Import(const std::string& path) {
        SceneFree();
        SceneReset();
        if (!SceneAllocateFirstChunks()) return -1;
        g_Scene.DetectedFormat = kFormatOBJ;
        std::vector<uint8_t> head(1000);
        std::ifstream file(path, std::ios::binary);
        file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
        ObjSniff(static_cast<int32_t>(file.gcount()), head.data());
        return ObjRead(path.c_str());
    }

    int32_t Read(const std::string& text) { return Import(Write(text)); }

    fs::path dir_;
    int64_t liveAtStart_ = 0;
};

std::string Triangle() { return "v 0 0 0\nv 1 0 0\nv 0 1 0\n"; }

// ---- Sniffing and line ends ----------------------------------------------------------

int32_t Sniff(const std::string& head) {
    return ObjSniff(static_cast<int32_t>(head.size()), reinterpret_cast<const uint8_t*>(head.data()));
}

TEST(ObjSniffTest, RecognisesVertexLinesAndRecordsTheLineEnd) {
    g_Scene.LineEndStyle = kLineEndCR;
    EXPECT_EQ(Sniff("v 1 2 3\nv 4 5 6\nf 1 2 3\n"), 1);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndLF);
    EXPECT_EQ(Sniff("v 1 2 3\r\nv 4 5 6\r\n"), 1);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCRLF);
    EXPECT_EQ(Sniff("v 1 2 3\rv 4 5 6\r"), 1);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCR);
    EXPECT_EQ(Sniff("# made by hand\nv -1 2 3\n"), 1);
    EXPECT_EQ(Sniff("# c\nv .5 2 3\n#\n"), 1);
    EXPECT_EQ(Sniff("# c\nv  1 2 3\n#\n"), 1);
}

TEST(ObjSniffTest, RefusesOtherText) {
    EXPECT_EQ(Sniff(std::string("v 1 2 3\n\0v 1 2 3\nv 1 2 3\n", 24)), 0);  // zero byte among the first 50
    EXPECT_EQ(Sniff("vt 1 2\nvn 0 0 1\nf 1 2 3\n"), 0);
    EXPECT_EQ(Sniff("v\t1 2 3\nv\t4 5 6\n"), 0);
    EXPECT_EQ(Sniff("V 1 2 3\n v 4 5 6\n"), 0);
    std::string thirtyComments;
    for (int i = 0; i < 30; ++i) thirtyComments += "#\n";
    EXPECT_EQ(Sniff(thirtyComments + "v 1 2 3\nv 1 2 3\n"), 0);
    EXPECT_EQ(Sniff("# c\rv 1 2 3\rv 4 5 6\r"), 0);  // CR alone: only the first line is looked at
}

TEST(ObjSniffTest, ShortHeadsAreNeverOBJAndKeepTheLineEnd) {
    // Heads of 5 bytes or fewer: the "count - 5" bounds would be negative.
    g_Scene.LineEndStyle = kLineEndCRLF;
    const char head[8] = "v 1\n\n\n";
    for (int32_t count = 0; count <= 5; ++count) EXPECT_EQ(ObjSniff(count, reinterpret_cast<const uint8_t*>(head)), 0);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCRLF);
    EXPECT_EQ(Sniff("v 1 2\n"), 1);  // 6 bytes: the first line start is inside the first byte
}

TEST_F(ObjReaderTest, EveryLineEndStyleGivesTheSameScene) {
    const std::string lines[] = {"v 1 2 3", "v 4 5 6", "v 7 8 9.5", "vt 0.5 0.25", "g body", "usemtl wood",
                                 "f 1/1 2/1 3/1", "l 1 2"};
    std::vector<std::vector<std::array<float, 3>>> points;
    for (const char* end : {"\n", "\r\n", "\r"}) {
        std::string text;
        for (const std::string& line : lines) text += line + end;
        ASSERT_EQ(Read(text), 1) << "line end " << static_cast<int>(end[0]) << static_cast<int>(end[1]);
        points.push_back(Points(g_Scene.PointStream, g_Scene.PointCount));
        EXPECT_EQ(g_Scene.UVPointCount, 1);
        ASSERT_EQ(Polygons().size(), 1u);
        EXPECT_EQ(Polygons()[0].points, (Refs{0, 1, 2}));
        EXPECT_EQ(g_Scene.LineCount, 1);
        // With CR LF the CR reads as a trailing space, which "usemtl" drops and
        // which makes the "g" line end in an empty group name.
        EXPECT_EQ(SurfaceNames(), std::vector<std::string>{"wood body"});
    }
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCR);
    EXPECT_EQ(points[0], points[1]);
    EXPECT_EQ(points[0], points[2]);
    EXPECT_EQ(points[0][2], (std::array<float, 3>{7, 8, -9.5f}));
}

// ---- Block loader ----------------------------------------------------------------------

// The triangle's points, then comment lines up to `offset`.
std::string TriangleFilledTo(size_t offset) {
    std::string text = Triangle();
    while (text.size() + 82 <= offset) text += "# " + std::string(77, 'c') + "\n";
    text += "#" + std::string(offset - text.size() - 2, 'c') + "\n";
    return text;
}

TEST_F(ObjReaderTest, LongLineAcrossAPieceBoundaryIsContinuedInTheNextBlock) {
    std::string face = "f";
    for (int i = 0; i < 300; ++i) face += " " + std::to_string(1 + i % 3);
    const std::string text = TriangleFilledTo(kTextPieceBytes - 100) + face + "\nv 5 5 5\n";
    ASSERT_EQ(text.find(face), static_cast<size_t>(kTextPieceBytes - 100));
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(g_Scene.TextBlockLast, 1);
    ASSERT_EQ(g_Scene.PolygonCount, 1);
    EXPECT_EQ(Polygons()[0].points.size(), 300u);
    EXPECT_EQ(g_Scene.PointCount, 4);
}

TEST_F(ObjReaderTest, ShortLineAcrossAPieceBoundaryStaysWhole) {
    const std::string text = TriangleFilledTo(kTextPieceBytes - 5) + "v 1.25 2.5 3.75\nf 1 2 4\n";
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(g_Scene.TextBlockLast, 1);
    ASSERT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(Points(g_Scene.PointStream, 4)[3], (std::array<float, 3>{1.25f, 2.5f, -3.75f}));
}

TEST_F(ObjReaderTest, SpacelessRunPastAPieceBoundaryIsCut) {
    // The block keeps room for 2045 bytes past its piece: the rest of a run
    // without a space is dropped, up to its line end or (here) its next space.
    const std::string run = "#" + std::string(5000, 'x');
    const std::string text = TriangleFilledTo(kTextPieceBytes - 10) + run + " more\nv 7 8 9\nf 1 2 3\n";
    ASSERT_EQ(Read(text), 1);
    ASSERT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(Points(g_Scene.PointStream, 4)[3], (std::array<float, 3>{7, 8, -9}));
    EXPECT_EQ(g_Scene.PolygonCount, 1);
}

TEST_F(ObjReaderTest, FileEndingInASpaceIsRead) {
    ASSERT_EQ(Read(Triangle() + "f 1 2 3\nv 4 4 4 "), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    EXPECT_EQ(g_Scene.PolygonCount, 1);
}

// ---- Continuation lines ----------------------------------------------------------------

TEST_F(ObjReaderTest, BackslashJoinsALineWithAFollowingNonStatementLine) {
    ASSERT_EQ(Read(Triangle() + "v 1 1 1\nf 1 2 \\\n3 4\n"), 1);
    ASSERT_EQ(Polygons().size(), 1u);
    EXPECT_EQ(Polygons()[0].points, (Refs{0, 1, 2, 3}));
}

TEST_F(ObjReaderTest, BackslashBeforeAStatementReadsAsASpace) {
    ASSERT_EQ(Read(Triangle() + "v 1 1 1\nf 1 2 3\\\nf 2 3 4\n"), 1);
    ASSERT_EQ(Polygons().size(), 2u);
    EXPECT_EQ(Polygons()[0].points, (Refs{0, 1, 2}));
    EXPECT_EQ(Polygons()[1].points, (Refs{1, 2, 3}));
}

TEST_F(ObjReaderTest, ContinuationGoesOnWhileTheTakenLinesEndInABackslash) {
    // Only the first joined line must not start with a letter; the last line
    // of the text ends the joining even when it is continued.
    ASSERT_EQ(Read(Triangle() + "f 1 \\\n2 \\\np 3\nf 3 2 \\\n1 \\\n"), 1);
    ASSERT_EQ(Polygons().size(), 2u);
    EXPECT_EQ(Polygons()[0].points, (Refs{0, 1, 2}));  // "f 1  2  p 3"
    EXPECT_EQ(Polygons()[1].points, (Refs{2, 1, 0}));
    EXPECT_EQ(g_Scene.DotCount, 0);
}

// ---- Groups and surfaces ---------------------------------------------------------------

TEST_F(ObjReaderTest, GroupPickIsTheRarestNameOnTheLine) {
    const std::string text = Triangle() +
                             "g shared a\nf 1 2 3\n"
                             "g shared b\nf 1 2 3\n"
                             "g shared rare\nf 1 2 3\n"
                             "g c d\nf 1 2 3\n"
                             "g d c\nf 1 2 3\n";
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(SurfaceNames(), (std::vector<std::string>{"default a", "default b", "default rare", "default c",
                                                        "default d"}));
    std::vector<uint32_t> surfaces;
    for (const Element& polygon : Polygons()) surfaces.push_back(polygon.surface);
    EXPECT_EQ(surfaces, (Refs{1, 2, 3, 4, 5}));
}

TEST_F(ObjReaderTest, SurfaceNamesJoinMaterialAndGroupPick) {
    const std::string text = Triangle() +
                             "f 1 2 3\n"
                             "usemtl wood   \nf 1 2 3\n"
                             "g body\nusemtl wood\nf 1 2 3\n"
                             "usemtl st\xE9" "el\nf 1 2 3\n"
                             "g body\nusemtl wood\nf 1 2 3\n"
                             "usemtl  1\nf 1 2 3\n";
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(SurfaceNames(), (std::vector<std::string>{"wood", "wood body", "st el body", " 1 body"}));
    std::vector<uint32_t> surfaces;
    for (const Element& polygon : Polygons()) surfaces.push_back(polygon.surface);
    // Before any "g" or "usemtl" an element carries surface 1 without a name.
    EXPECT_EQ(surfaces, (Refs{1, 1, 2, 3, 2, 4}));
}

TEST_F(ObjReaderTest, LongGroupAndMaterialNamesAreCut) {
    const std::string group(300, 'g');
    const std::string material(300, 'm');
    ASSERT_EQ(Read(Triangle() + "g " + group + "\nusemtl x\nf 1 2 3\nusemtl " + material + "\nf 1 2 3\n"), 1);
    EXPECT_EQ(SurfaceNames(), (std::vector<std::string>{"x " + std::string(30, 'g'), std::string(127, 'm')}));
}

TEST_F(ObjReaderTest, GroupLineContinuedOntoTheNextLineFailsTheRead) {
    EXPECT_EQ(Read(Triangle() + "g a \\\nB\nf 1 2 3\n"), 0);
}

TEST_F(ObjReaderTest, UseCountsSaturateInsteadOfWrapping) {
    // "a" is seen 65537 times, "b" twice: with wrapping counts "a" would look rarer.
    std::string text = Triangle();
    for (int i = 0; i < 65536; ++i) text += "g a\n";
    text += "g b\ng a b\nf 1 2 3\n";
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(SurfaceNames(), std::vector<std::string>{"default b"});
}

std::string GroupName(int i) { return "n" + std::to_string(i); }

TEST_F(ObjReaderTest, AtMost2046GroupNames) {
    std::string names;
    for (int i = 0; i < 2046; ++i) names += "g " + GroupName(i) + "\n";
    ASSERT_EQ(Read(Triangle() + names + "f 1 2 3\n"), 1);
    EXPECT_EQ(g_Scene.SurfaceSlotCount, 2046);
    EXPECT_EQ(Read(Triangle() + names + "g one_more\nf 1 2 3\n"), 0);
}

TEST_F(ObjReaderTest, AtMost2048Surfaces) {
    std::string text = Triangle();
    for (int i = 0; i < 2048; ++i) text += "usemtl m" + std::to_string(i) + "\nf 1 2 3\n";
    ASSERT_EQ(Read(text), 1);
    EXPECT_EQ(g_Scene.SurfaceCount, 2048);
    EXPECT_EQ(Polygons().back().surface, 2048u);
    EXPECT_EQ(Read(text + "usemtl m2048\nf 1 2 3\n"), 0);
}

TEST_F(ObjReaderTest, ManyGroupLinesOverAFullNameTableStayFast) {
    // 2046 names and 100000 "g" lines, each with an element: every lookup is a
    // binary search. Afterwards each name's use count is exact.
    std::string text = Triangle();
    for (int i = 0; i < 2046; ++i) text += "g " + GroupName(i) + "\n";
    std::mt19937 random(7);
    std::vector<int> seen(2046, 1);
    for (int line = 0; line < 100000; ++line) {
        const int a = static_cast<int>(random() % 2046);
        const int b = static_cast<int>(random() % 2046);
        text += "g " + GroupName(a) + " " + GroupName(b) + "\nf 1 2 3\n";
        ++seen[a];
        ++seen[b];
    }
    ASSERT_EQ(Read(text), 1);
    ASSERT_EQ(g_Scene.SurfaceSlotCount, 2046);
    EXPECT_EQ(g_Scene.PolygonCount, 100000);
    EXPECT_EQ(g_Scene.GroupUseCount[0], seen[0]);  // "n0" went into slot 0
    EXPECT_EQ(g_Scene.GroupUseCount[2045], seen[2045]);
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

// ---- Element kinds ------------------------------------------------------------------------

TEST_F(ObjReaderTest, FaceCornersAndTextureReferences) {
    std::string text = Triangle();
    for (int i = 0; i < 10; ++i) text += "vt 0." + std::to_string(i) + " 0.5\n";
    text += "f 1/1 2/2 3/3\n"
            "f 1//5 2//6 3//7\n"
            "f 1/-1 2/-2 3/-3\n"
            "f   1/1/1    2/0   3/x  \n"
            "fo 3 2 1\n"
            "bzp 1 2 3 1\n";
    ASSERT_EQ(Read(text), 1);
    const std::vector<Element> polygons = Polygons();
    ASSERT_EQ(polygons.size(), 6u);
    EXPECT_EQ(polygons[0].points, (Refs{0, 1, 2}));
    EXPECT_EQ(polygons[0].uvs, (Refs{0, 1, 2}));
    EXPECT_EQ(polygons[1].uvs, (Refs{kNoTexture, kNoTexture, kNoTexture}));
    EXPECT_EQ(polygons[2].uvs, (Refs{9, 8, 7}));
    EXPECT_EQ(polygons[3].points, (Refs{0, 1, 2}));
    EXPECT_EQ(polygons[3].uvs, (Refs{0, kNoTexture, kNoTexture}));
    EXPECT_EQ(polygons[4].points, (Refs{2, 1, 0}));
    EXPECT_EQ(polygons[5].points, (Refs{0, 1, 2, 0}));
    EXPECT_EQ(g_Scene.UVPointCount, 10);
    EXPECT_EQ(Points(g_Scene.UVPointStream, 10)[3], (std::array<float, 3>{0.3f, 0.5f, 0.0f}));
}

TEST_F(ObjReaderTest, RelativeTextureReferencesCountTheUVPointsReadSoFar) {
    ASSERT_EQ(Read(Triangle() + "vt 0 0\nvt 1 0\nf 1/-1 2/-2 3/-1\nvt 0 1\nf 1/-1 2/-3 3/-2\n"), 1);
    EXPECT_EQ(Polygons()[0].uvs, (Refs{1, 0, 1}));
    EXPECT_EQ(Polygons()[1].uvs, (Refs{2, 0, 1}));
}

TEST_F(ObjReaderTest, FacesMayReferToLaterPointsAndTheLastLineIsReadForPointsOnly) {
    ASSERT_EQ(Read("v 0 0 0\nv 1 0 0\nf 1 2 3\nv 0 1 0"), 1);
    EXPECT_EQ(g_Scene.PointCount, 3);
    EXPECT_EQ(g_Scene.PolygonCount, 1);
    ASSERT_EQ(Read(Triangle() + "f 1 2 3\nf 3 2 1"), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 1);  // the last line copies as empty
    EXPECT_EQ(Read("v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 1 1\nf 1/1 2/1 3/1\nvt 2 2"), 1);
    EXPECT_EQ(g_Scene.UVPointCount, 2);
}

TEST_F(ObjReaderTest, ShortFacesBecomeLinesAndDots) {
    ASSERT_EQ(Read(Triangle() + "f 1 2\nf 3\n"), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 0);
    ASSERT_EQ(g_Scene.LineCount, 1);
    EXPECT_EQ(Lines()[0].points, (Refs{0, 1}));
    ASSERT_EQ(g_Scene.DotCount, 1);
    EXPECT_EQ(Dots()[0].points, (Refs{2}));
}

TEST_F(ObjReaderTest, LineStatements) {
    std::string points;
    for (int i = 0; i < 10; ++i) points += "v " + std::to_string(i) + " 0 0\n";
    ASSERT_EQ(Read(points + "l 1 2 3 4\n"), 1);
    std::vector<Refs> lines;
    for (const Element& line : Lines()) lines.push_back(line.points);
    EXPECT_EQ(lines, (std::vector<Refs>{{0, 1}, {1, 2}, {2, 3}}));

    // Two point-like statements in a row make one line; one followed by
    // another statement is a line from the point to itself.
    ASSERT_EQ(Read(points + "l 5 5\nl 9 9\nl 5 5\n# end\nl 2/1 3/4\n"), 1);
    lines.clear();
    for (const Element& line : Lines()) lines.push_back(line.points);
    EXPECT_EQ(lines, (std::vector<Refs>{{4, 8}, {4, 4}, {1, 2}}));

    // A pending point starts the next two-point line; "l" with one reference is ignored.
    ASSERT_EQ(Read(points + "l 5 5\nl 1\nl 2 3\n"), 1);
    lines.clear();
    for (const Element& line : Lines()) lines.push_back(line.points);
    EXPECT_EQ(lines, (std::vector<Refs>{{4, 2}}));
}

TEST_F(ObjReaderTest, PointStatementsAddOneDotEach) {
    ASSERT_EQ(Read(Triangle() + "usemtl m\np 1 2  3\n"), 1);
    ASSERT_EQ(g_Scene.DotCount, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Dots()[i].points, Refs{static_cast<uint32_t>(i)});
        EXPECT_EQ(Dots()[i].surface, 1u);
    }
}

TEST_F(ObjReaderTest, IgnoredLines) {
    ASSERT_EQ(Read(Triangle() + "\n\n v 9 9 9\n f 1 2 3\n# f 1 2 3\nvn 0 0 1\ns 1\nF 1 2 3\nf 1 2 3\n"), 1);
    EXPECT_EQ(g_Scene.PointCount, 3);
    EXPECT_EQ(g_Scene.PolygonCount, 1);
    ASSERT_EQ(Read(Triangle() + "f\t1\t2\t3\n"), 1);  // a tab reads as a space
    EXPECT_EQ(g_Scene.PolygonCount, 1);
}

TEST_F(ObjReaderTest, FaceWithMoreThan4000CornersIsSkippedAndCounted) {
    std::string big = "f";
    for (int i = 0; i < 4001; ++i) big += " " + std::to_string(1 + i % 3);
    std::string most = "f";
    for (int i = 0; i < 4000; ++i) most += " " + std::to_string(1 + i % 3);
    ASSERT_EQ(Read(Triangle() + big + "\n" + most + "\nl" + big.substr(1) + "\nf 1 2 3\n"), 1);
    EXPECT_EQ(g_Scene.SkippedFaceCount, 2);
    ASSERT_EQ(g_Scene.PolygonCount, 2);
    EXPECT_EQ(Polygons()[0].points.size(), 4000u);
    EXPECT_EQ(g_Scene.LineCount, 0);
}

// ---- Failures ---------------------------------------------------------------------------

TEST_F(ObjReaderTest, BadFilesFail) {
    EXPECT_EQ(Read("vt 0 0\nf 1/-1 1/-1 1/-2\n"), 0);                       // no "v"
    EXPECT_EQ(Read(Triangle() + "f -3 -2 -1\n"), 0);                         // no index token
    EXPECT_EQ(Read(Triangle() + "f 0 1 2\n"), 0);                            // point 0
    EXPECT_EQ(Read(Triangle() + "f 1 2 4\n"), 0);                            // beyond the points
    EXPECT_EQ(Read(Triangle() + "vt 0 0\nf 1/1 2/1 3/2\n"), 0);              // beyond the UV points
    EXPECT_EQ(Read(Triangle() + "l 1 4\n"), 0);
    EXPECT_EQ(Read(Triangle() + "p 7\n"), 0);
    EXPECT_EQ(ObjRead((dir_ / "missing.obj").c_str()), 0);
    EXPECT_EQ(Read(""), 0);
}

TEST_F(ObjReaderTest, HugeReferencesAreRejectedNotWrapped) {
    // 4294967297 - 1 would wrap to point 0, 4294967296 - 1 to "no texture".
    EXPECT_EQ(Read(Triangle() + "f 4294967297 2 3\n"), 0);
    EXPECT_EQ(Read(Triangle() + "vt 0 0\nf 1/4294967296 2/1 3/1\n"), 0);
    EXPECT_EQ(Read(Triangle() + "vt 0 0\nf 1/-4294967296 2/1 3/1\n"), 0);
    EXPECT_EQ(Read(Triangle() + "vt 0 0\nf 1/-3 2/1 3/1\n"), 0);  // before the first UV point
    ASSERT_EQ(Read(Triangle() + "vt 0 0\nf 1/-2 2/1 3/1\n"), 1);  // counts back to 0: none
    EXPECT_EQ(Polygons()[0].uvs, (Refs{kNoTexture, 0, 0}));
}

TEST_F(ObjReaderTest, OverlongLinesAreCutToTheLineBuffer) {
    const std::string padding(kObjLineBufferBytes, ' ');
    ASSERT_EQ(Read(Triangle() + "v 1 1 1\nf 1 2 3" + padding + "4\n"), 1);
    EXPECT_EQ(Polygons()[0].points, (Refs{0, 1, 2}));
    // Joined lines too; the joining still takes every continued line.
    ASSERT_EQ(Read(Triangle() + "v 1 1 1\nf 1 2 \\\n3" + padding + "4 \\\n1 \\\np 1\n"), 1);
    EXPECT_EQ(Polygons()[0].points, (Refs{0, 1, 2}));
    EXPECT_EQ(g_Scene.DotCount, 0);
}

TEST_F(ObjReaderTest, ElementsTheSceneRefusesEndTheRead) {
    // 12000 dots or lines need a second chunk; its allocation fails (the
    // third allocation of the read: text block, reader storage, chunk).
    std::string dots = "p";
    for (int i = 0; i < 4000; ++i) dots += " 1";
    std::string path = Write(Triangle() + dots + "\n" + dots + "\n" + dots + "\n");
    SceneFree();
    SceneReset();
    ASSERT_EQ(SceneAllocateFirstChunks(), 1);
    g_Scene.DetectedFormat = kFormatOBJ;
    ModuleHeapFailAt(3);
    EXPECT_EQ(ObjRead(path.c_str()), 0);
    ModuleHeapFailAt(0);
    EXPECT_LT(g_Scene.DotCount, 12000);

    std::string polyline = "l";
    for (int i = 0; i < 4000; ++i) polyline += i % 2 ? " 1" : " 2";
    path = Write(Triangle() + polyline + "\n" + polyline + "\n" + polyline + "\n");
    SceneFree();
    SceneReset();
    ASSERT_EQ(SceneAllocateFirstChunks(), 1);
    ModuleHeapFailAt(3);
    EXPECT_EQ(ObjRead(path.c_str()), 0);
    ModuleHeapFailAt(0);
    EXPECT_LT(g_Scene.LineCount, 3 * 3999);
}

TEST_F(ObjReaderTest, ModuleHeapFailureAtEveryAllocation) {
    // Three text blocks, so that a failing later block is among the cases.
    const std::string path = Write(TriangleFilledTo(2 * kTextPieceBytes + 10) +
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
        const bool compactionFailed = n > total - compactionAllocs;
        EXPECT_EQ(result, compactionFailed ? 1 : (n <= 7 ? -1 : 0)) << "allocation " << n;
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), live) << "allocation " << n;
    }
}

TEST_F(ObjReaderTest, FileNeedingMoreThan2048TextBlocksFails) {
    // Start the loader as if 2047 blocks were filled already: the second piece
    // of this file would need a 2049th block.
    const std::string path = Write(TriangleFilledTo(kTextPieceBytes + 10) + "f 1 2 3\n");
    SceneFree();
    SceneReset();
    g_Scene.DetectedFormat = kFormatOBJ;
    g_Scene.TextBlockLast = kMaxTextBlocks - 1;
    g_Scene.TextBlocks[kMaxTextBlocks - 1] = static_cast<uint8_t*>(ModuleAlloc(kTextBlockBytes));
    g_Scene.TextBlockCursor = g_Scene.TextBlocks[kMaxTextBlocks - 1];
    g_Scene.TextBlocksOwned = true;
    uint32_t loaded = 0;
    EXPECT_EQ(ObjLoadText(path.c_str(), static_cast<uint32_t>(fs::file_size(path)), &loaded), 0);
    EXPECT_EQ(g_Scene.TextBlockLast, kMaxTextBlocks - 1);
    EXPECT_LT(loaded, fs::file_size(path));

    g_Scene.TextBlockLast = 0;  // the same file from block 0 loads into two blocks
    g_Scene.TextBlocks[0] = g_Scene.TextBlocks[kMaxTextBlocks - 1];
    g_Scene.TextBlocks[kMaxTextBlocks - 1] = nullptr;
    g_Scene.TextBlockCursor = g_Scene.TextBlocks[0];
    EXPECT_EQ(ObjLoadText(path.c_str(), static_cast<uint32_t>(fs::file_size(path)), &loaded), 1);
    EXPECT_EQ(g_Scene.TextBlockLast, 1);
    EXPECT_EQ(loaded, fs::file_size(path));
}

// ---- Real files ---------------------------------------------------------------------------

// Statements counted straight from a file's lines; an "f" on a final line
// without LF is not counted, as the reader ignores it.
struct StatementCount {
    int32_t points = 0;
    int32_t faces = 0;
};

StatementCount CountStatements(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    StatementCount count;
    for (size_t start = 0; start < text.size();) {
        const size_t lf = text.find('\n', start);
        if (text.compare(start, 2, "v ") == 0) ++count.points;
        if (text.compare(start, 2, "f ") == 0 && lf != std::string::npos) ++count.faces;
        start = lf == std::string::npos ? text.size() : lf + 1;
    }
    return count;
}

TEST_F(ObjReaderTest, CorpusFilesReadAsTheirStatementsSay) {
    // Refused: relative point references ("f -4 -3 -2 -1") leave faces
    // without index tokens; a file without "v"; UTF-16 text is no OBJ.
    const std::vector<std::string> refused = {"cornell_box.obj", "cornell_box_multimaterial.obj", "test-nan.obj",
                                              "invalid-relative-texture-index.obj", "box_UTF16BE.obj"};
    int32_t files = 0;
    for (const auto& entry : fs::directory_iterator(std::string(TAMLORN_CORPUS_DIR) + "/obj")) {
        if (entry.path().extension() != ".obj") continue;
        ++files;
        const std::string name = entry.path().filename().string();
        const bool refuse = std::find(refused.begin(), refused.end(), name) != refused.end();
        const int32_t result = Import(entry.path().string());
        EXPECT_EQ(result, refuse ? 0 : 1) << name;
        if (refuse) continue;
        const StatementCount count = CountStatements(entry.path().string());
        EXPECT_EQ(g_Scene.PointCount, count.points) << name;
        const bool linesOrDots = name.find("prim") != std::string::npos || name.find("test") == 0;
        if (!linesOrDots) {
            EXPECT_EQ(g_Scene.PolygonCount + g_Scene.LineCount + g_Scene.DotCount, count.faces) << name;
        }
    }
    EXPECT_EQ(files, 26);
}

TEST_F(ObjReaderTest, CorpusNumberFormatsMatchStrtod) {
    const std::string path = std::string(TAMLORN_CORPUS_DIR) + "/obj/number_formats.obj";
    ASSERT_EQ(Import(path), 1);
    const auto points = Points(g_Scene.PointStream, g_Scene.PointCount);
    std::ifstream file(path);
    std::string line;
    size_t i = 0;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string keyword, x, y, z;
        if (!(words >> keyword >> x >> y >> z) || keyword != "v") continue;
        ASSERT_LT(i, points.size());
        const std::array<float, 3> want{static_cast<float>(std::strtod(x.c_str(), nullptr)),
                                        static_cast<float>(std::strtod(y.c_str(), nullptr)),
                                        -static_cast<float>(std::strtod(z.c_str(), nullptr))};
        EXPECT_EQ(points[i++], want) << line;
    }
    EXPECT_EQ(i, 15u);
    EXPECT_EQ(points.size(), 15u);
}

}  // namespace
