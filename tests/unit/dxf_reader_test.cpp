// The DXF reader: sniffing, the text rules of the group-pair input, each
// entity kind, each polyline kind, layers as surfaces and the welded finish;
// drawings written by ezdxf; the corpus (damaged copies: corruption_sweep_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <tuple>

#include "formats/dxf/dxf.h"
#include "formats/dxf/dxf_internal.h"
#include "unit/reference_numbers.h"
#include "unit/unit_support.h"

namespace {

namespace fs = std::filesystem;
using unit::Element;
using unit::Point;
using unit::Refs;
using unit::ScenePoint;
using unit::SurfaceName;
using Elements = std::vector<std::vector<Point>>;  // each element's corners
using namespace host_support::dxf;

// ---- Writing DXF text ---------------------------------------------------------------

Groups Arc(const std::string& start, const std::string& end, const std::string& thickness = "0") {
    return {{0, "ARC"}, {10, "0"}, {20, "0"}, {30, "0"}, {39, thickness}, {40, "1"}, {50, start}, {51, end}};
}
Groups Vertex(double x, double y, double z, int flags) {
    return Groups{{0, "VERTEX"}} + Xyz(x, y, z) + Groups{{70, std::to_string(flags)}};
}
Groups Polyline(int flags, const Groups& extraHeader = {}) {
    return Groups{{0, "POLYLINE"}, {8, "PL"}, {66, "1"}, {70, std::to_string(flags)}} + extraHeader;
}
// A polyline of the given flags with one vertex of `vertexFlags` per point.
Groups Path(int flags, const std::vector<Point>& points, int vertexFlags, const Groups& extraHeader = {}) {
    Groups g = Polyline(flags, extraHeader);
    for (const Point& p : points) g = g + Vertex(p[0], p[1], p[2], vertexFlags);
    return g;
}
const Groups kSeqEnd = {{0, "SEQEND"}};
// Five vertices of a polyface mesh, before its face records.
Groups PolyfaceVertices() { return Path(64, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 2, 0}}, 192); }
Groups FaceRecord(const std::vector<std::string>& indices) {
    Groups g = Vertex(0, 0, 0, 128);
    for (size_t k = 0; k < indices.size(); ++k) g.push_back({71 + int(k), indices[k]});
    return g;
}
// A 3 x 4 grid: v(i, j) = (j, i, i * j), with column 0 or 3 optionally collapsed to (j, 0, 7).
Groups Mesh(int flags, bool collapseFirstColumn = false, bool collapseLastColumn = false, int extraVertices = 0) {
    Groups g = Polyline(flags, {{71, "3"}, {72, "4"}});
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            const bool tip = (collapseFirstColumn && j == 0) || (collapseLastColumn && j == 3);
            g = g + Vertex(j, tip ? 0 : i, tip ? 7 : i * j, 64);
        }
    }
    for (int k = 0; k < extraVertices; ++k) g = g + Vertex(50 + k, 50, 50, 64);
    return g + kSeqEnd;
}

// ---- Reading through the module -------------------------------------------------------

// The scene point of DXF (x, y, z).
Point P(float x, float y, float z) { return {x, z, y}; }
std::vector<Point> P(std::vector<Point> points) {
    for (Point& p : points) p = P(p[0], p[1], p[2]);
    return points;
}

// Points, polygons, lines and dots in the scene.
using Counts = std::array<int32_t, 4>;
Counts SceneCounts() { return {g_Scene.PointCount, g_Scene.PolygonCount, g_Scene.LineCount, g_Scene.DotCount}; }

// Every element's corners: polygons, then lines, then dots.
Elements SceneElements() {
    Elements out;
    for (const Element& e : unit::SceneElements()) out.push_back(unit::Corners(e));
    return out;
}
std::vector<Refs> PolygonRefs() { return unit::RefsOf(unit::ScenePolygons()); }

class DxfReader : public unit::SceneFileTest {
protected:
    unit::Load LoadPath(const fs::path& path) {
        return unit::LoadLikeTheDriver(path, kFormatDXF, DxfSniff, DxfReadFile);
    }
    unit::Load LoadText(const std::string& text) { return LoadPath(Write("drawing.dxf", text)); }
    int32_t ReadText(const std::string& text) { return LoadText(text).read; }
};

// ---- Sniffing ---------------------------------------------------------------------

int32_t Sniff(const std::string& text) {
    g_Scene.BinaryDxfSeen = false;
    return DxfSniff(static_cast<int32_t>(text.size()), reinterpret_cast<const uint8_t*>(text.c_str()));
}

TEST(DxfSniffing, TextDrawingsAreKnownByTheirFirstLinesAndBinaryOnesRemembered) {
    const std::string drawing = Drawing(PointEntity(1, 2, 3));
    const std::string sentinel = std::string("AutoCAD Binary DXF\r\n\x1a", 21) + std::string(40, '\0');
    const std::string ten = "0\nSECTION\n2\nHEADER\n9\n$X\n1\nA\n0\nENDSEC\n";
    const std::string tail = "9\n$A\n1\nB\n0\nENDSEC\n0\nEOF\n";
    std::string nulEarly = drawing;
    nulEarly[40] = '\0';
    // What, the text, and the answer: 1 for a text drawing, 0 otherwise, -1 for a binary one.
    const std::tuple<const char*, std::string, int32_t> cases[] = {
        {"binary sentinel", sentinel, -1},
        {"sentinel cut short", sentinel.substr(0, 20), 0},
        {"binary corpus file", unit::ReadFile(fs::path(TAMLORN_CORPUS_DIR) / "dxf/diamond-bin.dxf").substr(0, 1000),
         -1},
        {"a drawing", drawing, 1},
        {"NUL among the first 50 bytes", nulEarly, 0},
        {"past byte 49 a NUL only ends the text", drawing + std::string(1, '\0') + "junk", 1},
        {"50 blanks first", std::string(50, ' ') + drawing, 0},
        {"44 blanks first", std::string(44, ' ') + drawing, 1},
        {"empty", "", 0},
        {"the last line has no line end: 10 breaks", ten + "0", 0},
        {"blank lines do not count", ten + "\n\n  \n\r\n", 0},
        {"eleven breaks besides blank lines", ten + "\n\n  \n0\n", 1},
        {"HEADER", "  0\nSECTION\n  2\nHEADER\n" + tail, 1},
        {"ENTITIES", "0\nSECTION\n2\nENTITIES\n" + tail, 1},
        {"TABLES", "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n" + tail, 1},
        {"BLOCKS", "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n" + tail, 1},
        {"TABLES without a table", "0\nSECTION\n2\nTABLES\n9\nX\n9\nX\n9\nX\n" + tail, 0},
        {"a token is the whole rest of its line", "0\nSECTION \n2\nHEADER\n" + tail, 0},
        {"a comment first", "999\ncomment\n0\nSECTION\n2\nHEADER\n" + tail, 1},
    };
    for (const auto& [what, text, answer] : cases) {
        EXPECT_EQ(Sniff(text), std::max(answer, 0)) << what;
        EXPECT_EQ(g_Scene.BinaryDxfSeen, answer < 0) << what;
    }
}

TEST_F(DxfReader, EofMarkerWithinTheLast100BytesInAnyCase) {
    const std::pair<std::string, int32_t> cases[] = {{"EOF", 1}, {"eOf", 1}, {"OF", 0}, {"", 0},
                                                     {"EOF" + std::string(97, ' '), 1},
                                                     {"EOF" + std::string(98, ' '), 0}};
    for (const auto& [text, marked] : cases) {
        EXPECT_EQ(DxfHasEofMarker(Write("eof", text).string().c_str()), marked) << text;
    }
    EXPECT_EQ(DxfHasEofMarker((dir_ / "missing").string().c_str()), 0);
}

// ---- Values ----------------------------------------------------------------------

// The whole value line is the token, leading blanks, trailing text, hexadecimal and NaN-payload forms included.
TEST(DxfValues, NumbersReadAsTheCLibraryReadsThemInTheCLocale) {
    for (const char* token : {"1.5", "  -2.25", "+3", "-.5", "7.", "1e2", "1E+02", "2.5e-3", "0", "-0", "abc", "",
                              "1.5x", "+-1", "--1", "1e400", "-1e400", "1e-400", "-1e-400", "0.00001e-320",
                              "123456789012345678901234567890", "inf", "-INFINITY", "1e", ".e1", "00012.5000",
                              "  -0x1.8p1", "12.5 7", "x12", "nan(0x7ffffffffffff)"}) {
        char* stop = nullptr;
        const float expected = static_cast<float>(reference::Strtod(token, &stop));
        const float got = DxfValueFloat(token);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << token << " " << got << " " << expected;
    }
    EXPECT_TRUE(std::isnan(DxfValueFloat("nan")));
    // A decimal comma locale changes nothing.
    for (const char* locale : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8"}) {
        if (!std::setlocale(LC_NUMERIC, locale)) continue;
        EXPECT_EQ(DxfValueFloat("1.5"), 1.5f) << locale;
        EXPECT_EQ(DxfValueFloat("-2.25e1"), -22.5f) << locale;
    }
    std::setlocale(LC_NUMERIC, "C");
}

TEST(DxfValues, IntegersSaturate) {
    const std::pair<const char*, int32_t> cases[] = {
        {"    70", 70},        {"+64", 64},         {"-3", -3}, {"12abc", 12}, {"abc", 0}, {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-99999999999999999999999", INT32_MIN}};
    for (const auto& [text, value] : cases) EXPECT_EQ(DxfValueInt(text), value) << text;
}

// ---- Drawings --------------------------------------------------------------------

// What the reader makes of whole drawings: its result and, when it loads, the scene's counts after welding
// and (where given) its points.
TEST_F(DxfReader, DrawingsReadToTheirCounts) {
    const std::string point = Drawing(PointEntity(1, 2, 3));
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = point;
        return text.replace(text.find(from), from.size(), to);
    };
    const Groups header = {{9, "$ACADVER"}, {1, "AC1009"}, {0, "POINT"}, {10, "5"}};
    const Groups tables = {{0, "TABLE"}, {2, "LAYER"}, {0, "LAYER"}, {2, "WALLS"}, {0, "ENDTAB"}};
    const Groups block = Groups{{0, "BLOCK"}, {8, "0"}, {2, "B"}} + Xyz(0, 0, 0) + PointEntity(1, 2, 3) +
                         Groups{{0, "ENDBLK"}};
    const Groups threeVertices = Path(8, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, 32);
    Groups tooLong = Polyline(8);
    for (int k = 0; k <= kMaxCorners; ++k) tooLong = tooLong + Vertex(k, 0, 0, 32);
    const auto polyface = [](const std::vector<std::string>& indices) {
        return Drawing(PolyfaceVertices() + FaceRecord(indices) + kSeqEnd);
    };
    const auto meshOfSizes = [](const std::string& m, const std::string& n) {
        Groups g = Polyline(16, {{71, m}, {72, n}});
        for (int k = 0; k < 6; ++k) g = g + Vertex(k, 0, 0, 64);
        return Drawing(g + kSeqEnd);
    };
    const Counts kFails = {-1}, kDot = {1, 0, 0, 1};
    struct Case {
        const char* what;
        std::string text;
        Counts counts;                   // kFails when the read fails
        std::vector<Point> points = {};  // when given
    };
    const Case cases[] = {
        {"trailing blanks and comments are no obstacle",
         "999\nwritten by hand\n  0  \nSECTION   \n  2\nENTITIES  \n  0\nPOINT \n 10\n 1.5  \n 20\n2\n 30\n3\n  0\n"
         "ENDSEC   \n  0\nEOF\n",
         kDot, {P(1.5f, 2, 3)}},
        {"equal points of different entities are welded, but -0 is not 0",
         Drawing(Line({0, 0, 0}, {1, 0, 0}) + Line({1, 0, 0}, {1, 1, 0}) + Line({1, 1, 0}, {-0.0f, 0, 0})),
         {4, 0, 3, 0}},
        {"the final EOF needs a line end", point.substr(0, point.size() - 1), kFails},
        {"after the end of the drawing nothing is read", point + "junk\nmore junk\n", kDot},
        {"no EOF in the last 100 bytes", point + "999\n" + std::string(100, 'x') + "\n", kFails},
        {"EOF within the last 100 bytes", point + "999\n" + std::string(80, 'x') + "\n", kDot},
        {"empty file", "", kFails},
        {"a code line with a letter is a read error", replaced(" 10\n", "1O\n"), kFails},
        {"a code line with sign and blanks", replaced(" 10\n", "+10 \n"), kDot},
        {"a code line's digits, signs and blanks after its integer are passed over", replaced(" 10\n", "10 -2\n"),
         kDot},
        {"no code check after EOF",
         Text(Section("ENTITIES", PointEntity(1, 2, 3) + Groups{{0, "X"}}) + kEndOfFile) + "x10\n1\n", kDot},
        {"an empty code line", replaced("  0\nENDSEC", "\n  0\nENDSEC"), kFails},
        {"a code line of blanks only, or a lone sign, reads as code 0: no digits give 0",
         "  0\nSECTION\n  2\nENTITIES\n   \nPOINT\n 10\n1\n 20\n2\n 30\n3\n-\nPOINT\n 10\n4\n 20\n5\n 30\n6\n"
         "+\nENDSEC\n  0\nEOF\n",
         {2, 0, 0, 2}, {P(1, 2, 3), P(4, 5, 6)}},
        {"unclosed ENTITIES", Text(Groups{{0, "SECTION"}, {2, "ENTITIES"}} + PointEntity(1, 2, 3) + kEndOfFile),
         kFails},
        {"unclosed TABLES", Text(Groups{{0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}} + kEndOfFile), kFails},
        {"only sections that are passed over: no point",
         Text(Section("HEADER", header) + Section("TABLES", tables) + kEndOfFile), kFails},
        {"sections other than BLOCKS and ENTITIES are passed over",
         Text(Section("HEADER", header) + Section("TABLES", tables) + Section("OBJECTS", PointEntity(7, 7, 7)) +
              Section("ENTITIES", PointEntity(1, 2, 3)) + kEndOfFile),
         kDot, {P(1, 2, 3)}},
        {"blocks are read where they stand, references add nothing",
         Text(Section("BLOCKS", block) +
              Section("ENTITIES", Groups{{0, "INSERT"}, {2, "B"}} + Xyz(10, 10, 10) + PointEntity(4, 5, 6)) +
              kEndOfFile),
         {2, 0, 0, 2}, {P(1, 2, 3), P(4, 5, 6)}},
        {"an arc from 10 to 370 sweeps 0: twelve equal points", Drawing(Arc("10", "370")), {1, 0, 11, 0}},
        {"a face without any z group has no corner: an element of no points fails the file",
         Drawing({{0, "3DFACE"}, {10, "1"}, {20, "2"}}), kFails},
        {"a vertex list ended by another entity", Drawing(threeVertices + PointEntity(5, 5, 5)), {4, 1, 0, 1}},
        {"a vertex list ended by ENDSEC", Drawing(threeVertices), {3, 1, 0, 0}},
        {"a path longer than an element keeps its points and stores no element",
         Drawing(tooLong + kSeqEnd + Path(8, {{0, 1, 0}, {0, 2, 0}}, 32) + kSeqEnd), {kMaxCorners + 3, 0, 1, 0}},
        {"a face record without indices", polyface({}), kFails},
        {"a face record index beyond the points", polyface({"1", "2", "9"}), kFails},
        {"a face record index 0", polyface({"0", "1", "2"}), kFails},
        {"the most negative face record index", polyface({"1", "2", "-2147483648"}), kFails},
        {"an overflowing face record index", polyface({"1", "2", "99999999999999"}), kFails},
        {"a mesh closed both ways wraps in N only", Drawing(Mesh(49)), {12, 8, 0, 0}},
        {"mesh vertices past the M x N grid are kept as points", Drawing(Mesh(16, false, false, 13)), {25, 6, 0, 0}},
        // Sizes whose product overflows 32 bits, or that are negative, make no faces.
        {"mesh sizes overflowing their product", meshOfSizes("2147483647", "2147483647"), {6, 0, 0, 0}},
        {"negative mesh sizes", meshOfSizes("-2", "-2"), {6, 0, 0, 0}},
        {"mesh size 0", meshOfSizes("0", "4"), {6, 0, 0, 0}},
    };
    // Entities that store nothing, each before a point: circles of radius 0, -1 or NaN; arcs of equal angles or
    // whose whole turns cannot be taken off (infinite, NaN); polylines without vertex flag, or curve-fit only.
    const Groups storeNothing[] = {
        {{0, "CIRCLE"}, {40, "0"}}, {{0, "CIRCLE"}, {40, "-1"}}, {{0, "CIRCLE"}, {40, "nan"}}, Arc("30", "30"),
        Arc("inf", "10"), Arc("10", "nan"), Arc("-3e38", "3e38"),
        Groups{{0, "POLYLINE"}, {70, "8"}} + Vertex(0, 0, 0, 32) + Vertex(1, 1, 1, 32) + kSeqEnd +
            Path(4, {{0, 0, 0}, {1, 1, 1}}, 0) + kSeqEnd};
    for (const Groups& nothing : storeNothing) {
        ASSERT_EQ(ReadText(Drawing(nothing + PointEntity(5, 5, 5))), 1) << Text(nothing);
        EXPECT_EQ(SceneCounts(), kDot) << Text(nothing);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(ReadText(c.text), c.counts == kFails ? 0 : 1);
        if (c.counts == kFails) continue;
        EXPECT_EQ(SceneCounts(), c.counts);
        EXPECT_TRUE(c.points.empty() || unit::ScenePoints() == c.points);
    }
    EXPECT_EQ(LoadPath(dir_ / "missing.dxf").read, 0);
}

// The sniffer notes each line end and leaves its sample alone; the drawings read alike.
TEST_F(DxfReader, LineEndStylesAreNotedAndReadAlike) {
    for (const auto& [end, style] : {std::pair{"\n", kLineEndLF}, {"\r\n", kLineEndCRLF}, {"\r", kLineEndCR}}) {
        SCOPED_TRACE(style);
        const std::string text = Drawing(PointEntity(1, 2, 3) + Line({4, 5, 6}, {7, 8, 9}), end);
        const std::string sample = text;
        EXPECT_EQ(DxfSniff(int32_t(text.size()), reinterpret_cast<const uint8_t*>(sample.c_str())), 1);
        EXPECT_EQ(g_Scene.LineEndStyle, style);
        EXPECT_EQ(sample, text);
        ASSERT_EQ(ReadText(text), 1);
        EXPECT_EQ(SceneElements(), (Elements{{P(4, 5, 6), P(7, 8, 9)}, {P(1, 2, 3)}}));
    }
}

// The elements of small drawings as their corners, polygons first, then lines, then dots.
TEST_F(DxfReader, EntitiesGiveTheirElements) {
    const Point a = {0, 0, 0}, b = {1, 0, 0}, c = {1, 1, 0}, d = {0, 1, 0};
    const Groups fourPoints = Path(64, {a, b, c, d}, 192, {{71, "4"}, {72, "2"}});
    const std::vector<Point> fivePoints = {{0, 0, 1}, {1, 1, 1}, {2, 4, 1}, {3, 9, 1}, {4, 16, 1}};
    struct Case {
        const char* what;
        Groups entities;
        Elements elements;
    };
    const Case cases[] = {
        {"a face", Face({a, b, c, d}), {P({a, b, c, d})}},
        {"a face repeating its third corner", Face({a, b, c, c}), {P({a, b, c})}},
        {"a face repeating its first corner", Face({a, b, c, a}), {P({a, b, c})}},
        {"only the first repeat is dropped", Face({a, a, c, c}), {P({a, c, c})}},
        {"a face of three corners", Face({a, b, c}), {P({a, b, c})}},
        {"a face of two corners is a line", Face({a, b, b}), {P({a, b})}},
        {"a face of one corner is a dot", Face({a, a}), {P({a})}},
        {"corners after the fourth are ignored", Face({a, b, c, d, {5, 5, 5}}), {P({a, b, c, d})}},
        {"a point and a line whose two equal ends are two points, welded",
         PointEntity(1, 2, 3) + Line({4, 5, 6}, {4, 5, 6}) + Xyz(0, 0, 1, 210),
         {P({{4, 5, 6}, {4, 5, 6}}), P({{1, 2, 3}})}},
        // Every coordinate slot starts at 0 for each entity.
        {"absent coordinate groups read as zero", PointEntity(1, 2, 3) + Groups{{0, "LINE"}, {10, "4"}, {21, "5"}},
         {P({{4, 0, 0}, {0, 5, 0}}), P({{1, 2, 3}})}},
        {"an open path whose last vertex repeats the first", Path(0, {a, b, c, a}, 0) + kSeqEnd, {P({a, b, c})}},
        {"a closed path keeps every vertex", Path(1, {a, b, c, a}, 0) + kSeqEnd, {P({a, b, c, a})}},
        {"a 3D path of two points is a line", Path(8, {a, {1, 2, 3}}, 32) + kSeqEnd, {P({a, {1, 2, 3}})}},
        {"a 3D path of five points is a polygon", Path(8, fivePoints, 32) + kSeqEnd, {P(fivePoints)}},
        {"a polyface mesh, its indices counted from its own first vertex",
         PointEntity(9, 9, 9) + fourPoints + FaceRecord({"1", "2", "3"}) + FaceRecord({"1", "-3", "4"}) + kSeqEnd,
         {P({a, b, c}), P({a, c, d}), P({{9, 9, 9}})}},
        {"face record indices after the fourth are ignored",
         PolyfaceVertices() + FaceRecord({"1", "2", "3", "4", "5"}) + kSeqEnd, {P({a, b, c, d})}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ASSERT_EQ(ReadText(Drawing(test.entities)), 1);
        EXPECT_EQ(SceneElements(), test.elements);
    }
}

// Layers name the surfaces (a polyline's is in its header); an entity without a layer keeps the last one read.
TEST_F(DxfReader, LayersBecomeSurfacesCutTo127Characters) {
    const std::string longLayer(600, 'L');
    const Groups entities = PointEntity(1, 1, 1) + Groups{{0, "POINT"}, {8, "WALLS"}, {10, "2"}} +
                            Groups{{0, "POINT"}, {10, "3"}} +
                            Groups{{0, "TEXT"}, {8, "NOTES"}, {1, std::string(5000, 't')}} +
                            Groups{{0, "POINT"}, {10, "4"}} + Groups{{0, "POINT"}, {8, "ROOF"}, {10, "5"}} +
                            Groups{{0, "POINT"}, {8, longLayer}, {10, "6"}} + Line({0, 0, 0}, {1, 1, 1}) +
                            Groups{{8, "A"}} + Path(0, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, 0) + kSeqEnd;
    ASSERT_EQ(ReadText(Drawing(entities)), 1);
    std::vector<std::string> names;
    for (const Element& e : unit::SceneElements()) names.push_back(SurfaceName(e.surface));
    const std::string cut(kSurfaceNameBytes - 1, 'L');
    EXPECT_EQ(names, (std::vector<std::string>{"PL", "A", "default", "WALLS", "WALLS", "WALLS", "ROOF", cut}));
    EXPECT_EQ(unit::SurfaceNames(), (std::vector<std::string>{"default", "WALLS", "ROOF", cut, "A", "PL"}));
}

// ---- Circles, arcs and meshes: exact references ------------------------------------------

// The twelve ring points of a circle or arc, as the reader computes them.
void ExpectRing(const Elements& elements, Point centre, float radius, float height, float start, float step) {
    for (size_t k = 0; k < 12; ++k) {
        const float radians = (start + float(k) * step) * 0.017453292f;
        const Point expected = P(centre[0] + float(double(radius) * std::cos(double(radians))),
                                 centre[1] + float(double(radius) * std::sin(double(radians))), height);
        EXPECT_EQ(k < 11 ? elements[k][0] : elements[10][1], expected) << "ring point " << k;
    }
}

TEST_F(DxfReader, CirclesAndArcsAreRingsOfTwelvePoints) {
    ASSERT_EQ(ReadText(Drawing({{0, "CIRCLE"}, {10, "10"}, {20, "20"}, {30, "3"}, {40, "2"}})), 1);
    EXPECT_EQ(SceneCounts(), (Counts{12, 0, 12, 0}));
    std::vector<Refs> ring;
    for (uint32_t k = 0; k < 11; ++k) ring.push_back({k, k + 1});
    ring.push_back({0, 11});
    EXPECT_EQ(unit::RefsOf(unit::SceneLines()), ring);
    ExpectRing(SceneElements(), {10, 20, 3}, 2, 3, 0, 30);

    ASSERT_EQ(ReadText(Drawing({{0, "CIRCLE"}, {10, "0"}, {20, "0"}, {30, "1"}, {39, "5"}, {40, "2"}})), 1);
    EXPECT_EQ(SceneCounts(), (Counts{24, 12, 0, 0}));
    EXPECT_EQ(std::tuple(PolygonRefs()[0], PolygonRefs()[11], ScenePoint(0)[1], ScenePoint(12)[1]),  // raised ring
              std::tuple(Refs{12, 13, 1, 0}, Refs{0, 11, 23, 12}, 1.0f, 6.0f));
    ASSERT_EQ(ReadText(Drawing(Arc("0", "90", "2"))), 1);
    EXPECT_EQ(SceneCounts(), (Counts{24, 11, 0, 0}));
    EXPECT_EQ(PolygonRefs()[10], (Refs{22, 23, 11, 10}));

    const std::tuple<const char*, const char*, float, float> sweeps[] = {
        {"350", "10", 350, 20}, {"10", "100", 10, 90}, {"400", "30", 40, 350}, {"10", "730", 10, 0},
        {"100", "-1000", 100, 740}};
    for (const auto& [start, end, first, sweep] : sweeps) {
        SCOPED_TRACE(start);
        ASSERT_EQ(ReadText(Drawing(Arc(start, end) + PointEntity(50, 50, 50))), 1);
        ASSERT_EQ(g_Scene.LineCount, 11);
        ExpectRing(SceneElements(), {0, 0, 0}, 1, 0, first, sweep / 11);
    }
    // A huge but finite start angle still gives twelve finite points.
    ASSERT_EQ(ReadText(Drawing(Arc("1e30", "10"))), 1);
    EXPECT_EQ(g_Scene.LineCount, 11);
    for (int32_t i = 0; i < g_Scene.PointCount; ++i) EXPECT_TRUE(std::isfinite(ScenePoint(i)[0]));
    // Ring points are what IEEE arithmetic gives: the radius 1e39 reads as
    // infinity, so the first point has x = infinity and y = infinity x 0 = NaN;
    // 3e38 + 3e38 overflows to infinity while the opposite point stays finite.
    constexpr float kInf = std::numeric_limits<float>::infinity();
    ASSERT_EQ(ReadText(Drawing({{0, "CIRCLE"}, {10, "3e38"}, {40, "1e39"}})), 1);
    EXPECT_TRUE(ScenePoint(0)[0] == kInf && std::isnan(ScenePoint(0)[2]));
    ASSERT_EQ(ReadText(Drawing({{0, "CIRCLE"}, {10, "3e38"}, {40, "3e38"}})), 1);
    EXPECT_TRUE(ScenePoint(0)[0] == kInf && std::isfinite(ScenePoint(6)[0]));
}

// Polygon meshes: the 3 x 4 grid v(i, j) of Mesh open, closed in M (row 2 wraps to row 0) or in N (column 3
// wraps to column 0); with a border column or row collapsed to one point its quadrilaterals become triangles
// in the orientation of those they replace; the sizes are 71 and 72, or 73 and 74 when a vertex has bit 16.
TEST_F(DxfReader, PolygonMeshFaces) {
    const auto v = [](float i, float j) { return P(j, i, i * j); };
    const auto tip = [](float j) { return P(j, 0, 7); };
    Groups rowCollapsed = Polyline(48, {{71, "3"}, {72, "4"}});  // row 0 at the origin, the tip taken as v(0, 0)
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            rowCollapsed = rowCollapsed + Vertex(i == 0 ? 0 : (j % 2 ? i : -i), i == 0 ? 0 : (j / 2 ? i : -i), i, 64);
        }
    }
    const auto sized = [](int flags, int n) {  // six vertices v(i, j) = (j, i, 0) of a grid n wide
        Groups g = Polyline(16, {{71, "2"}, {72, "3"}, {73, "3"}, {74, "2"}});
        for (int k = 0; k < 6; ++k) g = g + Vertex(k % n, k / n, 0, flags);
        return g + kSeqEnd;
    };
    struct Case {
        const char* what;
        Groups mesh;
        int32_t points, polygons;
        std::vector<std::pair<size_t, std::vector<Point>>> corners;  // of some polygons
    };
    const Case cases[] = {
        {"open", Mesh(16), 12, 6,
         {{0, {v(0, 0), v(0, 1), v(1, 1), v(1, 0)}}, {5, {v(1, 2), v(1, 3), v(2, 3), v(2, 2)}}}},
        {"closed in M", Mesh(17), 12, 9, {{6, {v(2, 0), v(2, 1), v(0, 1), v(0, 0)}}}},
        {"closed in N", Mesh(48), 12, 8, {{3, {v(1, 0), v(1, 3), v(0, 3), v(0, 0)}}}},
        {"column 0 collapsed: three tips welded into one", Mesh(16, true), 10, 6,
         {{0, {tip(0), v(0, 1), v(1, 1)}}, {1, {v(0, 1), v(0, 2), v(1, 2), v(1, 1)}}, {3, {tip(0), v(1, 1), v(2, 1)}}}},
        {"column 3 collapsed", Mesh(16, false, true), 10, 6, {{2, {v(0, 2), tip(3), v(1, 2)}}}},
        {"column 0 collapsed, closed in M", Mesh(17, true), 10, 9, {{6, {tip(0), v(2, 1), v(0, 1)}}}},
        {"a mesh after a collapsed one is whole", Mesh(16, true) + Mesh(16), 13, 12,
         {{6, {v(0, 0), v(0, 1), v(1, 1), v(1, 0)}}}},
        {"row 0 collapsed, closed in N", rowCollapsed + kSeqEnd, 9, 8,
         {{3, P({{0, 0, 0}, {-1, -1, 1}, {1, 1, 1}})}, {4, P({{-1, -1, 1}, {1, -1, 1}, {2, -2, 2}, {-2, -2, 2}})}}},
        {"sizes from 71 and 72", sized(64, 3), 6, 2, {{1, P({{1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}})}}},
        {"sizes from 73 and 74 with vertex bit 16", sized(64 + 16, 2), 6, 2, 
         {{1, P({{0, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}})}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(ReadText(Drawing(c.mesh)), 1);
        EXPECT_EQ(SceneCounts(), (Counts{c.points, c.polygons, 0, 0}));
        const Elements polygons = SceneElements();
        for (const auto& [i, corners] : c.corners) EXPECT_EQ(polygons.at(i), corners) << i;
    }
}

// ---- Drawings written by ezdxf --------------------------------------------------------

constexpr const char* kEzdxfScript = R"PY(
import sys
import ezdxf
doc = ezdxf.new('R12')
for name in ('WALLS', 'ROOF', 'MESH', 'PARTS'):
    doc.layers.new(name)
msp = doc.modelspace()
msp.add_point((1, 2, 3), dxfattribs={'layer': 'WALLS'})
msp.add_line((10, 0, 0), (11, 1, 1), dxfattribs={'layer': 'WALLS'})
msp.add_line((11, 1, 1), (12, 0, 0), dxfattribs={'layer': 'WALLS'})
msp.add_3dface([(20, 0, 0), (21, 0, 0), (21, 1, 0), (20, 1, 0)], dxfattribs={'layer': 'ROOF'})
msp.add_3dface([(30, 0, 0), (31, 0, 0), (31, 1, 0), (31, 1, 0)], dxfattribs={'layer': 'ROOF'})
msp.add_circle((100, 100, 0), 5, dxfattribs={'layer': 'WALLS'})
msp.add_circle((200, 100, 0), 5, dxfattribs={'layer': 'WALLS', 'thickness': 2})
msp.add_arc((300, 100, 0), 5, 350, 10, dxfattribs={'layer': 'WALLS'})
msp.add_polyline2d([(40, 0), (41, 0), (41, 1), (40, 1)], close=True, dxfattribs={'layer': 'WALLS'})
msp.add_polyline3d([(50, 0, 0), (51, 0, 1), (51, 1, 2)], dxfattribs={'layer': 'WALLS'})
pf = msp.add_polyface(dxfattribs={'layer': 'MESH'})
pf.append_face([(60, 0, 0), (61, 0, 0), (61, 1, 0), (60, 1, 0)])
pf.append_face([(61, 0, 0), (62, 0, 0), (61, 1, 0)])
mesh = msp.add_polymesh(size=(3, 4), dxfattribs={'layer': 'MESH'})
for i in range(3):
    for j in range(4):
        mesh.set_mesh_vertex((i, j), (70 + j, 10 * i, i * j))
block = doc.blocks.new('PART')
block.add_point((500, 500, 500), dxfattribs={'layer': 'PARTS'})
block.add_line((500, 0, 0), (501, 0, 0), dxfattribs={'layer': 'PARTS'})
msp.add_blockref('PART', (1000, 1000))
msp.add_text('not geometry', dxfattribs={'layer': 'WALLS'})
doc.saveas(sys.argv[1])
)PY";

TEST_F(DxfReader, DrawingWrittenByEzdxf) {
    if (std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "/usr/bin/python3 cannot import ezdxf";
    }
    const fs::path script = Write("make_drawing.py", kEzdxfScript), path = dir_ / "ezdxf_r12.dxf";
    ASSERT_EQ(std::system(("/usr/bin/python3 " + script.string() + " " + path.string()).c_str()), 0);
    const unit::Load load = LoadPath(path);
    ASSERT_EQ(std::tuple(load.sniffed, load.read), std::tuple(1, 1));
    // Points before welding: point 1, lines 4, faces 4 + 3, circles 12 + 24, arc 12,
    // 2D path 4, 3D path 3, polyface 5 (ezdxf shares the repeated corners), mesh 12,
    // block 1 + 2. Welding joins the lines' shared end only.
    // Polygons: faces 2, band 12, 2D path 1, 3D path 1, polyface 2, mesh (3 - 1) x (4 - 1).
    EXPECT_EQ(SceneCounts(), (Counts{1 + 4 + 7 + 36 + 12 + 4 + 3 + 5 + 12 + 3 - 1, 2 + 12 + 1 + 1 + 2 + 6,
                                     2 + 12 + 11 + 1, 2}));
    const std::vector<std::string> names = unit::SurfaceNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"WALLS", "ROOF", "MESH", "PARTS"}));
    std::map<size_t, int> polygonSizes;
    for (const Refs& refs : PolygonRefs()) ++polygonSizes[refs.size()];
    // Triangles: a face, the 3D path, a polyface face; the rest are quadrilaterals.
    EXPECT_EQ(polygonSizes, (std::map<size_t, int>{{3, 3}, {4, 21}}));
}

// ---- Corpus -------------------------------------------------------------------------

// Binary: the sniffer saw the binary sentinel; NotRecognised: it found no section start in the first ten lines;
// NoPoints: read to the end, but no supported entity; ReadError: the group pairs end before (0, "EOF").
enum class Outcome { Loads, Binary, NotRecognised, NoPoints, ReadError };

struct CorpusCase {
    Outcome outcome;
    int elements;  // polygons + lines + dots from the entity counts, -1 when not worked out
    const char* why;
};

const std::map<std::string, CorpusCase> kCorpus = {
    {"3dface.dxf", {Outcome::Loads, 44 + 2, "3DFACE in both sections; LWPOLYLINE, TEXT, MTEXT passed over"}},
    {"AC1003_LINE_Example.dxf", {Outcome::Loads, 13 + 9 * 11, "13 LINE, 9 ARC of 11 edges"}},
    {"Leica_Disto_S910.dxf", {Outcome::Loads, 11 + 10, "11 POINT, 10 LINE; TEXT passed over"}},
    {"POLI-ALL210_12.DXF", {Outcome::Loads, 30 + 1, "30 open and closed 2D polylines, one 3DFACE"}},
    {"R12_with_trash_beyond_EOF.dxf", {Outcome::Loads, 12, "one CIRCLE; nothing after (0, EOF) is read"}},
    {"arc1.dxf", {Outcome::ReadError, -1, "the final EOF has no line end: it reads as an empty value"}},
    {"bin_dxf_r12.dxf", {Outcome::Binary, -1, "binary DXF"}},
    {"cc_dxflib.dxf", {Outcome::Loads, 1, "one 3D polyline"}},
    {"diamond-bin.dxf", {Outcome::Binary, -1, "binary DXF"}},
    {"empty_handles.dxf",
     {Outcome::NotRecognised, -1,
      "three comment groups push the first section's name and object past the first ten lines"}},
    {"extendeddata.dxf", {Outcome::Loads, 8, "CR LF lines; 8 LINE with extended data"}},
    {"issue1106.dxf", {Outcome::Loads, 3 * 12 + 2 * 11 + 5, "3 CIRCLE, 2 ARC, 5 LINE"}},
    {"issue_2229.dxf", {Outcome::Loads, -1, "polyface meshes with subclass markers"}},
    {"lineTest.dxf", {Outcome::Loads, 2 + 1, "2 3DFACE, 1 LINE"}},
    {"netdxf_sample.dxf", {Outcome::Loads, -1, "CR LF lines; every polyline kind and most entity kinds"}},
    {"points.dxf", {Outcome::Loads, 2, "2 POINT"}},
    {"polylines.dxf", {Outcome::Loads, 12, "12 3D polylines"}},
    {"r12_blocks_with_no_names.dxf", {Outcome::NoPoints, -1, "its blocks and entities hold no geometry"}},
    {"small_r13.dxf", {Outcome::Loads, 16, "16 2D polylines"}},
    {"t.r12.dxf", {Outcome::Loads, 1, "one LINE"}},
    {"t.r14.dxf", {Outcome::Loads, 1, "one LINE"}},
    {"t.r2000.dxf", {Outcome::Loads, 1, "one LINE"}},
    {"t.r2013.dxf", {Outcome::Loads, 1, "one LINE"}},
    {"t.r9.dxf", {Outcome::Loads, 1, "one LINE"}},
    {"uncommon.dxf", {Outcome::Loads, -1, "polyface meshes, POINT, ARC, CIRCLE, LINE; other kinds passed over"}},
    {"wuson.dxf", {Outcome::Loads, 3732, "a polyface mesh of 3732 faces inside BLOCKS"}},
};

Outcome OutcomeOf(const unit::Load& load) {
    if (load.sniffed == 0) return g_Scene.BinaryDxfSeen ? Outcome::Binary : Outcome::NotRecognised;
    if (load.read == 1) return Outcome::Loads;
    return g_Scene.PointCount == 0 ? Outcome::NoPoints : Outcome::ReadError;
}

TEST_F(DxfReader, CorpusFilesLoadOrAreRefusedForTheirReason) {
    const std::vector<fs::path> files = host_support::CorpusFiles("dxf", ".txt");
    for (const fs::path& path : files) {
        const std::string name = path.filename().string();
        ASSERT_TRUE(kCorpus.count(name)) << name << " has no expected outcome";
        const CorpusCase& c = kCorpus.at(name);
        EXPECT_EQ(OutcomeOf(LoadPath(path)), c.outcome) << name << ": " << c.why;
        const int elements = g_Scene.PolygonCount + g_Scene.LineCount + g_Scene.DotCount;
        EXPECT_TRUE(c.outcome != Outcome::Loads || elements > 0) << name;
        EXPECT_TRUE(c.elements < 0 || elements == c.elements) << name << ": " << elements << ", " << c.why;
    }
    EXPECT_EQ(files.size(), kCorpus.size());
}

}  // namespace
