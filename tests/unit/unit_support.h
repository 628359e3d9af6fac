// Scaffolding shared by the unit tests: a folder of files for each test, the
// scene as the import driver prepares it, its streams read back as plain
// values, the corpus listings and 3D Studio files written chunk by chunk.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "frame/module_heap.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace unit {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Point = std::array<float, 3>;
using Refs = std::vector<uint32_t>;

// ---- Files ---------------------------------------------------------------------------

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A new file each time: rewriting one in place makes some file systems flush it at every close.
inline std::string WriteBytes(const fs::path& path, std::string_view bytes) {
    fs::remove(path);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}
inline std::string WriteBytes(const fs::path& path, const Bytes& bytes) {
    return WriteBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A folder of the running test's own, removed with its files at the end.
class TempFolder {
public:
    TempFolder() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("tamlorn_" + std::string(test->test_suite_name()) + "_" + test->name() +
                                            "_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path Path(const std::string& name) const { return dir_ / name; }
    template <typename Content>
    std::string Write(const std::string& name, const Content& bytes) const {
        return WriteBytes(dir_ / name, bytes);
    }

private:
    fs::path dir_;
};

// The corpus files of one format (a folder of TAMLORN_CORPUS_DIR), sorted, without its notes.
inline std::vector<fs::path> CorpusFiles(const std::string& format) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(TAMLORN_CORPUS_DIR) / format)) {
        if (entry.path().extension() != ".txt") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// ---- The scene -----------------------------------------------------------------------

// The scene as the driver starts an import: the last one freed, reset, first chunks made (0 without memory).
inline int32_t FreshScene() {
    SceneFree();
    SceneReset();
    return SceneAllocateFirstChunks();
}

// Each test starts with a fresh scene and leaves no module block behind.
class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore_ = ModuleHeapLiveBlocks();
        ASSERT_EQ(FreshScene(), 1);
    }
    void TearDown() override {
        ModuleHeapFailAt(0);
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), liveBefore_) << "module blocks left behind";
    }
    int64_t liveBefore_ = 0;
};

// The results of the sniffer and the reader; `read` is -1 when the scene's first chunks could not be had.
struct Load {
    int32_t sniffed = 0;
    int32_t read = -1;
};

// One text import as the driver runs it: a fresh scene, the sniffer on the file's head (NUL-terminated),
// the detected format noted, then the reader.
inline Load LoadLikeTheDriver(const std::string& path, uint8_t format, int32_t (*sniff)(int32_t, const uint8_t*),
                              int32_t (*read)(const char*)) {
    if (!FreshScene()) return {};
    const std::string head = ReadBytes(path).substr(0, kTextSampleBytes);
    Load load;
    load.sniffed = sniff(static_cast<int32_t>(head.size()), reinterpret_cast<const uint8_t*>(head.c_str()));
    g_Scene.DetectedFormat = format;
    load.read = read(path.c_str());
    return load;
}

// ---- Reading the scene back ------------------------------------------------------------

// One stored element: its count word, point references and surface word, as stored.
struct Element {
    uint32_t count = 0;
    Refs refs;
    uint32_t surface = 0;
    bool operator==(const Element&) const = default;
};

// Polygon records may cross into the next chunk before any index word; lines and dots are whole records.
inline std::vector<Element> ReadElements(ChunkStream& stream, int32_t records) {
    const bool polygons = &stream == &g_Scene.PolygonStream;
    std::vector<Element> out;
    StreamWalker w = WalkerBegin(stream);
    for (int32_t r = 0; r < records; ++r) {
        Element e;
        e.count = *WalkerWord(w);
        for (uint32_t k = 0; k < (e.count & 0xFFFFu); ++k) {
            if (polygons) WalkerNextChunkIfDone(w);
            e.refs.push_back(*WalkerWord(w));
        }
        e.surface = *WalkerWord(w);
        if (!polygons) WalkerNextChunkIfDone(w);
        out.push_back(e);
    }
    return out;
}
inline std::vector<Element> ScenePolygons() { return ReadElements(g_Scene.PolygonStream, g_Scene.PolygonCount); }
inline std::vector<Element> SceneLines() { return ReadElements(g_Scene.LineStream, g_Scene.LineCount); }
inline std::vector<Element> SceneDots() { return ReadElements(g_Scene.DotStream, g_Scene.DotCount); }

// The texture references of each polygon record.
inline std::vector<Refs> ScenePolygonUVs() {
    std::vector<Refs> out;
    StreamWalker w = WalkerBegin(g_Scene.PolygonUVStream);
    for (int32_t r = 0; r < g_Scene.PolygonUVCount; ++r) {
        Refs uvs;
        WalkerIndices(w, [&](uint32_t& word) { uvs.push_back(word); });
        out.push_back(uvs);
    }
    return out;
}

inline std::vector<Point> StreamPoints(ChunkStream& stream, int32_t count) {
    std::vector<Point> out(static_cast<size_t>(count));
    StreamWalker w = WalkerBegin(stream);
    for (Point& p : out) std::memcpy(p.data(), WalkerRecord(w, kPointRecordBytes), sizeof p);
    return out;
}
inline std::vector<Point> ScenePoints() { return StreamPoints(g_Scene.PointStream, g_Scene.PointCount); }
inline Point ScenePoint(uint32_t i) {
    Point p;
    std::memcpy(p.data(), ScenePointAt(static_cast<int32_t>(i)), sizeof p);
    return p;
}
// An element's corners as scene points.
inline std::vector<Point> Corners(const Element& e) {
    std::vector<Point> out;
    for (uint32_t ref : e.refs) out.push_back(ScenePoint(ref));
    return out;
}

inline std::string SurfaceName(uint32_t surface) { return g_Scene.SurfaceNames[surface - 1]; }
// The names of the counted surfaces, in slot order.
inline std::vector<std::string> SurfaceNames() {
    return std::vector<std::string>(g_Scene.SurfaceNames, g_Scene.SurfaceNames + g_Scene.SurfaceCount);
}
// The number SceneFindOrAddSurface gives `name`, from a buffer of at least a slot's size.
inline uint16_t Surface(const std::string& name) {
    std::vector<char> buffer(std::max<size_t>(name.size() + 1, kSurfaceNameBytes));
    std::memcpy(buffer.data(), name.c_str(), name.size() + 1);
    uint16_t surface = 0;
    SceneFindOrAddSurface(buffer.data(), static_cast<int32_t>(buffer.size()), &surface);
    return surface;
}

}  // namespace unit
