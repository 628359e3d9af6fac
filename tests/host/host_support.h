// What the tests that drive the built module through the stand-in host share:
// files in a folder of each test's own, the module loaded once per suite with
// every test ending on no host or module block left, programs run as
// subprocesses, the corpus, 3D Studio chunks and DXF text written.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform_support.h"
#include "standin_host.h"

namespace host_support {

namespace fs = std::filesystem;

// A new file each time, never one rewritten in place.
inline fs::path WriteFile(const fs::path& path, std::string_view bytes) {
    fs::remove(path);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path;
}

// The lines without their line ends; a last piece without one is a line too.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t lf = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

inline const std::string kConverter = BuiltProgram("tamlorn-convert");

// A folder of the test's own, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("tamlorn_" + std::to_string(ProcessId()) + "_" + test->test_suite_name() + "_" + test->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path Write(const std::string& name, std::string_view bytes) { return WriteFile(dir_ / name, bytes); }
    // Runs the built tamlorn-convert with `args` (and `input` as standard input).
    RunResult Converter(const std::vector<std::string>& args, const fs::path& input = kNullDevice) {
        std::vector<std::string> argv = {kConverter};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir_, input);
    }
    fs::path dir_;
};

// The test flavour of the module, loaded once for the suite. Each test starts
// with the host's default naming, an empty call log and no messages, and ends
// with the object in its slot destroyed and no host or module block left.
class ModuleTest : public TempDirTest {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(standin::LoadModule(TAMLORN_TESTHOOKS_MODULE_PATH, &error)) << error;
    }
    static void TearDownTestSuite() { standin::UnloadModule(); }
    void SetUp() override {
        TempDirTest::SetUp();
        standin::NamingPrefs().legalNames = 1;
        standin::ClearCallLog();
        standin::ClearMessages();
        blocksBefore_ = standin::LiveBlocks();
    }
    void TearDown() override {
        DestroyLoaded();
        TempDirTest::TearDown();
    }
    // An object of the test's own in the slot, as the host's modelling makes it.
    void Build(const standin::ObjectDesc& desc) {
        object_ = standin::BuildObject(desc);
        ASSERT_NE(object_, nullptr);
    }
    int32_t Load(const fs::path& path, uint32_t flags = kLoadNewObject, const char* extension = "obj") {
        return standin::LoadFile(*standin::FindServer(true, extension), &object_, path.string(), flags);
    }
    // Destroys the object in the slot; true when every host block went with it
    // and the module's heap is empty.
    bool DestroyLoaded() {
        standin::DestroyObject(object_);
        object_ = nullptr;
        EXPECT_EQ(standin::LiveBlocks(), blocksBefore_) << "host blocks left behind";
        EXPECT_EQ(standin::ModuleHeapLiveBlocks(), 0) << "module blocks left behind";
        return standin::LiveBlocks() == blocksBefore_ && standin::ModuleHeapLiveBlocks() == 0;
    }
    HostObject* object_ = nullptr;
    int64_t blocksBefore_ = 0;
};

// The host's legal name: every character but letters, digits, '_', '-' and '.' becomes '_'.
inline std::string LegalName(std::string name) {
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') c = '_';
    return name;
}

inline constexpr const char* kTriangleObj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

inline standin::PointDesc P(double x, double y, double z) { return {{x, y, z}, {}, false}; }

// A triangle on the one surface "s", as the host's modelling makes it.
inline standin::ObjectDesc TriangleObject(const std::string& name) {
    return {name, {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0)}, {{"s"}}, {{{0, 1, 2}, 1}}, {}};
}

// The files of one format's corpus folder, sorted, leaving out those with the extension `skip`.
inline std::vector<fs::path> CorpusFiles(const std::string& format, const std::string& skip) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TAMLORN_CORPUS_DIR) / format))
        if (entry.path().extension() != skip) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The model files of the whole corpus (not the material libraries and licence notes).
inline std::vector<fs::path> CorpusInputs() {
    std::vector<fs::path> files;
    for (const char* format : {"obj", "3ds", "dxf"})
        for (const fs::path& f : CorpusFiles(format, ".mtl"))
            if (f.extension() != ".txt") files.push_back(f);
    return files;
}

inline std::string U16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
inline std::string U32(uint32_t v) { return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16)); }
inline std::string F32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return U32(bits);
}
inline std::string Chunk(uint16_t id, const std::string& content) {
    return U16(id) + U32(static_cast<uint32_t>(6 + content.size())) + content;
}
// Whole 3D Studio files written chunk by chunk: a main chunk with its version,
// sections, named objects with their triangle mesh, materials.
namespace tds {

using Point = std::array<float, 3>;
using Corners = std::array<uint16_t, 3>;

inline std::string Name(const std::string& s) { return s + '\0'; }
// A chunk whose length field says `length`, whatever it holds.
inline std::string ChunkOfLength(uint16_t id, uint32_t length, const std::string& content) {
    return U16(id) + U32(length) + content;
}
// The copy with the u32 at `at` replaced.
inline std::string WithU32(std::string bytes, size_t at, uint32_t value) { return bytes.replace(at, 4, U32(value)); }

inline std::string File(const std::string& sections) { return Chunk(0x4D4D, Chunk(0x0002, U32(3)) + sections); }
inline std::string Editor(const std::string& chunks) { return Chunk(0x3D3D, chunks); }
inline std::string Object(const std::string& name, const std::string& mesh) {
    return Chunk(0x4000, Name(name) + Chunk(0x4100, mesh));
}
inline std::string PointRecords(const std::vector<Point>& points) {
    std::string records;
    for (const Point& p : points) records += F32(p[0]) + F32(p[1]) + F32(p[2]);
    return records;
}
inline std::string PointList(const std::vector<Point>& points) {
    return Chunk(0x4110, U16(static_cast<uint16_t>(points.size())) + PointRecords(points));
}
// The face records, then `after` (material groups, smoothing) inside the list.
inline std::string FaceList(const std::vector<Corners>& faces, const std::string& after = "") {
    std::string content = U16(static_cast<uint16_t>(faces.size()));
    for (const Corners& f : faces) content += U16(f[0]) + U16(f[1]) + U16(f[2]) + U16(7);
    return Chunk(0x4120, content + after);
}
inline std::string Group(const std::string& material, const std::vector<uint16_t>& faces) {
    std::string content = Name(material) + U16(static_cast<uint16_t>(faces.size()));
    for (uint16_t f : faces) content += U16(f);
    return Chunk(0x4130, content);
}
inline std::string Smoothing(const std::vector<uint32_t>& masks) {
    std::string content;
    for (uint32_t m : masks) content += U32(m);
    return Chunk(0x4150, content);
}
inline std::string Material(const std::string& chunks) { return Chunk(0xAFFF, chunks); }
inline std::string MaterialName(const std::string& name) { return Chunk(0xA000, Name(name)); }

}  // namespace tds

namespace dxf {

using Point = std::array<float, 3>;

struct Group {
    int code;
    std::string value;
};
using Groups = std::vector<Group>;

inline Groups operator+(Groups a, const Groups& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Each group as two lines: its code right-aligned in three places, then its value.
inline std::string Text(const Groups& groups, const std::string& lineEnd = "\n") {
    std::string out;
    for (const Group& g : groups) {
        char code[16];
        std::snprintf(code, sizeof code, "%3d", g.code);
        out += code + lineEnd + g.value + lineEnd;
    }
    return out;
}

// A coordinate triple under the codes first, first + 10 and first + 20.
inline Groups Xyz(double x, double y, double z, int first = 10) {
    Groups g;
    for (double v : {x, y, z}) {
        std::ostringstream s;
        s.precision(9);
        s << v;
        g.push_back({first + 10 * int(g.size()), s.str()});
    }
    return g;
}

inline Groups Section(const std::string& name, const Groups& body) {
    return Groups{{0, "SECTION"}, {2, name}} + body + Groups{{0, "ENDSEC"}};
}
inline const Groups kEndOfFile = {{0, "EOF"}};

// A drawing with one "ENTITIES" section.
inline std::string Drawing(const Groups& entities, const std::string& lineEnd = "\n") {
    return Text(Section("ENTITIES", entities) + kEndOfFile, lineEnd);
}

inline Groups PointEntity(double x, double y, double z) { return Groups{{0, "POINT"}} + Xyz(x, y, z); }
inline Groups Line(Point a, Point b) {
    return Groups{{0, "LINE"}} + Xyz(a[0], a[1], a[2]) + Xyz(b[0], b[1], b[2], 11);
}
inline Groups Face(const std::vector<Point>& corners) {
    Groups g = {{0, "3DFACE"}};
    for (size_t k = 0; k < corners.size(); ++k) g = g + Xyz(corners[k][0], corners[k][1], corners[k][2], 10 + int(k % 4));
    return g;
}
// The entity with a layer group after its kind.
inline Groups OnLayer(const std::string& layer, Groups entity) {
    entity.insert(entity.begin() + 1, {8, layer});
    return entity;
}

}  // namespace dxf

}  // namespace host_support
