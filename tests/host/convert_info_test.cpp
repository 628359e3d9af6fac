// tamlorn-convert --info, run as a program: exit codes and messages, and the
// JSON summary of small files whose host objects are worked out by hand.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host_support.h"

namespace {

using namespace host_support;
using namespace std::string_literals;

// ---- A small JSON reader ------------------------------------------------------------------

struct Json {
    enum Kind { kNull, kNumber, kString, kArray, kObject } kind = kNull;
    double number = 0;
    std::string text;
    std::vector<std::string> keys;  // of an object, in order; `items` holds their values
    std::vector<Json> items;

    const Json& operator[](const std::string& key) const {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return items[i];
        throw std::runtime_error("no key " + key);
    }
    const Json& operator[](size_t index) const { return items.at(index); }
};

// Reads one JSON document; what is not JSON throws, and the test fails.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : rest_(text) {}

    Json Document() {
        Json value = Value();
        if (SkipSpace(), !rest_.empty()) Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) {
        throw std::runtime_error("JSON: " + what + " before \"" + std::string(rest_.substr(0, 20)) + "\"");
    }
    void SkipSpace() {
        while (!rest_.empty() && std::string_view(" \t\r\n").find(rest_[0]) != std::string_view::npos)
            rest_.remove_prefix(1);
    }
    bool Take(std::string_view token) {
        SkipSpace();
        if (!rest_.starts_with(token)) return false;
        rest_.remove_prefix(token.size());
        return true;
    }
    void Expect(std::string_view token) {
        if (!Take(token)) Fail("expected " + std::string(token));
    }
    char Next() {
        if (rest_.empty()) Fail("unexpected end");
        const char c = rest_[0];
        rest_.remove_prefix(1);
        return c;
    }

    Json Value() {
        Json value;
        if (Take("{")) {
            value.kind = Json::kObject;
            if (Take("}")) return value;
            do {
                value.keys.push_back(String());
                Expect(":");
                value.items.push_back(Value());
            } while (Take(","));
            Expect("}");
        } else if (Take("[")) {
            value.kind = Json::kArray;
            if (Take("]")) return value;
            do value.items.push_back(Value());
            while (Take(","));
            Expect("]");
        } else if (rest_.starts_with('"')) {
            value.kind = Json::kString;
            value.text = String();
        } else if (!Take("null")) {
            value.kind = Json::kNumber;
            const auto [end, error] = std::from_chars(rest_.data(), rest_.data() + rest_.size(), value.number);
            if (error != std::errc()) Fail("bad value");
            rest_.remove_prefix(static_cast<size_t>(end - rest_.data()));
        }
        return value;
    }

    std::string String() {
        Expect("\"");
        std::string out;
        for (char c; (c = Next()) != '"';) {
            if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Next();
            const size_t simple = std::string_view("\"\\/bfnrt").find(e);
            if (simple != std::string_view::npos) {
                out += "\"\\/\b\f\n\r\t"[simple];
                continue;
            }
            uint32_t code = 0;
            if (e != 'u' || rest_.size() < 4 || std::from_chars(rest_.data(), rest_.data() + 4, code, 16).ptr !=
                                                     rest_.data() + 4)
                Fail("bad escape");
            rest_.remove_prefix(4);
            if (code >= 0x800) out += static_cast<char>(0xE0 | code >> 12);  // as UTF-8
            if (code >= 0x80) out += static_cast<char>((code >= 0x800 ? 0x80 : 0xC0) | (code >> 6 & 0x3F));
            out += static_cast<char>(code >= 0x80 ? 0x80 | (code & 0x3F) : code);
        }
        return out;
    }

    std::string_view rest_;
};

Json ParseJson(const std::string& text) { return JsonReader(text).Document(); }

// ---- Test files ---------------------------------------------------------------------------

// Groups and materials, a face before any of them, relative texture references,
// a mirrored third coordinate, a line pair joined across statements, and dots.
const std::string kObjText =
    "# hand-made test object\n"
    "mtllib handmade.mtl\n"
    "v 0 0 0\n"
    "v 2 0 0\n"
    "v 2 1 0.5\n"
    "v 0 1 -1.25\n"
    "v 1 3 0.1\n"
    "vt 0 0\n"
    "vt 1 0\n"
    "vt 1 1\n"
    "vt 0 1\n"
    "f 5 4 1\n"
    "g shared left\n"
    "usemtl wood\n"
    "f 1/1 2/2 3/3\n"
    "f 1/1 3/3 4/4\n"
    "g shared right\n"
    "f 1/-4 2/-3 3/-2 4/-1\n"
    "usemtl stone\n"
    "l 1 2\n"
    "l 3 3\n"
    "l 4 4\n"
    "p 5 1\n";

// Worked out by hand: z is mirrored; every element's corners are reversed; the
// face before "g"/"usemtl" carries surface 1, which the first name then takes;
// "g shared left" picks the rarer name "left"; "usemtl stone" keeps the pick
// "right"; "l 3 3" followed by "l 4 4" makes the line (3, 4); lines come after
// the faces and dots last. UV maps carry the scene's names, surfaces the legal ones.
// Coordinates read as floats: 0.1 is 0.10000000149011612.
const std::string kObjSummary = R"({"format": "obj", "name": "handmade",
  "points": 5, "polygons": 8, "faces": 4, "lines": 2, "dots": 2,
  "surfaces": [{"name": "wood_left", "colour": [200, 200, 200], "level": 1, "polygons": 3},
               {"name": "wood_right", "colour": [200, 200, 200], "level": 1, "polygons": 1},
               {"name": "stone_right", "colour": [200, 200, 200], "level": 1, "polygons": 4}],
  "uv_maps": [{"name": "wood left", "point_entries": 6, "polygon_entries": 6},
              {"name": "wood right", "point_entries": 4, "polygon_entries": 4}],
  "bounding_box": {"min": [0, 0, -0.5], "max": [2, 3, 1.25]},
  "positions": [[0, 0, -0], [2, 0, -0], [2, 1, -0.5], [0, 1, 1.25], [1, 3, -0.10000000149011612]],
  "polygon_list": [{"corners": [0, 3, 4], "surface": 1}, {"corners": [2, 1, 0], "surface": 1},
                   {"corners": [3, 2, 0], "surface": 1}, {"corners": [3, 2, 1, 0], "surface": 2},
                   {"corners": [1, 0], "surface": 3}, {"corners": [3, 2], "surface": 3},
                   {"corners": [4], "surface": 3}, {"corners": [0], "surface": 3}]})";

std::string Text0(const std::string& text) { return text + '\0'; }
std::string Point3DS(float x, float y, float z) { return F32(x) + F32(y) + F32(z); }
std::string Face3DS(uint16_t a, uint16_t b, uint16_t c) { return U16(a) + U16(b) + U16(c) + U16(0); }

// A material "Red" before an object "Box01" whose second face is in a "Red" group.
const std::string k3DSMaterial =
    Chunk(0xAFFF, Chunk(0xA000, Text0("Red")) + Chunk(0xA020, Chunk(0x0011, "\xFF\x00\x00"s)) +
                      Chunk(0xA100, U16(3)));
const std::string k3DSBytes = Chunk(
    0x4D4D,
    Chunk(0x0002, U32(3)) +
        Chunk(0x3D3D,
              Chunk(0x3D3E, U32(3)) + k3DSMaterial +
                  Chunk(0x4000,
                        Text0("Box01") +
                            Chunk(0x4100,
                                  Chunk(0x4110, U16(4) + Point3DS(0, 0, 0) + Point3DS(1, 0, 0) +
                                                    Point3DS(1, 2, 0.1f) + Point3DS(0, 0, 3)) +
                                      Chunk(0x4120, U16(2) + Face3DS(0, 1, 2) + Face3DS(0, 2, 3) +
                                                        Chunk(0x4130, Text0("Red") + U16(1) + U16(1)))))) +
        Chunk(0xB000, Chunk(0xB00A, U16(5) + Text0("keys"))));

// Second and third coordinates exchanged, faces reversed; the unused surface
// "Red" is dropped and "Box01 Red" takes its colour.
const std::string k3DSSummary = R"({"format": "3ds", "name": "box",
  "points": 4, "polygons": 2, "faces": 2, "lines": 0, "dots": 0,
  "surfaces": [{"name": "Box01", "colour": [200, 200, 200], "level": 1, "polygons": 1},
               {"name": "Box01_Red", "colour": [255, 0, 0], "level": 1, "polygons": 1}],
  "uv_maps": [],
  "bounding_box": {"min": [0, 0, 0], "max": [1, 3, 2]},
  "positions": [[0, 0, 0], [1, 0, 0], [1, 0.10000000149011612, 2], [0, 3, 0]],
  "polygon_list": [{"corners": [2, 1, 0], "surface": 1}, {"corners": [3, 2, 0], "surface": 2}]})";

std::string DxfGroups(const std::vector<std::pair<int, std::string>>& groups) {
    std::string text;
    for (const auto& [code, value] : groups) text += std::to_string(code) + "\n" + value + "\n";
    return text;
}

// A triangle written as a 3DFACE with its last corner repeated, a LINE on a layer
// whose name has a space, and a POINT; an ignored TABLES section in between.
const std::string kDxfText = DxfGroups({
    {0, "SECTION"}, {2, "HEADER"}, {9, "$ACADVER"}, {1, "AC1009"}, {0, "ENDSEC"},
    {0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "LAYER"}, {0, "ENDTAB"}, {0, "ENDSEC"},
    {0, "SECTION"}, {2, "ENTITIES"},
    {0, "3DFACE"}, {8, "Walls"},
    {10, "0.0"}, {20, "0.0"}, {30, "0.0"}, {11, "1.0"}, {21, "0.0"}, {31, "0.0"},
    {12, "1.0"}, {22, "1.0"}, {32, "0.0"}, {13, "1.0"}, {23, "1.0"}, {33, "0.0"},
    {0, "LINE"}, {8, "outer edge"},
    {10, "0.0"}, {20, "0.0"}, {30, "0.0"}, {11, "0.0"}, {21, "0.0"}, {31, "2.5"},
    {0, "POINT"}, {8, "Walls"}, {10, "1.0"}, {20, "1.0"}, {30, "0.0"},
    {0, "ENDSEC"}, {0, "EOF"},
});

// DXF (x, y, z) becomes (x, z, y); corners keep their order; identical points
// are welded: the line starts at point 0 and the dot sits on point 2.
const std::string kDxfSummary = R"({"format": "dxf", "name": "plan",
  "points": 4, "polygons": 3, "faces": 1, "lines": 1, "dots": 1,
  "surfaces": [{"name": "Walls", "colour": [200, 200, 200], "level": 1, "polygons": 2},
               {"name": "outer_edge", "colour": [200, 200, 200], "level": 1, "polygons": 1}],
  "uv_maps": [],
  "bounding_box": {"min": [0, 0, 0], "max": [1, 2.5, 1]},
  "positions": [[0, 0, 0], [1, 0, 0], [1, 0, 1], [0, 2.5, 0]],
  "polygon_list": [{"corners": [0, 1, 2], "surface": 1}, {"corners": [0, 3], "surface": 2},
                   {"corners": [2], "surface": 1}]})";

// The bundled sample: each side of the cube a quad, corners reversed.
const std::string kCubeSummary = R"({"format": "obj", "name": "cube",
  "points": 8, "polygons": 6, "faces": 6, "lines": 0, "dots": 0,
  "surfaces": [{"name": "painted_cube", "colour": [200, 200, 200], "level": 1, "polygons": 4},
               {"name": "bare_cube", "colour": [200, 200, 200], "level": 1, "polygons": 2}],
  "uv_maps": [{"name": "painted cube", "point_entries": 16, "polygon_entries": 16},
              {"name": "bare cube", "point_entries": 8, "polygon_entries": 8}],
  "bounding_box": {"min": [-1, -1, -1], "max": [1, 1, 1]},
  "positions": [[-1, -1, -1], [1, -1, -1], [1, 1, -1], [-1, 1, -1], [-1, -1, 1], [1, -1, 1], [1, 1, 1], [-1, 1, 1]],
  "polygon_list": [{"corners": [3, 2, 1, 0], "surface": 1}, {"corners": [2, 6, 5, 1], "surface": 1},
                   {"corners": [6, 7, 4, 5], "surface": 1}, {"corners": [7, 3, 0, 4], "surface": 1},
                   {"corners": [7, 6, 2, 3], "surface": 2}, {"corners": [0, 1, 5, 4], "surface": 2}]})";

// ---- Comparing summaries ---------------------------------------------------------------------

// The same kinds, keys in order, texts and numbers, the sign of zero included.
void ExpectSameJson(const Json& got, const Json& want, const std::string& where) {
    ASSERT_EQ(got.kind, want.kind) << where;
    ASSERT_EQ(got.keys, want.keys) << where;
    ASSERT_EQ(got.items.size(), want.items.size()) << where;
    EXPECT_EQ(got.text, want.text) << where;
    EXPECT_EQ(got.number, want.number) << where;
    EXPECT_EQ(std::signbit(got.number), std::signbit(want.number)) << where << ": sign of " << got.number;
    for (size_t i = 0; i < want.items.size(); ++i) {
        const std::string name = want.keys.empty() ? std::to_string(i) : want.keys[i];
        ExpectSameJson(got.items[i], want.items[i], where + "/" + name);
    }
}

// The converter's summary of `file` leads with the file, then is `expected`;
// without --full it ends before the positions and the polygon list.
void ExpectSummary(const std::string& output, const fs::path& file, const std::string& expected, bool full) {
    Json got = ParseJson(output);
    ASSERT_FALSE(got.keys.empty());
    EXPECT_EQ(got.keys[0], "file");
    EXPECT_EQ(got.items[0].text, file.string());
    got.keys.erase(got.keys.begin());
    got.items.erase(got.items.begin());
    Json want = ParseJson(expected);
    if (!full) {
        ASSERT_EQ(want.keys.back(), "polygon_list");
        want.keys.resize(want.keys.size() - 2);
        want.items.resize(want.items.size() - 2);
    }
    ExpectSameJson(got, want, "");
}

// ---- The tests ---------------------------------------------------------------------------------

class ConvertInfo : public TempDirTest {
protected:
    RunResult Convert(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {TAMLORN_BIN_DIR "/tamlorn-convert"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir_);
    }
};

TEST_F(ConvertInfo, HelpShowsTheUsage) {
    const RunResult help = Convert({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: tamlorn-convert --info"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

// A failure writes nothing on stdout. 1: a wrong command, with the usage on
// stderr. Else one line on stderr that names the file and the reason: 2 for
// input that cannot be read, 3 for input in no format the module reads, 4 for
// a recognised file whose load fails or a module that cannot be loaded. The
// input is looked at before the module is loaded.
TEST_F(ConvertInfo, FailuresExitWithTheirCodeAndReason) {
    const std::string box = Write("box.3ds", k3DSBytes).string();
    const std::string out = (dir_ / "out.obj").string();
    const std::string missing = (dir_ / "missing.obj").string();
    const std::string empty = Write("empty.obj", "").string();
    const std::string notes = Write("notes.obj", "just some notes\nabout nothing\n").string();
    // 17 bytes are too few for the 3D Studio header test.
    const std::string shortHead = Write("short.3ds", k3DSBytes.substr(0, 17)).string();
    const std::string binary = Write("binary.dxf", "AutoCAD Binary DXF\r\n\x1a\0\0\0\0\0\0\0\0\0\0\0"s).string();
    // A 3D Studio file with a material but no triangle mesh holds no points.
    const std::string noMesh =
        Write("nomesh.3ds", Chunk(0x4D4D, Chunk(0x0002, U32(3)) + Chunk(0x3D3D, k3DSMaterial))).string();
    // A face that refers to a point the file does not have.
    const std::string badIndex = Write("badindex.obj", "v 0 0 0\nv 1 0 0\nf 1 2 7\n").string();
    const std::string bogus = (dir_ / "no_such_module.so").string();
    const char* const kUsage = "usage: tamlorn-convert --info";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string named;  // the file the message names
        const char* reason;
    } rows[] = {
        {{}, 1, "", kUsage},
        {{"--info"}, 1, "", kUsage},
        {{"--info", box, box}, 1, "", kUsage},
        {{"--json", box}, 1, "", kUsage},
        {{"--bogus", "--info", box}, 1, "", kUsage},
        {{box, out}, 1, "", kUsage},
        {{"--info", "--full", box}, 1, "", kUsage},
        {{"--info", box, "--module"}, 1, "", kUsage},
        {{"--info", missing}, 2, missing, "no such file"},
        {{"--info", "--json", dir_.string()}, 2, dir_.string(), "directory"},
        {{"--info", "--module=" + bogus, (dir_ / "gone.obj").string()}, 2, "gone.obj", "no such file"},
        {{"--info", empty}, 3, empty, "empty"},
        {{"--info", notes}, 3, notes, "not a recognised format"},
        {{"--info", shortHead}, 3, shortHead, "not a recognised format"},
        {{"--info", "--json", binary}, 3, binary, "binary DXF is not supported"},
        {{"--info", "--module", TAMLORN_MODULE_PATH, notes}, 3, notes, "not a recognised format"},
        {{"--info", noMesh}, 4, noMesh, "load failed"},
        {{"--info", badIndex}, 4, badIndex, "load failed"},
        {{"--info", "--module", bogus, notes}, 4, bogus, "cannot load the module"},
    };
    for (const auto& row : rows) {
        std::string command = "tamlorn-convert";
        for (const std::string& arg : row.args) command += " " + arg;
        SCOPED_TRACE(command);
        const RunResult run = Convert(row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(row.reason), std::string::npos) << run.err;
        if (row.exitCode == 1) continue;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(row.named), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(out));
}

// Each file's JSON summary, with and without --full, is the object worked out
// by hand. The content decides the reader, not the extension; CR LF line ends
// read the same.
TEST_F(ConvertInfo, SummariesAreTheHandWorkedObjects) {
    std::string crate = k3DSSummary;
    crate.replace(crate.find("\"box\""), 5, "\"crate\"");
    std::string crlf;
    for (const char c : kDxfText) crlf += c == '\n' ? "\r\n" : std::string(1, c);
    const struct {
        const char* file;
        std::string bytes;
        std::string expected;
    } rows[] = {
        {"handmade.obj", kObjText, kObjSummary},
        {"box.3ds", k3DSBytes, k3DSSummary},
        {"crate.obj", k3DSBytes, crate},
        {"plan.dxf", kDxfText, kDxfSummary},
        {"plan.txt", crlf, kDxfSummary},
        {"cube.obj", ReadFile(fs::path(TAMLORN_SAMPLES_DIR) / "cube.obj"), kCubeSummary},
    };
    for (const auto& row : rows) {
        const fs::path file = Write(row.file, row.bytes);
        for (const bool full : {true, false}) {
            SCOPED_TRACE(std::string(row.file) + (full ? " --full" : ""));
            std::vector<std::string> args = {"--info", "--json", file.string()};
            if (full) args.insert(args.begin() + 1, "--full");
            const RunResult run = Convert(args);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            EXPECT_EQ(run.err, "");
            ExpectSummary(run.out, file, row.expected, full);
        }
    }
}

TEST_F(ConvertInfo, NonFiniteCoordinatesPrintAsNull) {
    const fs::path file = Write("odd.obj", "v nan 0 0\nv 1 inf 0\nv 0 0 -inf\nf 1 2 3\n");
    const RunResult run = Convert({"--info", "--json", "--full", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectSameJson(ParseJson(run.out)["positions"], ParseJson("[[null, 0, -0], [1, null, -0], [0, 0, null]]"),
                   "positions");
}

TEST_F(ConvertInfo, JsonStringsAreEscaped) {
    const fs::path file = Write("we\"ird\\ \x01\tname\xE9.obj", kObjText);
    const RunResult run = Convert({"--info", "--json", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find_first_of("\t\x01"), std::string::npos) << "raw control character in the output";
    EXPECT_NE(run.out.find("\\u0001\\u0009"), std::string::npos) << run.out;
    const Json json = ParseJson(run.out);
    // The byte 0xE9 is not UTF-8 and reads back as U+00E9.
    EXPECT_EQ(json["file"].text, (dir_ / "we\"ird\\ \x01\tname\xC3\xA9.obj").string());
    // The object is named after what follows the last backslash, made legal.
    EXPECT_EQ(json["name"].text, "___name_");
}

TEST_F(ConvertInfo, HumanSummaryNamesFormatAndCounts) {
    const fs::path file = Write("box.3ds", k3DSBytes);
    const RunResult run = Convert({"--info", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string line : {"format:       3D Studio\n", "name:         \"box\"\n", "points:       4\n",
                                   "polygons:     2 (2 faces, 0 lines, 0 dots)\n",
                                   "  2 \"Box01_Red\": colour 255 0 0, level 1, 1 polygons\n",
                                   "bounding box: (0, 0, 0) to (1, 3, 2)\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "in\n" << run.out;
    }
}

}  // namespace
