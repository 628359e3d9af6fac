// tamlorn-convert --info, run as a program: exit codes and messages, and the
// JSON summary of small files whose host objects are worked out by hand.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host_support.h"

namespace {

using namespace host_support;
using namespace std::string_literals;

// Groups and materials, a face before any of them, relative texture references,
// a mirrored third coordinate, a line pair joined across statements, and dots.
const std::string kObjText =
    "# hand-made test object\nmtllib handmade.mtl\nv 0 0 0\nv 2 0 0\nv 2 1 0.5\nv 0 1 -1.25\nv 1 3 0.1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 5 4 1\ng shared left\nusemtl wood\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n"
    "g shared right\nf 1/-4 2/-3 3/-2 4/-1\nusemtl stone\nl 1 2\nl 3 3\nl 4 4\np 5 1\n";

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
  "uv_maps": [{"name": "wood left", "point_entries": 6, "polygon_entries": 6,
               "point_list": [[2, 1, 1], [1, 1, 0], [0, 0, 0], [3, 0, 1], [2, 1, 1], [0, 0, 0]],
               "polygon_list": [[1, 2, 1, 1], [1, 1, 1, 0], [1, 0, 0, 0], [2, 3, 0, 1], [2, 2, 1, 1], [2, 0, 0, 0]]},
              {"name": "wood right", "point_entries": 4, "polygon_entries": 4,
               "point_list": [[3, 0, 1], [2, 1, 1], [1, 1, 0], [0, 0, 0]],
               "polygon_list": [[3, 3, 0, 1], [3, 2, 1, 1], [3, 1, 1, 0], [3, 0, 0, 0]]}],
  "bounding_box": {"min": [0, 0, -0.5], "max": [2, 3, 1.25]},
  "positions": [[0, 0, -0], [2, 0, -0], [2, 1, -0.5], [0, 1, 1.25], [1, 3, -0.10000000149011612]],
  "polygon_list": [{"corners": [0, 3, 4], "surface": 1}, {"corners": [2, 1, 0], "surface": 1},
                   {"corners": [3, 2, 0], "surface": 1}, {"corners": [3, 2, 1, 0], "surface": 2},
                   {"corners": [1, 0], "surface": 3}, {"corners": [3, 2], "surface": 3},
                   {"corners": [4], "surface": 3}, {"corners": [0], "surface": 3}]})";

// A material "Red" before an object "Box01" whose second face is in a "Red" group.
const std::string k3DSMaterial = tds::Material(tds::MaterialName("Red") + Chunk(0xA020, Chunk(0x0011, "\xFF\x00\x00"s)) +
                                               Chunk(0xA100, U16(3)));
const std::string k3DSBytes = tds::File(
    tds::Editor(Chunk(0x3D3E, U32(3)) + k3DSMaterial +
                tds::Object("Box01", tds::PointList({{0, 0, 0}, {1, 0, 0}, {1, 2, 0.1f}, {0, 0, 3}}) +
                                         tds::FaceList({{0, 1, 2}, {0, 2, 3}}, tds::Group("Red", {1})))) +
    Chunk(0xB000, Chunk(0xB00A, U16(5) + tds::Name("keys"))));

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

// A triangle written as a 3DFACE with its last corner repeated, a LINE on a layer
// whose name has a space, and a POINT; an ignored TABLES section in between.
const std::string kDxfText = dxf::Text(
    dxf::Section("HEADER", {{9, "$ACADVER"}, {1, "AC1009"}}) +
    dxf::Section("TABLES", {{0, "TABLE"}, {2, "LAYER"}, {0, "ENDTAB"}}) +
    dxf::Section("ENTITIES", dxf::OnLayer("Walls", dxf::Face({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}})) +
                                 dxf::OnLayer("outer edge", dxf::Line({0, 0, 0}, {0, 0, 2.5f})) +
                                 dxf::OnLayer("Walls", dxf::PointEntity(1, 1, 0))) +
    dxf::kEndOfFile);

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

// Python's JSON reader, an independent one, lists the leaves of a document:
// a "path<TAB>value" line each, in document order, numbers as floats so that
// -0 keeps its sign, texts and null as JSON writes them. What is not JSON fails.
constexpr const char* kJsonLeaves = R"(import json, sys
def leaves(path, value):
    if isinstance(value, (dict, list)) and value:
        items = value.items() if isinstance(value, dict) else enumerate(value)
        for key, item in items: leaves(f"{path}/{key}", item)
    else: print(path, repr(value) if isinstance(value, float) else json.dumps(value), sep="\t")
def refuse(constant): raise ValueError(constant)
leaves("", json.load(open(sys.argv[1], encoding="utf-8"), parse_int=float, parse_constant=refuse)))";

// The lines of `leaves` whose path starts with one of `prefixes`.
std::string Leaves(const std::string& leaves, std::vector<std::string_view> prefixes) {
    std::string kept;
    for (const std::string& line : SplitLines(leaves))
        if (std::any_of(prefixes.begin(), prefixes.end(), [&](auto p) { return line.starts_with(p); })) kept += line + "\n";
    return kept;
}

class ConvertInfo : public TempDirTest {
protected:
    std::string JsonLeaves(const std::string& document) {
        const fs::path file = WriteFile(dir_ / "leaves.json", document);
        const RunResult run = RunProgram({"python3", "-c", kJsonLeaves, file.string()}, dir_);
        EXPECT_EQ(run.exitCode, 0) << run.err << "in\n" << document;
        return run.out;
    }
    // The converter's summary of `file` leads with the file, then has the leaves
    // `want`; without --full it has no positions, polygon list or UV map entries.
    void ExpectSummary(const std::string& output, const fs::path& file, const std::string& want, bool full) {
        const std::string got = JsonLeaves(output);
        const std::string fileLine = "/file\t\"" + file.string() + "\"\n";
        ASSERT_EQ(got.substr(0, fileLine.size()), fileLine);
        std::string brief;
        for (const std::string& line : SplitLines(want)) {
            const bool listed = line.find("_list/") != std::string::npos || line.starts_with("/positions");
            if (!listed) brief += line + "\n";
        }
        EXPECT_EQ(got.substr(fileLine.size()), full ? want : brief);
    }
};

// --help lists every option, each with an example of its use on the lines
// below it; --version names the program.
TEST_F(ConvertInfo, HelpShowsEveryOptionWithAnExample) {
    const RunResult help = Converter({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    const std::vector<std::string> lines = SplitLines(help.out);
    for (const std::string option : {"-", "--from", "--name", "--verify", "--preview", "--size", "--info", "--json",
                                     "--full", "--to", "-o", "-j", "--files-from", "--force", "--report", "--quiet",
                                     "--max-memory", "--module", "--check", "--version"}) {
        SCOPED_TRACE(option);
        const auto at = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.starts_with("  " + option + " ") || line.starts_with("  --help, " + option);
        });
        ASSERT_NE(at, lines.end());
        // The option's own lines end at the next option or an empty line.
        const auto end = std::find_if(at + 1, lines.end(), [](const std::string& l) { return l.empty() || l.starts_with("  -"); });
        const bool example = std::any_of(at + 1, end, [&](const std::string& l) {
            return l.find("tamlorn-convert ") != std::string::npos && (l + " ").find(" " + option + " ") != std::string::npos;
        });
        EXPECT_TRUE(example);
    }
    const RunResult version = Converter({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.starts_with("tamlorn-convert ")) << version.out;
}

// A failure writes nothing on stdout and one line on stderr: 1 for a wrong
// command, pointing at --help; else a line that names the file and the reason: 2 for
// input that cannot be read, 3 for input in no format the module reads, 4 for
// a recognised file whose load fails, a load past --max-memory, or a module
// that cannot be loaded; 5 for an output that cannot be written. The input is
// looked at before the module is loaded. No input, earlier output or private folder is harmed or left.
TEST_F(ConvertInfo, FailuresExitWithTheirCodeAndReason) {
    const std::string box = Write("box.3ds", k3DSBytes).string();
    const std::string points = Write("points.obj", "v 0 0 0\nv 1 0 0\n").string();
    const std::string kept = Write("kept.3ds", "keep me").string();
    const std::string boxAgain = (dir_ / "." / "box.3ds").string();
    const std::string out = (dir_ / "out.obj").string();
    const std::string missing = (dir_ / "missing.obj").string();
    const std::string empty = Write("empty.obj", "").string();
    const std::string notes = Write("notes.obj", "just some notes\nabout nothing\n").string();
    const std::string binary = Write("binary.dxf", "AutoCAD Binary DXF\r\n\x1a\0\0\0\0\0\0\0\0\0\0\0"s).string();
    // A 3D Studio file with a material but no triangle mesh holds no points.
    const std::string noMesh = Write("nomesh.3ds", tds::File(tds::Editor(k3DSMaterial))).string();
    const std::string bogus = (dir_ / "no_such_module.so").string();
    // Circles with a thickness: each 24 bytes of text asks for kilobytes of host records.
    dxf::Groups circles;
    for (int i = 0; i < 2000; ++i) circles = circles + dxf::Groups{{0, "CIRCLE"}, {40, "1"}, {39, "2"}};
    const std::string hostile = Write("circles.dxf", dxf::Drawing(circles)).string();
    const char* const kUsage = "(see tamlorn-convert --help)";
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
        {{box, out, out}, 1, "", kUsage},
        {{"--json", box, out}, 1, "", kUsage},
        {{"--info", "--full", box}, 1, "", kUsage},
        {{"--info", box, "--module"}, 1, "", kUsage},
        {{"--check", "--info", box}, 1, "", kUsage},
        {{"--check", "--json", box}, 1, "", kUsage},
        {{"--info", missing}, 2, missing, "no such file"},
        {{"--info", "--json", dir_.string()}, 2, dir_.string(), "directory"},
        {{"--info", "--module=" + bogus, (dir_ / "gone.obj").string()}, 2, "gone.obj", "no such file"},
        {{"--info", empty}, 3, empty, "empty"},
        {{"--info", notes}, 3, notes, "not a file of any of the three formats"},
        {{"--info", "--json", binary}, 3, binary, "binary DXF is not supported"},
        {{"--info", "--module", TAMLORN_MODULE_PATH, notes}, 3, notes, "not a file of any of the three formats"},
        {{"--info", noMesh}, 4, noMesh, "damaged or holds nothing the module reads"},
        {{"--check", notes}, 3, notes, "not a file of any of the three formats"},
        {{"--check", noMesh}, 4, noMesh, "damaged or holds nothing the module reads"},
        {{"--info", "--module", bogus, notes}, 4, bogus, "cannot load the module"},
        {{"--info", "--max-memory", "1", hostile}, 4, hostile, "the memory limit of 1 MB was reached"},
        {{"--info", "--max-memory", "0", hostile}, 1, "", "--max-memory takes a number of megabytes"},
        {{"-j0", "--to", "3ds", box}, 1, "", "-j takes a number from 1 to 256"},
        {{"--to", "png", box}, 1, "", "--to takes obj, 3ds or dxf"},
        {{"--size", "10x4096", "--preview", (dir_ / "box.png").string(), box}, 1, "", "--size takes WIDTHxHEIGHT"},
        {{"--name", "a/b", box, out}, 1, "", "--name takes a plain name"},
        {{box, dir_.string() + "/x.stl"}, 1, "x.stl", "must end in .obj, .3ds or .dxf"},
        {{missing, kept}, 2, missing, "no such file"},
        {{box, box}, 5, box, "is the input file"},
        {{box, boxAgain}, 5, boxAgain, "is the input file"},
        {{points, kept}, 5, kept, "no faces"},
        {{box, (dir_ / "no" / "such" / "x.dxf").string()}, 5, "x.dxf", "cannot be written"},
        {{"--preview", (dir_ / "no" / "p.png").string(), box}, 5, "p.png", "cannot be written"},
        {{"--preview", box, box}, 5, box, "is the input file"},
    };
    for (const auto& row : rows) {
        std::string command = "tamlorn-convert";
        for (const std::string& arg : row.args) command += " " + arg;
        SCOPED_TRACE(command);
        const RunResult run = Converter(row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(row.reason), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(row.named), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(ReadFile(box), k3DSBytes);
    EXPECT_EQ(ReadFile(kept), "keep me");
    // The eight files written here and run.out, run.err: nothing else.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 10);
}

// On every corpus file --check, which builds nothing, comes to what --info
// comes to: the same format, or the same failure in the same words.
TEST_F(ConvertInfo, CheckAgreesWithInfoOnTheCorpus) {
    for (const fs::path& file : CorpusInputs()) {
        SCOPED_TRACE(file.string());
        const RunResult check = Converter({"--check", file.string()});
        const RunResult info = Converter({"--info", file.string()});
        EXPECT_EQ(check.exitCode, info.exitCode);
        EXPECT_EQ(check.err, info.err);
        if (info.exitCode != 0) continue;
        const std::string format = SplitLines(info.out)[1].substr(std::strlen("format:       "));
        EXPECT_EQ(check.out, file.string() + ": valid " + format + " file\n");
    }
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
    };
    for (const auto& row : rows) {
        const fs::path file = Write(row.file, row.bytes);
        const std::string want = JsonLeaves(row.expected);
        for (const bool full : {true, false}) {
            SCOPED_TRACE(std::string(row.file) + (full ? " --full" : ""));
            std::vector<std::string> args = {"--info", "--json", file.string()};
            if (full) args.insert(args.begin() + 1, "--full");
            const RunResult run = Converter(args);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            EXPECT_EQ(run.err, "");
            ExpectSummary(run.out, file, want, full);
        }
    }
}

TEST_F(ConvertInfo, NonFiniteCoordinatesPrintAsNull) {
    const fs::path file = Write("odd.obj", "v nan 0 0\nv 1 inf 0\nv 0 0 -inf\nf 1 2 3\n");
    const RunResult run = Converter({"--info", "--json", "--full", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Leaves(JsonLeaves(run.out), {"/positions"}),
              JsonLeaves(R"({"positions": [[null, 0, -0], [1, null, -0], [0, 0, null]]})"));
}

TEST_F(ConvertInfo, JsonStringsAreEscaped) {
    const fs::path file = Write("we\"ird\\ \x01\tname\xE9.obj", kObjText);
    const RunResult run = Converter({"--info", "--json", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find_first_of("\t\x01"), std::string::npos) << "raw control character in the output";
    EXPECT_NE(run.out.find("\\u0001\\u0009"), std::string::npos) << run.out;
    // The byte 0xE9 is not UTF-8 and reads back as U+00E9 (as Python writes the
    // text again); the object is named after what follows the last backslash, made legal.
    EXPECT_EQ(Leaves(JsonLeaves(run.out), {"/file", "/name"}),
              "/file\t\"" + dir_.string() + "/we\\\"ird\\\\ \\u0001\\tname\\u00e9.obj\"\n/name\t\"___name_\"\n");
}

// Whole UTF-8 sequences of two, three and four bytes pass as they are; an overlong form, a surrogate, a code
// point past U+10FFFF and a byte that leads no sequence are taken byte by byte as Latin-1.
TEST_F(ConvertInfo, JsonStringsKeepUtf8AndTakeOtherBytesAsLatin1) {
    const fs::path file =
        Write("\xC3\xA4\xE6\x9C\xA8\xF0\x9F\x98\x80 \xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80\xF5.obj", kObjText);
    const RunResult run = Converter({"--info", "--json", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Leaves(JsonLeaves(run.out), {"/file"}),
              "/file\t\"" + dir_.string() +
                  "/\\u00e4\\u6728\\ud83d\\ude00 \\u00e0\\u0080\\u0080\\u00ed\\u00a0\\u0080\\u00f4\\u0090\\u0080\\u0080\\u00f5.obj\"\n");
}

TEST_F(ConvertInfo, HumanSummaryNamesFormatAndCounts) {
    const fs::path file = Write("box.3ds", k3DSBytes);
    const RunResult run = Converter({"--info", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string line : {"format:       3D Studio\n", "name:         \"box\"\n", "points:       4\n",
                                   "polygons:     2 (2 faces, 0 lines, 0 dots)\n",
                                   "  2 \"Box01_Red\": colour 255 0 0, level 1, 1 polygons\n",
                                   "bounding box: (0, 0, 0) to (1, 3, 2)\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "in\n" << run.out;
    }
}

}  // namespace
