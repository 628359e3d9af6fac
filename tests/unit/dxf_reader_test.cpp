// The DXF reader: sniffing, the text rules of the group-pair input, each
// entity kind, each polyline kind, layers as surfaces and the welded finish;
// drawings written by ezdxf; the corpus; truncated and corrupted files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/dxf/dxf.h"
#include "formats/dxf/dxf_internal.h"
#include "frame/module_heap.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace fs = std::filesystem;

namespace {

using Point = std::array<float, 3>;

// ---- Writing DXF text ---------------------------------------------------------------

struct Group {
    int code;
    std::string value;
};

std::string Text(const std::vector<Group>& groups, const std::string& lineEnd = "\n") {
    std::string out;
    for (const Group& g : groups) {
        char code[16];
        std::snprintf(code, sizeof code, "%3d", g.code);
        out += code + lineEnd + g.value + lineEnd;
    }
    return out;
}

std::vector<Group> operator+(std::vector<Group> a, const std::vector<Group>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Num(double v) {
    std::ostringstream s;
    s.precision(9);
    s << v;
    return s.str();
}

std::vector<Group> Xyz(double x, double y, double z, int first = 10) {
    return {{first, Num(x)}, {first + 10, Num(y)}, {first + 20, Num(z)}};
}

std::vector<Group> Section(const std::string& name, const std::vector<Group>& body) {
    return std::vector<Group>{{0, "SECTION"}, {2, name}} + body + std::vector<Group>{{0, "ENDSEC"}};
}

std::vector<Group> EndOfFile() { return {{0, "EOF"}}; }

// A drawing with one "ENTITIES" section.
std::string Drawing(const std::vector<Group>& entities, const std::string& lineEnd = "\n") {
    return Text(Section("ENTITIES", entities) + EndOfFile(), lineEnd);
}

std::vector<Group> PointEntity(double x, double y, double z) { return std::vector<Group>{{0, "POINT"}} + Xyz(x, y, z); }

std::vector<Group> Vertex(double x, double y, double z, int flags) {
    return std::vector<Group>{{0, "VERTEX"}} + Xyz(x, y, z) + std::vector<Group>{{70, std::to_string(flags)}};
}

std::vector<Group> Polyline(int flags, const std::vector<Group>& extraHeader = {}) {
    return std::vector<Group>{{0, "POLYLINE"}, {8, "PL"}, {66, "1"}, {70, std::to_string(flags)}} + extraHeader;
}

std::vector<Group> SeqEnd() { return {{0, "SEQEND"}}; }

// ---- Reading through the module -------------------------------------------------------

fs::path TempDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("tamlorn_dxf_reader_" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
    const fs::path path = TempDir() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Load {
    int32_t sniffed = 0;
    int32_t read = 0;
};

// The driver's steps: reset, first chunks, the sniffer on the head, then the reader.
Load LoadPath(const std::string& path) {
    SceneReset();
    EXPECT_EQ(SceneAllocateFirstChunks(), 1);
    std::string head = ReadBytes(path).substr(0, kTextSampleBytes);
    std::vector<uint8_t> sample(head.begin(), head.end());
    sample.push_back(0);
    Load load;
    load.sniffed = DxfSniff(static_cast<int32_t>(head.size()), sample.data());
    g_Scene.DetectedFormat = kFormatDXF;
    load.read = DxfReadFile(path.c_str());
    return load;
}

Load LoadText(const std::string& text) { return LoadPath(WriteTemp("drawing.dxf", text)); }

int32_t ReadText(const std::string& text) { return LoadText(text).read; }

Point ScenePoint(uint32_t i) {
    const float* p = ScenePointAt(static_cast<int32_t>(i));
    return {p[0], p[1], p[2]};
}

struct Element {
    std::vector<uint32_t> refs;
    uint32_t surface;
};

std::vector<Element> ReadStream(ChunkStream& stream, int32_t records, bool polygons) {
    std::vector<Element> out;
    StreamWalker w = WalkerBegin(stream);
    for (int32_t r = 0; r < records; ++r) {
        Element e;
        const uint32_t n = *WalkerWord(w) & 0xFFFFu;
        for (uint32_t k = 0; k < n; ++k) {
            if (polygons) WalkerNextChunkIfDone(w);
            e.refs.push_back(*WalkerWord(w));
        }
        e.surface = *WalkerWord(w) & 0xFFFFu;
        if (!polygons) WalkerNextChunkIfDone(w);
        out.push_back(e);
    }
    return out;
}

std::vector<Element> Polygons() { return ReadStream(g_Scene.PolygonStream, g_Scene.PolygonCount, true); }
std::vector<Element> Lines() { return ReadStream(g_Scene.LineStream, g_Scene.LineCount, false); }
std::vector<Element> Dots() { return ReadStream(g_Scene.DotStream, g_Scene.DotCount, false); }

// An element's corners as scene points.
std::vector<Point> Corners(const Element& e) {
    std::vector<Point> out;
    for (uint32_t ref : e.refs) out.push_back(ScenePoint(ref));
    return out;
}

std::string SurfaceName(uint32_t surface) { return g_Scene.SurfaceNames[surface - 1]; }

// The scene point of DXF (x, y, z).
Point P(float x, float y, float z) { return {x, z, y}; }

class DxfReader : public ::testing::Test {
protected:
    void TearDown() override {
        ModuleHeapFailAt(0);
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), 0);
    }
};

// ---- Sniffing ---------------------------------------------------------------------

int32_t Sniff(const std::string& text) {
    g_Scene.BinaryDxfSeen = false;
    std::vector<uint8_t> sample(text.begin(), text.end());
    sample.push_back(0);
    return DxfSniff(static_cast<int32_t>(text.size()), sample.data());
}

std::string TwelveLines() { return Drawing(PointEntity(1, 2, 3)); }

TEST(DxfSniffing, BinarySentinelIsRefusedAndRemembered) {
    const std::string sentinel = std::string("AutoCAD Binary DXF\r\n\x1a", 21) + std::string(40, '\0');
    EXPECT_EQ(Sniff(sentinel), 0);
    EXPECT_TRUE(g_Scene.BinaryDxfSeen);
    EXPECT_EQ(Sniff(sentinel.substr(0, 20)), 0);
    EXPECT_FALSE(g_Scene.BinaryDxfSeen);
    EXPECT_EQ(Sniff(ReadBytes(fs::path(TAMLORN_CORPUS_DIR) / "dxf" / "diamond-bin.dxf").substr(0, 1000)), 0);
    EXPECT_TRUE(g_Scene.BinaryDxfSeen);
}

TEST(DxfSniffing, NulBytesAndLateLineEndsAreRefused) {
    const std::string text = TwelveLines();
    ASSERT_EQ(Sniff(text), 1);
    std::string withNul = text;
    withNul[40] = '\0';
    EXPECT_EQ(Sniff(withNul), 0);
    std::string nulLater = text;  // past byte 49 a NUL only ends the tokens' text
    nulLater.append(std::string(1, '\0') + "junk");
    EXPECT_EQ(Sniff(nulLater), 1);
    EXPECT_EQ(Sniff(std::string(50, ' ') + text), 0);
    EXPECT_EQ(Sniff(std::string(44, ' ') + text), 1);
    EXPECT_EQ(Sniff(""), 0);
}

TEST(DxfSniffing, NeedsElevenLineBreaksWithoutCountingBlankLines) {
    const std::string ten = "0\nSECTION\n2\nHEADER\n9\n$X\n1\nA\n0\nENDSEC\n";
    EXPECT_EQ(Sniff(ten + "0"), 0);  // the last line has no line end: 10 breaks
    EXPECT_EQ(Sniff(ten + "\n\n  \n\r\n"), 0);
    EXPECT_EQ(Sniff(ten + "\n\n  \n0\n"), 1);
}

TEST(DxfSniffing, FirstSectionNames) {
    const std::string tail = "9\n$A\n1\nB\n0\nENDSEC\n0\nEOF\n";
    EXPECT_EQ(Sniff("  0\nSECTION\n  2\nHEADER\n" + tail), 1);
    EXPECT_EQ(Sniff("0\nSECTION\n2\nENTITIES\n" + tail), 1);
    EXPECT_EQ(Sniff("0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n" + tail), 1);
    EXPECT_EQ(Sniff("0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n" + tail), 1);
    EXPECT_EQ(Sniff("0\nSECTION\n2\nTABLES\n9\nX\n9\nX\n9\nX\n" + tail), 0);
    EXPECT_EQ(Sniff("0\nSECTION \n2\nHEADER\n" + tail), 0);  // a token is the whole rest of its line
    EXPECT_EQ(Sniff("999\ncomment\n0\nSECTION\n2\nHEADER\n" + tail), 1);
}

TEST(DxfSniffing, LineEndStyles) {
    const std::string lf = TwelveLines();
    EXPECT_EQ(Sniff(lf), 1);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndLF);
    EXPECT_EQ(Sniff(Drawing(PointEntity(1, 2, 3), "\r\n")), 1);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCRLF);
    const std::string cr = Drawing(PointEntity(1, 2, 3), "\r");
    std::vector<uint8_t> sample(cr.begin(), cr.end());
    sample.push_back(0);
    EXPECT_EQ(DxfSniff(static_cast<int32_t>(cr.size()), sample.data()), 1);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndCR);
    EXPECT_EQ(std::string(sample.begin(), sample.end() - 1), cr);  // the caller's sample is not changed
}

// ---- Text rules -------------------------------------------------------------------

TEST_F(DxfReader, LineEndStylesReadAlike) {
    const std::vector<Group> entities = PointEntity(1, 2, 3) + std::vector<Group>{{0, "LINE"}} + Xyz(4, 5, 6) +
                                        Xyz(7, 8, 9, 11);
    for (const char* lineEnd : {"\n", "\r\n", "\r"}) {
        ASSERT_EQ(LoadText(Drawing(entities, lineEnd)).sniffed, 1);
        ASSERT_EQ(g_Scene.PointCount, 3) << "line end " << int(lineEnd[0]) << int(lineEnd[1]);
        EXPECT_EQ(ScenePoint(0), P(1, 2, 3));
        EXPECT_EQ(ScenePoint(2), P(7, 8, 9));
        EXPECT_EQ(g_Scene.LineCount, 1);
        EXPECT_EQ(g_Scene.DotCount, 1);
        SceneFree();
    }
}

TEST_F(DxfReader, TrailingBlanksAndCommentsAreNoObstacle) {
    const std::string text = "999\nwritten by hand\n  0  \nSECTION   \n  2\nENTITIES  \n  0\nPOINT \n 10\n 1.5  \n"
                             " 20\n2\n 30\n3\n  0\nENDSEC   \n  0\nEOF\n";
    ASSERT_EQ(ReadText(text), 1);
    ASSERT_EQ(g_Scene.PointCount, 1);
    EXPECT_EQ(ScenePoint(0), P(1.5f, 2, 3));
}

TEST_F(DxfReader, TheFinalEofNeedsALineEnd) {
    const std::string text = Drawing(PointEntity(1, 2, 3));
    EXPECT_EQ(ReadText(text), 1);
    SceneFree();
    EXPECT_EQ(ReadText(text.substr(0, text.size() - 1)), 0);
    SceneFree();
    // After the end of the drawing nothing more is read, whatever follows.
    EXPECT_EQ(ReadText(text + "junk\nmore junk\n"), 1);
    EXPECT_EQ(g_Scene.PointCount, 1);
}

TEST_F(DxfReader, EofMustBeWithinTheLast100Bytes) {
    const std::string text = Drawing(PointEntity(1, 2, 3));
    EXPECT_EQ(ReadText(text + "999\n" + std::string(100, 'x') + "\n"), 0);
    SceneFree();
    EXPECT_EQ(ReadText(text + "999\n" + std::string(80, 'x') + "\n"), 1);
    SceneFree();
    EXPECT_EQ(ReadText(""), 0);
    SceneFree();
    EXPECT_EQ(LoadPath((TempDir() / "missing.dxf").string()).read, 0);
}

TEST(DxfEofMarker, ShortFilesAndMixedCase) {
    EXPECT_EQ(DxfHasEofMarker(WriteTemp("eof1", "EOF").c_str()), 1);
    EXPECT_EQ(DxfHasEofMarker(WriteTemp("eof2", "eOf").c_str()), 1);
    EXPECT_EQ(DxfHasEofMarker(WriteTemp("eof3", "OF").c_str()), 0);
    EXPECT_EQ(DxfHasEofMarker(WriteTemp("eof4", "").c_str()), 0);
    EXPECT_EQ(DxfHasEofMarker(WriteTemp("eof5", "EOF" + std::string(97, ' ')).c_str()), 1);
    EXPECT_EQ(DxfHasEofMarker(WriteTemp("eof6", "EOF" + std::string(98, ' ')).c_str()), 0);
    EXPECT_EQ(DxfHasEofMarker((TempDir() / "missing").c_str()), 0);
}

// A code line must hold one integer: anything else means the pairs are out of step.
TEST_F(DxfReader, ACodeLineThatIsNotANumberIsAReadError) {
    EXPECT_EQ(ReadText(Text(Section("ENTITIES", PointEntity(1, 2, 3) + std::vector<Group>{{0, "X"}}) + EndOfFile()) +
                       "x10\n1\n"),
              1);  // after "EOF" nothing is read
    SceneFree();
    std::string text = Drawing(PointEntity(1, 2, 3));
    text.replace(text.find(" 10\n"), 4, "1O\n");
    EXPECT_EQ(ReadText(text), 0);
    SceneFree();
    text = Drawing(PointEntity(1, 2, 3));
    text.replace(text.find(" 10\n"), 4, "+10 \n");
    EXPECT_EQ(ReadText(text), 1);
}

// Long lines are cut to 511 characters: long texts of entities that are passed
// over must not fail the drawing.
TEST_F(DxfReader, LinesLongerThan511CharactersAreCut) {
    const std::string longLayer(600, 'L');
    const std::vector<Group> entities = std::vector<Group>{{0, "TEXT"}, {1, std::string(5000, 't')}, {8, "A"}} +
                                        std::vector<Group>{{0, "POINT"}, {8, longLayer}} + Xyz(1, 2, 3);
    ASSERT_EQ(ReadText(Drawing(entities)), 1);
    ASSERT_EQ(g_Scene.DotCount, 1);
    EXPECT_EQ(SurfaceName(Dots()[0].surface), std::string(kSurfaceNameBytes - 1, 'L'));
}

TEST_F(DxfReader, SectionsOtherThanBlocksAndEntitiesArePassedOver) {
    const std::vector<Group> header = {{9, "$ACADVER"}, {1, "AC1009"}, {0, "POINT"}, {10, "5"}};
    const std::vector<Group> tables = {{0, "TABLE"}, {2, "LAYER"}, {0, "LAYER"}, {2, "WALLS"}, {0, "ENDTAB"}};
    const std::vector<Group> objects = PointEntity(7, 7, 7);
    EXPECT_EQ(ReadText(Text(Section("HEADER", header) + Section("TABLES", tables) + EndOfFile())), 0);  // no point
    SceneFree();
    ASSERT_EQ(ReadText(Text(Section("HEADER", header) + Section("TABLES", tables) + Section("OBJECTS", objects) +
                            Section("ENTITIES", PointEntity(1, 2, 3)) + EndOfFile())),
              1);
    ASSERT_EQ(g_Scene.PointCount, 1);
    EXPECT_EQ(ScenePoint(0), P(1, 2, 3));
}

TEST_F(DxfReader, UnclosedSectionsAndEmptyCodeLinesFail) {
    EXPECT_EQ(ReadText(Text(std::vector<Group>{{0, "SECTION"}, {2, "ENTITIES"}} + PointEntity(1, 2, 3) + EndOfFile())),
              0);
    SceneFree();
    EXPECT_EQ(ReadText(Text(std::vector<Group>{{0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}} + EndOfFile())), 0);
    SceneFree();
    std::string text = Drawing(PointEntity(1, 2, 3));
    text.insert(text.find("  0\nENDSEC"), "\n");
    EXPECT_EQ(ReadText(text), 0);
}

TEST(DxfValues, NumbersReadAsTheCLibraryReadsThemInTheCLocale) {
    for (const char* token : {"1.5", "  -2.25", "+3", "-.5", "7.", "1e2", "1E+02", "2.5e-3", "0", "-0", "abc", "",
                              "1.5x", "+-1", "--1", "1e400", "-1e400", "1e-400", "-1e-400", "0.00001e-320",
                              "123456789012345678901234567890", "inf", "-INFINITY", "1e", ".e1", "00012.5000"}) {
        const float expected = static_cast<float>(std::strtod(token, nullptr));
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
    EXPECT_EQ(DxfValueInt("    70"), 70);
    EXPECT_EQ(DxfValueInt("+64"), 64);
    EXPECT_EQ(DxfValueInt("-3"), -3);
    EXPECT_EQ(DxfValueInt("12abc"), 12);
    EXPECT_EQ(DxfValueInt("abc"), 0);
    EXPECT_EQ(DxfValueInt("2147483647"), INT32_MAX);
    EXPECT_EQ(DxfValueInt("2147483648"), INT32_MAX);
    EXPECT_EQ(DxfValueInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(DxfValueInt("-99999999999999999999999"), INT32_MIN);
}

// ---- Entities ----------------------------------------------------------------------

TEST_F(DxfReader, PointAndLine) {
    const std::vector<Group> entities =
        PointEntity(1, 2, 3) + std::vector<Group>{{0, "LINE"}, {8, "A"}} + Xyz(4, 5, 6) + Xyz(4, 5, 6, 11) +
        Xyz(0, 0, 1, 210);
    ASSERT_EQ(ReadText(Drawing(entities)), 1);
    // The line's two equal ends are two points, welded into one.
    EXPECT_EQ(g_Scene.PointCount, 2);
    ASSERT_EQ(g_Scene.DotCount, 1);
    EXPECT_EQ(Corners(Dots()[0]), std::vector<Point>{P(1, 2, 3)});
    ASSERT_EQ(g_Scene.LineCount, 1);
    EXPECT_EQ(Corners(Lines()[0]), (std::vector<Point>{P(4, 5, 6), P(4, 5, 6)}));
    EXPECT_EQ(SurfaceName(Dots()[0].surface), "default");
    EXPECT_EQ(SurfaceName(Lines()[0].surface), "A");
}

// Every coordinate slot starts at 0 for each entity: an absent group is 0.
TEST_F(DxfReader, AbsentCoordinateGroupsReadAsZero) {
    const std::vector<Group> entities = PointEntity(1, 2, 3) + std::vector<Group>{{0, "LINE"}, {10, "4"}, {21, "5"}} +
                                        std::vector<Group>{{0, "CIRCLE"}, {40, "1"}, {10, "9"}};
    ASSERT_EQ(ReadText(Drawing(entities)), 1);
    EXPECT_EQ(Corners(Lines()[0]), (std::vector<Point>{P(4, 0, 0), P(0, 5, 0)}));
    EXPECT_EQ(Corners(Lines()[1])[0], P(10, 0, 0));  // circle at (9, 0, 0), radius 1
}

std::vector<Group> Face(const std::vector<Point>& corners) {
    std::vector<Group> g = {{0, "3DFACE"}};
    for (size_t k = 0; k < corners.size(); ++k) g = g + Xyz(corners[k][0], corners[k][1], corners[k][2], 10 + int(k % 4));
    return g;
}

TEST_F(DxfReader, FaceCornersAndTheRepeatedCornerRule) {
    const Point a = {0, 0, 0}, b = {1, 0, 0}, c = {1, 1, 0}, d = {0, 1, 0};
    auto dxf = [](const Point& p) { return P(p[0], p[1], p[2]); };
    struct Case {
        std::vector<Point> corners;
        std::vector<Point> expected;
    };
    const Case cases[] = {
        {{a, b, c, d}, {a, b, c, d}},
        {{a, b, c, c}, {a, b, c}},
        {{a, b, c, a}, {a, b, c}},
        {{a, a, c, c}, {a, c, c}},   // only the first repeat is dropped
        {{a, b, c}, {a, b, c}},
        {{a, b, b}, {a, b}},          // a line
        {{a, a}, {a}},                // a dot
        {{a, b, c, d, {5, 5, 5}}, {a, b, c, d}},  // corners after the fourth are ignored
    };
    for (const Case& test : cases) {
        ASSERT_EQ(ReadText(Drawing(Face(test.corners))), 1);
        std::vector<Element> elements = Polygons();
        for (const Element& e : Lines()) elements.push_back(e);
        for (const Element& e : Dots()) elements.push_back(e);
        ASSERT_EQ(elements.size(), 1u);
        std::vector<Point> expected;
        for (const Point& p : test.expected) expected.push_back(dxf(p));
        EXPECT_EQ(Corners(elements[0]), expected) << test.corners.size();
        SceneFree();
    }
    // A face without any z group has no corner: an element of no points fails the file.
    EXPECT_EQ(ReadText(Drawing({{0, "3DFACE"}, {10, "1"}, {20, "2"}})), 0);
}

void ExpectRing(const std::vector<Element>& elements, size_t first, Point centre, float radius, float height,
                float startDegrees, float stepDegrees) {
    for (size_t k = 0; k < 12; ++k) {
        const float radians = (startDegrees + float(k) * stepDegrees) * 0.017453292f;
        const Point expected = P(centre[0] + float(double(radius) * std::cos(double(radians))),
                                 centre[1] + float(double(radius) * std::sin(double(radians))), height);
        const Element& e = elements[std::min(first + k, elements.size() - 1)];
        const Point got = k + first < elements.size() ? Corners(e)[0] : Corners(e)[1];
        EXPECT_EQ(got, expected) << "ring point " << k;
    }
}

TEST_F(DxfReader, CircleIsAClosedChainOfTwelveEdges) {
    ASSERT_EQ(ReadText(Drawing({{0, "CIRCLE"}, {10, "10"}, {20, "20"}, {30, "3"}, {40, "2"}})), 1);
    EXPECT_EQ(g_Scene.PointCount, 12);
    ASSERT_EQ(g_Scene.LineCount, 12);
    const std::vector<Element> lines = Lines();
    for (uint32_t k = 0; k < 11; ++k) EXPECT_EQ(lines[k].refs, (std::vector<uint32_t>{k, k + 1}));
    EXPECT_EQ(lines[11].refs, (std::vector<uint32_t>{0, 11}));
    std::vector<Element> chain(lines.begin(), lines.begin() + 11);
    ExpectRing(chain, 0, {10, 20, 3}, 2, 3, 0, 30);
}

TEST_F(DxfReader, CircleWithThicknessIsABandOfTwelveQuadrilaterals) {
    ASSERT_EQ(ReadText(Drawing({{0, "CIRCLE"}, {10, "0"}, {20, "0"}, {30, "1"}, {39, "5"}, {40, "2"}})), 1);
    EXPECT_EQ(g_Scene.PointCount, 24);
    ASSERT_EQ(g_Scene.PolygonCount, 12);
    const std::vector<Element> quads = Polygons();
    EXPECT_EQ(quads[0].refs, (std::vector<uint32_t>{12, 13, 1, 0}));
    EXPECT_EQ(quads[11].refs, (std::vector<uint32_t>{0, 11, 23, 12}));
    EXPECT_EQ(ScenePoint(12)[1], 6.0f);  // the raised ring
    EXPECT_EQ(ScenePoint(0)[1], 1.0f);
}

TEST_F(DxfReader, CirclesWithoutRadiusGiveNothing) {
    for (const char* radius : {"0", "-1", "nan"}) {
        ASSERT_EQ(ReadText(Drawing(std::vector<Group>{{0, "CIRCLE"}, {40, radius}} + PointEntity(1, 2, 3))), 1);
        EXPECT_EQ(g_Scene.PointCount, 1) << radius;
        EXPECT_EQ(g_Scene.LineCount, 0) << radius;
        SceneFree();
    }
}

std::vector<Group> Arc(const std::string& start, const std::string& end, const std::string& thickness = "0") {
    return {{0, "ARC"}, {10, "0"}, {20, "0"}, {30, "0"}, {39, thickness}, {40, "1"}, {50, start}, {51, end}};
}

TEST_F(DxfReader, ArcSweeps) {
    struct Case {
        const char* start;
        const char* end;
        float first;
        float sweep;
    };
    const Case cases[] = {{"350", "10", 350, 20}, {"10", "100", 10, 90}, {"400", "30", 40, 350},
                          {"10", "730", 10, 0},   {"100", "-1000", 100, 740}};
    for (const Case& test : cases) {
        ASSERT_EQ(ReadText(Drawing(Arc(test.start, test.end) + PointEntity(50, 50, 50))), 1);
        ASSERT_EQ(g_Scene.LineCount, 11) << test.start;
        SCOPED_TRACE(test.start);
        ExpectRing(Lines(), 0, {0, 0, 0}, 1, 0, test.first, test.sweep / 11);
        SceneFree();
    }
    // From 10 to 370 the sweep is 0: twelve points at the start angle, welded into one.
    ASSERT_EQ(ReadText(Drawing(Arc("10", "370"))), 1);
    EXPECT_EQ(g_Scene.PointCount, 1);
    EXPECT_EQ(g_Scene.LineCount, 11);
}

TEST_F(DxfReader, ArcWithThicknessAndArcsThatAreNotStored) {
    ASSERT_EQ(ReadText(Drawing(Arc("0", "90", "2"))), 1);
    EXPECT_EQ(g_Scene.PointCount, 24);
    ASSERT_EQ(g_Scene.PolygonCount, 11);
    EXPECT_EQ(Polygons()[10].refs, (std::vector<uint32_t>{22, 23, 11, 10}));
    SceneFree();
    // Equal angles, and angles whose whole turns cannot be taken off (infinite, NaN), store nothing.
    for (const auto& [start, end] : std::vector<std::pair<std::string, std::string>>{
             {"30", "30"}, {"inf", "10"}, {"10", "nan"}, {"1e39", "10"}, {"-3e38", "3e38"}}) {
        ASSERT_EQ(ReadText(Drawing(Arc(start, end) + PointEntity(5, 5, 5))), 1);
        EXPECT_EQ(g_Scene.PointCount, 1) << start << " " << end;
        SceneFree();
    }
    // A huge but finite start angle still gives twelve finite points.
    ASSERT_EQ(ReadText(Drawing(Arc("1e30", "10"))), 1);
    EXPECT_EQ(g_Scene.LineCount, 11);
    for (int32_t i = 0; i < g_Scene.PointCount; ++i) EXPECT_TRUE(std::isfinite(ScenePoint(i)[0]));
}

TEST_F(DxfReader, LayersBecomeSurfaces) {
    const std::vector<Group> entities = PointEntity(1, 1, 1) +
                                        std::vector<Group>{{0, "POINT"}, {8, "WALLS"}, {10, "2"}} +
                                        std::vector<Group>{{0, "POINT"}, {10, "3"}} +  // keeps WALLS
                                        std::vector<Group>{{0, "TEXT"}, {8, "NOTES"}} +  // not read
                                        std::vector<Group>{{0, "POINT"}, {10, "4"}} +
                                        std::vector<Group>{{0, "POINT"}, {8, "ROOF"}, {10, "5"}};
    ASSERT_EQ(ReadText(Drawing(entities)), 1);
    const std::vector<Element> dots = Dots();
    ASSERT_EQ(dots.size(), 5u);
    std::vector<std::string> names;
    for (const Element& e : dots) names.push_back(SurfaceName(e.surface));
    EXPECT_EQ(names, (std::vector<std::string>{"default", "WALLS", "WALLS", "WALLS", "ROOF"}));
    EXPECT_EQ(g_Scene.SurfaceCount, 3);
}

TEST_F(DxfReader, BlocksAreImportedWhereTheyStandAndReferencesAddNothing) {
    const std::vector<Group> blocks = std::vector<Group>{{0, "BLOCK"}, {8, "0"}, {2, "B"}} + Xyz(0, 0, 0) +
                                      PointEntity(1, 2, 3) + std::vector<Group>{{0, "ENDBLK"}};
    const std::vector<Group> entities = std::vector<Group>{{0, "INSERT"}, {2, "B"}} + Xyz(10, 10, 10) +
                                        PointEntity(4, 5, 6);
    ASSERT_EQ(ReadText(Text(Section("BLOCKS", blocks) + Section("ENTITIES", entities) + EndOfFile())), 1);
    EXPECT_EQ(g_Scene.PointCount, 2);
    EXPECT_EQ(ScenePoint(0), P(1, 2, 3));
    EXPECT_EQ(ScenePoint(1), P(4, 5, 6));
}

TEST_F(DxfReader, EqualPointsOfDifferentEntitiesAreWelded) {
    const std::vector<Group> entities = std::vector<Group>{{0, "LINE"}} + Xyz(0, 0, 0) + Xyz(1, 0, 0, 11) +
                                        std::vector<Group>{{0, "LINE"}} + Xyz(1, 0, 0) + Xyz(1, 1, 0, 11) +
                                        std::vector<Group>{{0, "LINE"}} + Xyz(1, 1, 0) + Xyz(-0.0, 0, 0, 11);
    ASSERT_EQ(ReadText(Drawing(entities)), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);  // -0 is not 0
    const std::vector<Element> lines = Lines();
    EXPECT_EQ(lines[0].refs, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(lines[1].refs, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(lines[2].refs, (std::vector<uint32_t>{2, 3}));
}

// ---- Polylines ---------------------------------------------------------------------

TEST_F(DxfReader, OpenAndClosedPaths) {
    // Open (flags 0), the last vertex repeating the first: a triangle of three points.
    const std::vector<Group> open = Polyline(0) + Vertex(0, 0, 0, 0) + Vertex(1, 0, 0, 0) + Vertex(1, 1, 0, 0) +
                                    Vertex(0, 0, 0, 0) + SeqEnd();
    ASSERT_EQ(ReadText(Drawing(open)), 1);
    ASSERT_EQ(g_Scene.PolygonCount, 1);
    EXPECT_EQ(Corners(Polygons()[0]), (std::vector<Point>{P(0, 0, 0), P(1, 0, 0), P(1, 1, 0)}));
    EXPECT_EQ(SurfaceName(Polygons()[0].surface), "PL");
    SceneFree();
    // Closed (flags 1): every vertex is kept.
    const std::vector<Group> closed = Polyline(1) + Vertex(0, 0, 0, 0) + Vertex(1, 0, 0, 0) + Vertex(1, 1, 0, 0) +
                                      Vertex(0, 0, 0, 0) + SeqEnd();
    ASSERT_EQ(ReadText(Drawing(closed)), 1);
    ASSERT_EQ(g_Scene.PolygonCount, 1);
    EXPECT_EQ(Corners(Polygons()[0]), (std::vector<Point>{P(0, 0, 0), P(1, 0, 0), P(1, 1, 0), P(0, 0, 0)}));
}

TEST_F(DxfReader, ThreeDimensionalPaths) {
    ASSERT_EQ(ReadText(Drawing(Polyline(8) + Vertex(0, 0, 0, 32) + Vertex(1, 2, 3, 32) + SeqEnd())), 1);
    ASSERT_EQ(g_Scene.LineCount, 1);
    EXPECT_EQ(Corners(Lines()[0]), (std::vector<Point>{P(0, 0, 0), P(1, 2, 3)}));
    SceneFree();
    std::vector<Group> five = Polyline(8);
    for (int k = 0; k < 5; ++k) five = five + Vertex(k, k * k, 1, 32);
    ASSERT_EQ(ReadText(Drawing(five + SeqEnd())), 1);
    ASSERT_EQ(g_Scene.PolygonCount, 1);
    EXPECT_EQ(Polygons()[0].refs.size(), 5u);
}

TEST_F(DxfReader, PolylinesThatArePassedOver) {
    const std::vector<Group> noVertexFlag = std::vector<Group>{{0, "POLYLINE"}, {70, "8"}} + Vertex(0, 0, 0, 32) +
                                            Vertex(1, 1, 1, 32) + SeqEnd();
    const std::vector<Group> curveFitOnly = Polyline(4) + Vertex(0, 0, 0, 0) + Vertex(1, 1, 1, 0) + SeqEnd();
    ASSERT_EQ(ReadText(Drawing(noVertexFlag + curveFitOnly + PointEntity(9, 9, 9))), 1);
    EXPECT_EQ(g_Scene.PointCount, 1);
    EXPECT_EQ(g_Scene.PolygonCount + g_Scene.LineCount, 0);
}

// A list ended by another entity or by "ENDSEC" instead of "SEQEND" still
// stores its path; the entity that ended it is read.
TEST_F(DxfReader, AVertexListWithoutSeqend) {
    const std::vector<Group> path = Polyline(8) + Vertex(0, 0, 0, 32) + Vertex(1, 0, 0, 32) + Vertex(1, 1, 0, 32);
    ASSERT_EQ(ReadText(Drawing(path + PointEntity(5, 5, 5))), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 1);
    EXPECT_EQ(g_Scene.DotCount, 1);
    SceneFree();
    ASSERT_EQ(ReadText(Drawing(path)), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 1);
}

// A path longer than an element may be keeps its points but stores no
// element; the rest of the drawing is read.
TEST_F(DxfReader, APathLongerThanAnElementStoresNoElement) {
    std::vector<Group> path = Polyline(8);
    for (int k = 0; k <= kMaxCorners; ++k) {
        const std::vector<Group> vertex = Vertex(k, 0, 0, 32);
        path.insert(path.end(), vertex.begin(), vertex.end());
    }
    ASSERT_EQ(ReadText(Drawing(path + SeqEnd() + Polyline(8) + Vertex(0, 1, 0, 32) + Vertex(0, 2, 0, 32) + SeqEnd())),
              1);
    EXPECT_EQ(g_Scene.PointCount, kMaxCorners + 3);
    EXPECT_EQ(g_Scene.PolygonCount, 0);
    EXPECT_EQ(g_Scene.LineCount, 1);
}

std::vector<Group> FaceRecord(const std::vector<std::string>& indices) {
    std::vector<Group> g = Vertex(0, 0, 0, 128);
    for (size_t k = 0; k < indices.size(); ++k) g.push_back({71 + int(k), indices[k]});
    return g;
}

TEST_F(DxfReader, PolyfaceMesh) {
    const std::vector<Group> mesh = Polyline(64, {{71, "4"}, {72, "2"}}) + Vertex(0, 0, 0, 192) +
                                    Vertex(1, 0, 0, 192) + Vertex(1, 1, 0, 192) + Vertex(0, 1, 0, 192) +
                                    FaceRecord({"1", "2", "3"}) + FaceRecord({"1", "-3", "4"}) + SeqEnd();
    // A point before the mesh makes its base 1.
    ASSERT_EQ(ReadText(Drawing(PointEntity(9, 9, 9) + mesh)), 1);
    EXPECT_EQ(g_Scene.PointCount, 5);
    ASSERT_EQ(g_Scene.PolygonCount, 2);
    EXPECT_EQ(Polygons()[0].refs, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(Polygons()[1].refs, (std::vector<uint32_t>{1, 3, 4}));
}

TEST_F(DxfReader, FaceRecordsWithTooManyTooFewOrBadIndices) {
    const std::vector<Group> points = Polyline(64) + Vertex(0, 0, 0, 192) + Vertex(1, 0, 0, 192) +
                                      Vertex(1, 1, 0, 192) + Vertex(0, 1, 0, 192) + Vertex(0, 2, 0, 192);
    // Index groups after the fourth are ignored.
    ASSERT_EQ(ReadText(Drawing(points + FaceRecord({"1", "2", "3", "4", "5"}) + SeqEnd())), 1);
    ASSERT_EQ(g_Scene.PolygonCount, 1);
    EXPECT_EQ(Polygons()[0].refs, (std::vector<uint32_t>{0, 1, 2, 3}));
    SceneFree();
    // No index at all: refused. Indices beyond the points, the most negative
    // integer and integers that overflow fail validation.
    for (const std::vector<std::string>& indices : std::vector<std::vector<std::string>>{
             {}, {"1", "2", "9"}, {"1", "2", "-2147483648"}, {"1", "2", "99999999999999"}, {"0", "1", "2"}}) {
        EXPECT_EQ(ReadText(Drawing(points + FaceRecord(indices) + SeqEnd())), 0) << indices.size();
        SceneFree();
    }
}

// A 3 x 4 grid: v(i, j) = (j, i, z), with column 0 or 3 optionally collapsed.
std::vector<Group> Mesh(int flags, bool collapseFirstColumn = false, bool collapseLastColumn = false,
                        int extraVertices = 0) {
    std::vector<Group> g = Polyline(flags, {{71, "3"}, {72, "4"}});
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            const bool tip = (collapseFirstColumn && j == 0) || (collapseLastColumn && j == 3);
            g = g + Vertex(tip ? j : j, tip ? 0 : i, tip ? 7 : i * j, 64);
        }
    }
    for (int k = 0; k < extraVertices; ++k) g = g + Vertex(50 + k, 50, 50, 64);
    return g + SeqEnd();
}

// The index of v(i, j) before welding, for a mesh read first.
uint32_t V(int i, int j) { return uint32_t(i * 4 + j); }

std::vector<std::vector<uint32_t>> PolygonRefs() {
    std::vector<std::vector<uint32_t>> out;
    for (const Element& e : Polygons()) out.push_back(e.refs);
    return out;
}

TEST_F(DxfReader, PolygonMeshOpenAndClosed) {
    ASSERT_EQ(ReadText(Drawing(Mesh(16))), 1);
    EXPECT_EQ(g_Scene.PointCount, 12);
    ASSERT_EQ(g_Scene.PolygonCount, 6);
    EXPECT_EQ(PolygonRefs()[0], (std::vector<uint32_t>{V(0, 0), V(0, 1), V(1, 1), V(1, 0)}));
    EXPECT_EQ(PolygonRefs()[5], (std::vector<uint32_t>{V(1, 2), V(1, 3), V(2, 3), V(2, 2)}));
    SceneFree();
    ASSERT_EQ(ReadText(Drawing(Mesh(17))), 1);  // closed in M: row 2 wraps to row 0
    ASSERT_EQ(g_Scene.PolygonCount, 9);
    EXPECT_EQ(PolygonRefs()[6], (std::vector<uint32_t>{V(2, 0), V(2, 1), V(0, 1), V(0, 0)}));
    SceneFree();
    ASSERT_EQ(ReadText(Drawing(Mesh(48))), 1);  // closed in N: column 3 wraps to column 0
    ASSERT_EQ(g_Scene.PolygonCount, 8);
    EXPECT_EQ(PolygonRefs()[3], (std::vector<uint32_t>{V(1, 0), V(1, 3), V(0, 3), V(0, 0)}));
    SceneFree();
    ASSERT_EQ(ReadText(Drawing(Mesh(49))), 1);  // closed both ways wraps in N only
    EXPECT_EQ(g_Scene.PolygonCount, 8);
}

// The cone: column 0 is one point; the welded tip is index 0.
TEST_F(DxfReader, CollapsedBorderColumnsBecomeTriangles) {
    ASSERT_EQ(ReadText(Drawing(Mesh(16, true))), 1);
    EXPECT_EQ(g_Scene.PointCount, 10);  // three tips welded into one
    ASSERT_EQ(g_Scene.PolygonCount, 6);
    const std::vector<std::vector<uint32_t>> refs = PolygonRefs();
    // v(0, 0) is 0; after welding v(i, j) for j > 0 is i * 3 + j.
    EXPECT_EQ(refs[0], (std::vector<uint32_t>{0, 1, 4}));
    EXPECT_EQ(refs[3], (std::vector<uint32_t>{0, 4, 7}));
    EXPECT_EQ(refs[1].size(), 4u);
    SceneFree();
    ASSERT_EQ(ReadText(Drawing(Mesh(16, false, true))), 1);
    ASSERT_EQ(g_Scene.PolygonCount, 6);
    EXPECT_EQ(Corners(Polygons()[2]), (std::vector<Point>{P(2, 0, 0), P(3, 0, 7), P(2, 1, 2)}));
    SceneFree();
    ASSERT_EQ(ReadText(Drawing(Mesh(17, true))), 1);  // the wrap row too
    ASSERT_EQ(g_Scene.PolygonCount, 9);
    EXPECT_EQ(Corners(Polygons()[6]), (std::vector<Point>{P(0, 0, 7), P(1, 2, 2), P(1, 0, 0)}));
}

// Closed in N with row 0 collapsed: triangles along row 0, the tip taken as
// v(0, 0), in the orientation of the quadrilaterals they replace.
TEST_F(DxfReader, CollapsedRowsOfMeshesClosedInN) {
    std::vector<Group> g = Polyline(48, {{71, "3"}, {72, "4"}});
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) g = g + Vertex(i == 0 ? 0 : (j % 2 ? i : -i), i == 0 ? 0 : (j / 2 ? i : -i), i, 64);
    }
    ASSERT_EQ(ReadText(Drawing(g + SeqEnd())), 1);
    ASSERT_EQ(g_Scene.PolygonCount, 8);
    const std::vector<Element> polygons = Polygons();
    for (int j = 0; j < 4; ++j) EXPECT_EQ(polygons[j].refs.size(), 3u) << j;
    for (int j = 4; j < 8; ++j) EXPECT_EQ(polygons[j].refs.size(), 4u) << j;
    // The wrap column's triangle: tip, v(1, 0), v(1, 3).
    EXPECT_EQ(Corners(polygons[3]), (std::vector<Point>{P(0, 0, 0), P(-1, -1, 1), P(1, 1, 1)}));
}

TEST_F(DxfReader, MeshSizesFromSmoothSizesAndOverflowingSizes) {
    // 72 and 74 in the header: N comes from 72 unless a vertex has bit 8 or 16.
    std::vector<Group> g = Polyline(16, {{71, "2"}, {72, "2"}, {73, "2"}, {74, "3"}});
    for (int k = 0; k < 4; ++k) g = g + Vertex(k % 2, k / 2, 0, 64);
    ASSERT_EQ(ReadText(Drawing(g + SeqEnd())), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 1);
    SceneFree();
    g = Polyline(16, {{71, "2"}, {72, "2"}, {73, "2"}, {74, "3"}});
    for (int k = 0; k < 6; ++k) g = g + Vertex(k % 3, k / 3, 0, 64 + 16);
    ASSERT_EQ(ReadText(Drawing(g + SeqEnd())), 1);
    EXPECT_EQ(g_Scene.PolygonCount, 2);
    SceneFree();
    // Sizes whose product overflows 32 bits, or that are negative, make no faces.
    for (const auto& [m, n] : std::vector<std::pair<std::string, std::string>>{
             {"2147483647", "2147483647"}, {"99999999999", "2"}, {"-2", "-2"}, {"0", "4"}}) {
        g = Polyline(16, {{71, m}, {72, n}});
        for (int k = 0; k < 6; ++k) g = g + Vertex(k, 0, 0, 64);
        ASSERT_EQ(ReadText(Drawing(g + SeqEnd())), 1) << m;
        EXPECT_EQ(g_Scene.PointCount, 6);
        EXPECT_EQ(g_Scene.PolygonCount, 0);
        SceneFree();
    }
}

// Vertices past the M x N grid are kept as points and make no faces.
TEST_F(DxfReader, MeshesWithMorePointsThanTheGrid) {
    ASSERT_EQ(ReadText(Drawing(Mesh(16, false, false, 13))), 1);
    EXPECT_EQ(g_Scene.PointCount, 25);
    EXPECT_EQ(g_Scene.PolygonCount, 6);
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

bool PythonHasEzdxf() { return std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") == 0; }

TEST_F(DxfReader, DrawingWrittenByEzdxf) {
    if (!PythonHasEzdxf()) {
        GTEST_SKIP() << "/usr/bin/python3 cannot import ezdxf";
    }
    const std::string script = WriteTemp("make_drawing.py", kEzdxfScript);
    const std::string path = (TempDir() / "ezdxf_r12.dxf").string();
    ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + path).c_str()), 0);
    const Load load = LoadPath(path);
    ASSERT_EQ(load.sniffed, 1);
    ASSERT_EQ(load.read, 1);
    // Points before welding: point 1, lines 4, faces 4 + 3, circles 12 + 24, arc 12,
    // 2D path 4, 3D path 3, polyface 5 (ezdxf shares the repeated corners), mesh 12,
    // block 1 + 2. Welding joins the lines' shared end only.
    EXPECT_EQ(g_Scene.PointCount, 1 + 4 + 7 + 36 + 12 + 4 + 3 + 5 + 12 + 3 - 1);
    EXPECT_EQ(g_Scene.DotCount, 2);
    EXPECT_EQ(g_Scene.LineCount, 2 + 12 + 11 + 1);
    // Faces 2, band 12, 2D path 1, 3D path 1, polyface 2, mesh (3 - 1) x (4 - 1).
    EXPECT_EQ(g_Scene.PolygonCount, 2 + 12 + 1 + 1 + 2 + 6);
    std::set<std::string> surfaces;
    for (int32_t s = 0; s < g_Scene.SurfaceCount; ++s) surfaces.insert(g_Scene.SurfaceNames[s]);
    EXPECT_EQ(surfaces, (std::set<std::string>{"WALLS", "ROOF", "MESH", "PARTS"}));
    std::map<size_t, int> polygonSizes;
    for (const Element& e : Polygons()) ++polygonSizes[e.refs.size()];
    // Triangles: a face, the 3D path, a polyface face; the rest are quadrilaterals.
    EXPECT_EQ(polygonSizes, (std::map<size_t, int>{{3, 3}, {4, 21}}));
}

// ---- Corpus -------------------------------------------------------------------------

enum class Outcome {
    Loads,
    Binary,         // the sniffer saw the binary sentinel
    NotRecognised,  // the sniffer found no section start in the first ten lines
    NoPoints,       // read to the end, but no supported entity
    ReadError,      // the group pairs end before the drawing's (0, "EOF")
};

struct CorpusCase {
    const char* file;
    Outcome outcome;
    int elements;  // polygons + lines + dots from the entity counts, -1 when not worked out
    const char* why;
};

const CorpusCase kCorpus[] = {
    {"3dface.dxf", Outcome::Loads, 44 + 2, "3DFACE in both sections; LWPOLYLINE, TEXT, MTEXT passed over"},
    {"AC1003_LINE_Example.dxf", Outcome::Loads, 13 + 9 * 11, "13 LINE, 9 ARC of 11 edges"},
    {"Leica_Disto_S910.dxf", Outcome::Loads, 11 + 10, "11 POINT, 10 LINE; TEXT passed over"},
    {"POLI-ALL210_12.DXF", Outcome::Loads, 30 + 1, "30 open and closed 2D polylines, one 3DFACE"},
    {"R12_with_trash_beyond_EOF.dxf", Outcome::Loads, 12, "one CIRCLE; nothing after (0, EOF) is read"},
    {"arc1.dxf", Outcome::ReadError, -1, "the final EOF has no line end: it reads as an empty value"},
    {"bin_dxf_r12.dxf", Outcome::Binary, -1, "binary DXF"},
    {"cc_dxflib.dxf", Outcome::Loads, 1, "one 3D polyline"},
    {"diamond-bin.dxf", Outcome::Binary, -1, "binary DXF"},
    {"empty_handles.dxf", Outcome::NotRecognised, -1,
     "three comment groups push the first section's name and object past the first ten lines"},
    {"extendeddata.dxf", Outcome::Loads, 8, "CR LF lines; 8 LINE with extended data"},
    {"issue1106.dxf", Outcome::Loads, 3 * 12 + 2 * 11 + 5, "3 CIRCLE, 2 ARC, 5 LINE"},
    {"issue_2229.dxf", Outcome::Loads, -1, "polyface meshes with subclass markers"},
    {"lineTest.dxf", Outcome::Loads, 2 + 1, "2 3DFACE, 1 LINE"},
    {"netdxf_sample.dxf", Outcome::Loads, -1, "CR LF lines; every polyline kind and most entity kinds"},
    {"points.dxf", Outcome::Loads, 2, "2 POINT"},
    {"polylines.dxf", Outcome::Loads, 12, "12 3D polylines"},
    {"r12_blocks_with_no_names.dxf", Outcome::NoPoints, -1, "its blocks and entities hold no geometry"},
    {"small_r13.dxf", Outcome::Loads, 16, "16 2D polylines"},
    {"t.r12.dxf", Outcome::Loads, 1, "one LINE"},
    {"t.r14.dxf", Outcome::Loads, 1, "one LINE"},
    {"t.r2000.dxf", Outcome::Loads, 1, "one LINE"},
    {"t.r2013.dxf", Outcome::Loads, 1, "one LINE"},
    {"t.r9.dxf", Outcome::Loads, 1, "one LINE"},
    {"uncommon.dxf", Outcome::Loads, -1, "polyface meshes, POINT, ARC, CIRCLE, LINE; other kinds passed over"},
    {"wuson.dxf", Outcome::Loads, 3732, "a polyface mesh of 3732 faces inside BLOCKS"},
};

Outcome OutcomeOf(const Load& load) {
    if (load.sniffed == 0) return g_Scene.BinaryDxfSeen ? Outcome::Binary : Outcome::NotRecognised;
    if (load.read == 1) return Outcome::Loads;
    return g_Scene.PointCount == 0 ? Outcome::NoPoints : Outcome::ReadError;
}

TEST_F(DxfReader, CorpusFilesLoadOrAreRefusedForTheirReason) {
    const fs::path dir = fs::path(TAMLORN_CORPUS_DIR) / "dxf";
    std::map<std::string, const CorpusCase*> cases;
    for (const CorpusCase& c : kCorpus) cases[c.file] = &c;
    int checked = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        ASSERT_TRUE(cases.count(name)) << name << " has no expected outcome";
        const CorpusCase& c = *cases[name];
        const Load load = LoadPath(entry.path().string());
        EXPECT_EQ(OutcomeOf(load), c.outcome) << name << ": " << c.why;
        const int elements = g_Scene.PolygonCount + g_Scene.LineCount + g_Scene.DotCount;
        if (c.outcome == Outcome::Loads) {
            EXPECT_GT(elements, 0) << name;
        }
        if (c.elements >= 0) {
            EXPECT_EQ(elements, c.elements) << name << ": " << c.why;
        }
        SceneFree();
        ++checked;
    }
    EXPECT_EQ(checked, int(std::size(kCorpus)));
}

// ---- Robustness ---------------------------------------------------------------------

// Truncated and byte-corrupted files: each load ends (the test's timeout
// guards against a hang), and nothing is left allocated.
// Every entity and polyline kind, in both entity sections.
std::string EveryKindDrawing() {
    const std::vector<Group> entities =
        PointEntity(1, 2, 3) + std::vector<Group>{{0, "LINE"}, {8, "A"}} + Xyz(4, 5, 6) + Xyz(7, 8, 9, 11) +
        Face({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}}) +
        std::vector<Group>{{0, "CIRCLE"}, {8, "B"}, {10, "3"}, {39, "1"}, {40, "2"}} + Arc("350", "10", "1") +
        Polyline(0) + Vertex(0, 0, 0, 0) + Vertex(1, 0, 0, 0) + Vertex(0, 0, 0, 0) + SeqEnd() + Polyline(64) +
        Vertex(0, 0, 0, 192) + Vertex(1, 0, 0, 192) + Vertex(1, 1, 0, 192) + FaceRecord({"1", "2", "-3"}) + SeqEnd();
    const std::string meshes = Text(Mesh(17, true)) + Text(Mesh(48));
    const std::string blocks = Text(Section("BLOCKS", std::vector<Group>{{0, "BLOCK"}, {2, "B"}} + PointEntity(5, 5, 5) +
                                                          std::vector<Group>{{0, "ENDBLK"}}));
    const std::string body = Text(std::vector<Group>{{0, "SECTION"}, {2, "ENTITIES"}} + entities);
    return blocks + body + meshes + Text(std::vector<Group>{{0, "ENDSEC"}} + EndOfFile());
}

// Truncated and byte-corrupted files: each load ends (the test's timeout
// guards against a hang), and nothing is left allocated.
TEST_F(DxfReader, TruncatedAndCorruptedFilesFailCleanly) {
    const std::string original = EveryKindDrawing();
    ASSERT_EQ(ReadText(original), 1);
    EXPECT_GT(g_Scene.PolygonCount, 20);
    SceneFree();
    const std::string eof = "  0\nEOF\n";
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = original;
        if (round % 2 == 0) {
            // Cut anywhere, and mostly keep an EOF marker so that the reader gets past its check.
            bytes = bytes.substr(0, random() % bytes.size()) + (round % 6 == 0 ? "" : eof);
        } else {
            const char junk[] = {'\0', '\n', '\r', ' ', '0', '-', '9', 'x', char(0xFF), '\t'};
            for (int k = 0; k < 1 + int(random() % 20); ++k) bytes[random() % bytes.size()] = junk[random() % 10];
        }
        const Load load = LoadText(bytes);
        EXPECT_TRUE(load.read == 0 || g_Scene.PointCount > 0) << round;
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), 0) << round;
    }
}

TEST_F(DxfReader, OutOfMemoryAtEveryAllocationFailsCleanly) {
    const std::string text = Drawing(PointEntity(1, 2, 3) + Mesh(16) + std::vector<Group>{{0, "LINE"}} + Xyz(1, 1, 1));
    const std::string path = WriteTemp("oom.dxf", text);
    for (int64_t failing = 1; failing < 40; ++failing) {
        SceneReset();
        ASSERT_EQ(SceneAllocateFirstChunks(), 1);
        g_Scene.DetectedFormat = kFormatDXF;
        ModuleHeapFailAt(failing);
        const int32_t read = DxfReadFile(path.c_str());
        ModuleHeapFailAt(0);
        // Welding and compaction may do without their storage; reading may not.
        if (read == 1) {
            EXPECT_GE(g_Scene.PolygonCount, 6);
        }
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), 0) << failing;
    }
}

}  // namespace
