// tamlorn-convert --to FORMAT INPUT...: many files through worker processes,
// as a person or an outside scheduler runs it: folders walked, failures passed
// over, outputs named and placed, the report, the progress bar.
#include <map>

#include "host_support.h"

namespace {

using namespace host_support;

// The files below `root` and their bytes; an OBJ's first line (its date) left out.
std::map<std::string, std::string> FilesBelow(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string bytes = ReadFile(entry.path());
        if (entry.path().extension() == ".obj") bytes.erase(0, bytes.find('\n'));
        files[entry.path().lexically_relative(root).string()] = bytes;
    }
    return files;
}

// Python's json reads each report line; it prints path, result, exit code and
// reason (or null), one line per input, sorted.
constexpr const char* kReadReport = R"(import json, sys
rows = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
for r in sorted(rows, key=lambda r: r["path"].split("/")[-1]):
    assert set(r) == {"path", "format", "output", "result", "exit_code", "reason", "points", "polygons", "seconds"}
    print(r["path"].split("/")[-1], r["format"], r["result"], r["exit_code"], r["points"], r["reason"] is not None))";

using ConvertBatch = TempDirTest;

// A folder with good files in any letter case, one that is not a model, one
// whose output exists, and a file that is no model format at all: the batch
// converts what it can, skips and refuses the rest with reasons, mirrors the
// folders below -o, and exits with the highest code it met.
TEST_F(ConvertBatch, GoesOnPastRefusedFiles) {
    fs::create_directories(dir_ / "in" / "sub");
    Write("in/a.obj", kTriangleObj);
    Write("in/sub/b.OBJ", kTriangleObj);
    Write("in/sub/notes.txt", "not looked at");
    Write("in/bad.obj", "this is no model\n");
    Write("in/kept.obj", kTriangleObj);
    fs::create_directories(dir_ / "out");
    Write("out/kept.dxf", "an earlier output");
    const RunResult run = Converter({"--to", "dxf", "-o", (dir_ / "out").string(), "--report",
                                   (dir_ / "r.jsonl").string(), (dir_ / "in").string()});
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "a.dxf"));
    EXPECT_TRUE(fs::exists(dir_ / "out" / "sub" / "b.dxf"));
    EXPECT_FALSE(fs::exists(dir_ / "out" / "bad.dxf"));
    EXPECT_EQ(ReadFile(dir_ / "out" / "kept.dxf"), "an earlier output");
    EXPECT_NE(run.err.find("bad.obj: not a file of any of the three formats"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("converted 2 of 4 files"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("  skipped: " + (dir_ / "out" / "kept.dxf").string() + ": exists, skipped (--force"),
              std::string::npos) << run.err;
    const RunResult report = RunProgram({"python3", "-c", kReadReport, (dir_ / "r.jsonl").string()}, dir_);
    EXPECT_EQ(report.exitCode, 0) << report.err;
    EXPECT_EQ(report.out,
              "a.obj obj converted 0 3 False\n"
              "b.OBJ obj converted 0 3 False\n"
              "bad.obj None failed 3 None True\n"
              "kept.obj None skipped 5 None True\n");
    // --force overwrites; a failure that is the only one gives its own code.
    EXPECT_EQ(Converter({"--to", "dxf", "--force", "--quiet", "-o", (dir_ / "out").string(), (dir_ / "in").string()}).exitCode, 3);
    EXPECT_NE(ReadFile(dir_ / "out" / "kept.dxf"), "an earlier output");
}

// Outputs never go onto an input, nor two inputs onto one output.
TEST_F(ConvertBatch, RefusesToWriteOntoInputsOrTwice) {
    fs::create_directories(dir_ / "other");
    const fs::path obj = Write("a.obj", kTriangleObj);
    const fs::path other = Write("other/a.obj", kTriangleObj);
    const RunResult twice = Converter({"--to", "dxf", "--quiet", "-o", (dir_ / "out").string(), obj.string(), other.string()});
    EXPECT_EQ(twice.exitCode, 5);
    EXPECT_EQ(twice.err, "tamlorn-convert: " + (dir_ / "out" / "a.dxf").string() + ": is also the output of " +
                             obj.string() + "\n");
    const RunResult onto = Converter({"--to", "obj", "--quiet", obj.string()});
    EXPECT_EQ(onto.exitCode, 5);
    EXPECT_NE(onto.err.find(": is the input " + obj.string() + ", which is never written"), std::string::npos) << onto.err;
    EXPECT_EQ(ReadFile(obj), kTriangleObj);
}

// Workers in parallel give the same bytes as one at a time (the OBJ date aside).
TEST_F(ConvertBatch, TwoWorkersWriteWhatOneWrites) {
    for (const std::string to : {"obj", "3ds", "dxf"}) {
        SCOPED_TRACE(to);
        std::string messages[2];
        for (const std::string jobs : {"1", "2"}) {
            messages[jobs == "2"] =
                Converter({"--to", to, "-j", jobs, "--quiet", "-o", (dir_ / ("j" + jobs)).string(), TAMLORN_CORPUS_DIR}).err;
        }
        const auto one = FilesBelow(dir_ / "j1");
        EXPECT_GT(one.size(), 30u);
        EXPECT_EQ(FilesBelow(dir_ / "j2"), one) << "-j 1:\n" << messages[0] << "-j 2:\n" << messages[1];
        fs::remove_all(dir_ / "j1");
        fs::remove_all(dir_ / "j2");
    }
}

// --files-from - takes the list from standard input; outputs go beside the inputs. A list that cannot be
// read is an unreadable input.
TEST_F(ConvertBatch, FilesFromStandardInput) {
    const fs::path a = Write("a.obj", kTriangleObj);
    const fs::path b = Write("b.obj", kTriangleObj);
    const fs::path list = Write("list.txt", a.string() + "\n\n" + b.string() + "\r\n");
    const RunResult run = Converter({"--to", "3ds", "--files-from", "-"}, list);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir_ / "a.3ds") && fs::exists(dir_ / "b.3ds"));
    const fs::path missing = dir_ / "missing.txt";
    const RunResult refused = Converter({"--to", "3ds", "--files-from", missing.string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find(missing.string() + ": the list cannot be read"), std::string::npos) << refused.err;
}

// The bar is drawn in place on a terminal (script(1) gives the converter one)
// and never when standard error is a file.
TEST_F(ConvertBatch, ProgressBarOnlyOnATerminal) {
    fs::create_directories(dir_ / "in");
    Write("in/a.obj", kTriangleObj);
    Write("in/b.obj", kTriangleObj);
    const std::string command = std::string(kConverter) + " --to dxf -o " + (dir_ / "out").string() + " " +
                                (dir_ / "in").string();
    if (RunProgram({"sh", "-c", "command -v script"}, dir_).exitCode != 0) GTEST_SKIP() << "script(1) is not installed";
    const RunResult terminal = RunProgram({"script", "-qfec", command, "/dev/null"}, dir_);
    EXPECT_EQ(terminal.exitCode, 0) << terminal.out;
    EXPECT_NE(terminal.out.find("\r[###"), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find("2/2  b.obj  "), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find(" MB/s  0:00 left"), std::string::npos) << terminal.out;
    const RunResult file = Converter({"--to", "dxf", "--force", "-o", (dir_ / "out").string(), (dir_ / "in").string()});
    EXPECT_EQ(file.exitCode, 0);
    EXPECT_EQ(file.err.find('\r'), std::string::npos) << file.err;
    EXPECT_NE(file.err.find("converted 2 of 2 files"), std::string::npos) << file.err;
}

}  // namespace
