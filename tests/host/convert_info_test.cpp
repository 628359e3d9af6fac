// tamlorn-convert --info, run as a program: exit codes and messages, and the
// JSON summary of small files whose host objects are worked out by hand.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kConverter = TAMLORN_BIN_DIR "/tamlorn-convert";

// ---- Running the program -------------------------------------------------------------

struct RunResult {
    int exitCode = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

struct ExpectedObject;

class ConvertInfo : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("tamlorn_convert_" + std::to_string(getpid()) + "_" + test->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        WriteFile(path, bytes);
        return path;
    }

    void ExpectLoaded(const std::string& name, const std::string& bytes, const ExpectedObject& expected);

    // Runs the converter with stdout and stderr sent to files in the test directory.
    RunResult Run(const std::vector<std::string>& args) {
        const fs::path outPath = dir_ / "stdout.txt";
        const fs::path errPath = dir_ / "stderr.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kConverter.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        RunResult result;
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, kConverter.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << kConverter << ": " << std::strerror(spawned);
            return result;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
        result.out = ReadFile(outPath);
        result.err = ReadFile(errPath);
        return result;
    }

    fs::path dir_;
};

// A failure is one line on stderr that names the file, and nothing on stdout.
void ExpectOneLineError(const RunResult& run, int exitCode, const std::string& file, const std::string& reason) {
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
}

// ---- A small JSON reader ------------------------------------------------------------------

struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& key) const {
        for (const auto& [name, value] : members) {
            if (name == key) return value;
        }
        throw std::runtime_error("no key " + key);
    }
    const Json& operator[](size_t index) const {
        if (index >= items.size()) throw std::runtime_error("no item " + std::to_string(index));
        return items[index];
    }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& member : members) keys.push_back(member.first);
        return keys;
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    Json ReadDocument() {
        Json value = ReadValue();
        SkipSpace();
        if (pos_ != text_.size()) Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(pos_));
    }
    void SkipSpace() {
        while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_])) ++pos_;
    }
    bool Take(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) return ++pos_, true;
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("expected '") + c + "'");
    }
    bool TakeWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    Json ReadValue() {
        SkipSpace();
        if (pos_ >= text_.size()) Fail("unexpected end");
        Json value;
        const char c = text_[pos_];
        if (c == '{') {
            value.kind = Json::kObject;
            ++pos_;
            if (Take('}')) return value;
            do {
                SkipSpace();
                std::string key = ReadString();
                Expect(':');
                value.members.emplace_back(std::move(key), ReadValue());
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            value.kind = Json::kArray;
            ++pos_;
            if (Take(']')) return value;
            do value.items.push_back(ReadValue());
            while (Take(','));
            Expect(']');
        } else if (c == '"') {
            value.kind = Json::kString;
            value.text = ReadString();
        } else if (TakeWord("null")) {
            value.kind = Json::kNull;
        } else if (TakeWord("true") || TakeWord("false")) {
            value.kind = Json::kBool;
            value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
        } else {
            value.kind = Json::kNumber;
            const char* begin = text_.data() + pos_;
            const auto result = std::from_chars(begin, text_.data() + text_.size(), value.number);
            if (result.ec != std::errc() || *begin == '+') Fail("bad number");
            pos_ += static_cast<size_t>(result.ptr - begin);
        }
        return value;
    }

    void AppendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    uint32_t ReadHex4() {
        uint32_t code = 0;
        const auto result = std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, code, 16);
        if (pos_ + 4 > text_.size() || result.ptr != text_.data() + pos_ + 4) Fail("bad \\u escape");
        pos_ += 4;
        return code;
    }
    std::string ReadString() {
        if (pos_ >= text_.size() || text_[pos_] != '"') Fail("expected a string");
        ++pos_;
        std::string out;
        while (true) {
            if (pos_ >= text_.size()) Fail("unterminated string");
            const char c = text_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) Fail("unterminated escape");
            const char e = text_[pos_++];
            constexpr std::string_view kEscapes = "\"\\/bfnrt";
            const size_t simple = kEscapes.find(e);
            if (simple != std::string_view::npos) {
                out += "\"\\/\b\f\n\r\t"[simple];
                continue;
            }
            if (e != 'u') Fail("bad escape");
            uint32_t code = ReadHex4();
            if (code >= 0xD800 && code < 0xDC00 && TakeWord("\\u")) code = 0x10000 + ((code - 0xD800) << 10) + (ReadHex4() - 0xDC00);
            AppendUtf8(out, code);
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
};

Json ParseJson(const std::string& text) { return JsonReader(text).ReadDocument(); }

// ---- Expected host objects ------------------------------------------------------------------

// NaN stands for a coordinate that must print as null.
using Triple = std::array<double, 3>;
constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

struct Surface {
    std::string name;
    std::array<int, 3> colour;
    double level;
    int polygons;
};

struct UVMap {
    std::string name;
    int pointEntries;
    int polygonEntries;
};

struct Polygon {
    std::vector<int> corners;
    int surface;
};

struct ExpectedObject {
    std::string format;
    std::string name;
    int points, polygons, faces, lines, dots;
    std::vector<Surface> surfaces;
    std::vector<UVMap> uvMaps;
    Triple boxMin, boxMax;
    std::vector<Triple> positions;
    std::vector<Polygon> polygonList;
};

// Exactly the same double, the sign of zero included; NaN expects null.
void ExpectCoordinate(const Json& value, double expected, const std::string& where) {
    if (std::isnan(expected)) {
        EXPECT_EQ(value.kind, Json::kNull) << where;
        return;
    }
    ASSERT_EQ(value.kind, Json::kNumber) << where;
    EXPECT_EQ(value.number, expected) << where;
    EXPECT_EQ(std::signbit(value.number), std::signbit(expected)) << where << ": sign of " << value.number;
}

void ExpectTriple(const Json& value, const Triple& expected, const std::string& where) {
    ASSERT_EQ(value.items.size(), 3u) << where;
    for (size_t c = 0; c < 3; ++c) ExpectCoordinate(value[c], expected[c], where + "[" + std::to_string(c) + "]");
}

void ExpectSummary(const Json& json, const ExpectedObject& expected, const fs::path& file, bool full) {
    std::vector<std::string> keys = {"file",   "format",   "name",    "points",  "polygons",    "faces",
                                     "lines",  "dots",     "surfaces", "uv_maps", "bounding_box"};
    if (full) keys.insert(keys.end(), {"positions", "polygon_list"});
    ASSERT_EQ(json.Keys(), keys);
    EXPECT_EQ(json["file"].text, file.string());
    EXPECT_EQ(json["format"].text, expected.format);
    EXPECT_EQ(json["name"].text, expected.name);
    EXPECT_EQ(json["points"].number, expected.points);
    EXPECT_EQ(json["polygons"].number, expected.polygons);
    EXPECT_EQ(json["faces"].number, expected.faces);
    EXPECT_EQ(json["lines"].number, expected.lines);
    EXPECT_EQ(json["dots"].number, expected.dots);

    const Json& surfaces = json["surfaces"];
    ASSERT_EQ(surfaces.items.size(), expected.surfaces.size());
    for (size_t i = 0; i < surfaces.items.size(); ++i) {
        const Surface& want = expected.surfaces[i];
        const Json& got = surfaces[i];
        EXPECT_EQ(got.Keys(), (std::vector<std::string>{"name", "colour", "level", "polygons"}));
        EXPECT_EQ(got["name"].text, want.name) << "surface " << i;
        ASSERT_EQ(got["colour"].items.size(), 3u);
        for (size_t c = 0; c < 3; ++c) EXPECT_EQ(got["colour"][c].number, want.colour[c]) << "surface " << i;
        EXPECT_EQ(got["level"].number, want.level) << "surface " << i;
        EXPECT_EQ(got["polygons"].number, want.polygons) << "surface " << i;
    }

    const Json& maps = json["uv_maps"];
    ASSERT_EQ(maps.items.size(), expected.uvMaps.size());
    for (size_t i = 0; i < maps.items.size(); ++i) {
        EXPECT_EQ(maps[i].Keys(), (std::vector<std::string>{"name", "point_entries", "polygon_entries"}));
        EXPECT_EQ(maps[i]["name"].text, expected.uvMaps[i].name);
        EXPECT_EQ(maps[i]["point_entries"].number, expected.uvMaps[i].pointEntries) << "map " << i;
        EXPECT_EQ(maps[i]["polygon_entries"].number, expected.uvMaps[i].polygonEntries) << "map " << i;
    }

    EXPECT_EQ(json["bounding_box"].Keys(), (std::vector<std::string>{"min", "max"}));
    ExpectTriple(json["bounding_box"]["min"], expected.boxMin, "bounding_box.min");
    ExpectTriple(json["bounding_box"]["max"], expected.boxMax, "bounding_box.max");
    if (!full) return;

    const Json& positions = json["positions"];
    ASSERT_EQ(positions.items.size(), expected.positions.size());
    for (size_t i = 0; i < positions.items.size(); ++i) {
        ExpectTriple(positions[i], expected.positions[i], "positions[" + std::to_string(i) + "]");
    }
    const Json& polygons = json["polygon_list"];
    ASSERT_EQ(polygons.items.size(), expected.polygonList.size());
    for (size_t i = 0; i < polygons.items.size(); ++i) {
        std::vector<int> corners;
        for (const Json& corner : polygons[i]["corners"].items) corners.push_back(static_cast<int>(corner.number));
        EXPECT_EQ(corners, expected.polygonList[i].corners) << "polygon " << i;
        EXPECT_EQ(polygons[i]["surface"].number, expected.polygonList[i].surface) << "polygon " << i;
    }
}

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
const ExpectedObject kObjObject = {
    "obj", "handmade", 5, 8, 4, 2, 2,
    {{"wood_left", {200, 200, 200}, 1.0, 3},
     {"wood_right", {200, 200, 200}, 1.0, 1},
     {"stone_right", {200, 200, 200}, 1.0, 4}},
    {{"wood left", 6, 6}, {"wood right", 4, 4}},
    {0, 0, -0.5}, {2, 3, 1.25},
    {{0, 0, -0.0}, {2, 0, -0.0}, {2, 1, -0.5}, {0, 1, 1.25}, {1, 3, -static_cast<double>(0.1f)}},
    {{{0, 3, 4}, 1}, {{2, 1, 0}, 1}, {{3, 2, 0}, 1}, {{3, 2, 1, 0}, 2},
     {{1, 0}, 3}, {{3, 2}, 3}, {{4}, 3}, {{0}, 3}},
};

std::string U16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string U32(uint32_t v) { return U16(static_cast<uint16_t>(v & 0xFFFF)) + U16(static_cast<uint16_t>(v >> 16)); }
std::string F32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return U32(bits);
}
std::string Text0(const std::string& text) { return text + '\0'; }
std::string Chunk(uint16_t id, const std::string& content) {
    return U16(id) + U32(static_cast<uint32_t>(6 + content.size())) + content;
}
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
const ExpectedObject k3DSObject = {
    "3ds", "box", 4, 2, 2, 0, 0,
    {{"Box01", {200, 200, 200}, 1.0, 1}, {"Box01_Red", {255, 0, 0}, 1.0, 1}},
    {},
    {0, 0, 0}, {1, 3, 2},
    {{0, 0, 0}, {1, 0, 0}, {1, static_cast<double>(0.1f), 2}, {0, 3, 0}},
    {{{2, 1, 0}, 1}, {{3, 2, 0}, 2}},
};

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
const ExpectedObject kDxfObject = {
    "dxf", "plan", 4, 3, 1, 1, 1,
    {{"Walls", {200, 200, 200}, 1.0, 2}, {"outer_edge", {200, 200, 200}, 1.0, 1}},
    {},
    {0, 0, 0}, {1, 2.5, 1},
    {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 2.5, 0}},
    {{{0, 1, 2}, 1}, {{0, 3}, 2}, {{2}, 1}},
};

// ---- The tests ---------------------------------------------------------------------------------

TEST_F(ConvertInfo, UsageErrorsExitOneAndShowTheUsage) {
    const std::string file = Write("box.3ds", k3DSBytes).string();
    const std::vector<std::vector<std::string>> commands = {
        {},
        {"--info"},
        {"--info", file, file},
        {"--json", file},
        {"--bogus", "--info", file},
        {file, (dir_ / "out.obj").string()},
        {"--info", "--full", file},
        {"--info", file, "--module"},
    };
    for (const auto& args : commands) {
        const RunResult run = Run(args);
        std::string command;
        for (const std::string& arg : args) command += " " + arg;
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_NE(run.err.find("usage: tamlorn-convert --info"), std::string::npos) << command << "\n" << run.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "out.obj"));

    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: tamlorn-convert --info"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

TEST_F(ConvertInfo, InputThatCannotBeReadExitsTwo) {
    const std::string missing = (dir_ / "missing.obj").string();
    ExpectOneLineError(Run({"--info", missing}), 2, missing, "no such file");
    ExpectOneLineError(Run({"--info", "--json", dir_.string()}), 2, dir_.string(), "directory");
}

TEST_F(ConvertInfo, UnrecognisedInputExitsThree) {
    const std::string empty = Write("empty.obj", "").string();
    ExpectOneLineError(Run({"--info", empty}), 3, empty, "empty");

    const std::string text = Write("notes.obj", "just some notes\nabout nothing\n").string();
    ExpectOneLineError(Run({"--info", text}), 3, text, "not a recognised format");

    // 17 bytes are too few for the 3D Studio header test.
    const std::string shortHeader = Write("short.3ds", k3DSBytes.substr(0, 17)).string();
    ExpectOneLineError(Run({"--info", shortHeader}), 3, shortHeader, "not a recognised format");

    const std::string binary = Write("binary.dxf", "AutoCAD Binary DXF\r\n\x1a\0\0\0\0\0\0\0\0\0\0\0"s).string();
    ExpectOneLineError(Run({"--info", "--json", binary}), 3, binary, "binary DXF is not supported");
}

TEST_F(ConvertInfo, RecognisedFileWhoseLoadFailsExitsFour) {
    // A 3D Studio file with a material but no triangle mesh holds no points.
    const std::string noMesh =
        Write("nomesh.3ds", Chunk(0x4D4D, Chunk(0x0002, U32(3)) + Chunk(0x3D3D, k3DSMaterial))).string();
    ExpectOneLineError(Run({"--info", noMesh}), 4, noMesh, "load failed");

    // A face that refers to a point the file does not have.
    const std::string badIndex = Write("badindex.obj", "v 0 0 0\nv 1 0 0\nf 1 2 7\n").string();
    ExpectOneLineError(Run({"--info", badIndex}), 4, badIndex, "load failed");
}

TEST_F(ConvertInfo, ModuleOptionChoosesTheLibrary) {
    const std::string text = Write("notes.txt", "nothing to see\n").string();
    ExpectOneLineError(Run({"--info", "--module", TAMLORN_MODULE_PATH, text}), 3, text, "not a recognised format");
    const std::string bogus = (dir_ / "no_such_module.so").string();
    ExpectOneLineError(Run({"--info", "--module", bogus, text}), 4, bogus, "cannot load the module");
    // The input is looked at before the module is loaded.
    ExpectOneLineError(Run({"--info", "--module=" + bogus, (dir_ / "gone.obj").string()}), 2, "gone.obj",
                       "no such file");
}

// Loads a file made of `bytes` and checks its JSON summary, with and without --full.
void ConvertInfo::ExpectLoaded(const std::string& name, const std::string& bytes, const ExpectedObject& expected) {
    const fs::path file = Write(name, bytes);
    for (const bool full : {true, false}) {
        std::vector<std::string> args = {"--info", "--json", file.string()};
        if (full) args.insert(args.begin() + 1, "--full");
        const RunResult run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << name << ": " << run.err;
        EXPECT_EQ(run.err, "") << name;
        ExpectSummary(ParseJson(run.out), expected, file, full);
    }
}

TEST_F(ConvertInfo, ObjWithMaterialsGroupsLinesAndDots) { ExpectLoaded("handmade.obj", kObjText, kObjObject); }

TEST_F(ConvertInfo, ThreeDStudioFileWrittenChunkByChunk) {
    ExpectLoaded("box.3ds", k3DSBytes, k3DSObject);
    // The content decides, not the extension: the same bytes named .obj.
    ExpectedObject renamed = k3DSObject;
    renamed.name = "crate";
    ExpectLoaded("crate.obj", k3DSBytes, renamed);
}

TEST_F(ConvertInfo, AsciiDxfWithFaceLineAndPoint) {
    ExpectLoaded("plan.dxf", kDxfText, kDxfObject);
    // CR LF line ends read the same.
    std::string crlf;
    for (const char c : kDxfText) crlf += c == '\n' ? "\r\n" : std::string(1, c);
    ExpectLoaded("plan.txt", crlf, kDxfObject);
}

TEST_F(ConvertInfo, NonFiniteCoordinatesPrintAsNull) {
    const fs::path file = Write("odd.obj", "v nan 0 0\nv 1 inf 0\nv 0 0 -inf\nf 1 2 3\n");
    const RunResult run = Run({"--info", "--json", "--full", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json json = ParseJson(run.out);
    ExpectTriple(json["positions"][0], {kNull, 0, -0.0}, "point 0");
    ExpectTriple(json["positions"][1], {1, kNull, -0.0}, "point 1");
    ExpectTriple(json["positions"][2], {0, 0, kNull}, "point 2");
}

TEST_F(ConvertInfo, JsonStringsAreEscaped) {
    const std::string name = "we\"ird\\ \x01\tname\xE9.obj";
    const fs::path file = Write(name, kObjText);
    const RunResult run = Run({"--info", "--json", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char c : run.out) EXPECT_FALSE(c == '\t' || c == '\x01') << "raw control character in the output";
    EXPECT_NE(run.out.find("\\u0001\\u0009"), std::string::npos) << run.out;
    const Json json = ParseJson(run.out);
    // The byte 0xE9 is not UTF-8 and reads back as U+00E9.
    EXPECT_EQ(json["file"].text, (dir_ / "we\"ird\\ \x01\tname\xC3\xA9.obj").string());
    // The object is named after what follows the last backslash, made legal.
    EXPECT_EQ(json["name"].text, "___name_");
}

TEST_F(ConvertInfo, HumanSummaryNamesFormatAndCounts) {
    const fs::path file = Write("box.3ds", k3DSBytes);
    const RunResult run = Run({"--info", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string line : {"format:       3D Studio\n", "name:         \"box\"\n", "points:       4\n",
                                   "polygons:     2 (2 faces, 0 lines, 0 dots)\n",
                                   "  2 \"Box01_Red\": colour 255 0 0, level 1, 1 polygons\n",
                                   "bounding box: (0, 0, 0) to (1, 3, 2)\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "in\n" << run.out;
    }
}

TEST_F(ConvertInfo, BundledCubeSample) {
    const fs::path file = fs::path(TAMLORN_SAMPLES_DIR) / "cube.obj";
    const RunResult run = Run({"--info", "--json", "--full", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ExpectedObject cube = {
        "obj", "cube", 8, 6, 6, 0, 0,
        {{"painted_cube", {200, 200, 200}, 1.0, 4}, {"bare_cube", {200, 200, 200}, 1.0, 2}},
        {{"painted cube", 16, 16}, {"bare cube", 8, 8}},
        {-1, -1, -1}, {1, 1, 1},
        {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}, {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
        {{{3, 2, 1, 0}, 1}, {{2, 6, 5, 1}, 1}, {{6, 7, 4, 5}, 1}, {{7, 3, 0, 4}, 1},
         {{7, 6, 2, 3}, 2}, {{0, 1, 5, 4}, 2}},
    };
    ExpectSummary(ParseJson(run.out), cube, file, true);
}

}  // namespace
