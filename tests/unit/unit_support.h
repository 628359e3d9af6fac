// Scaffolding shared by the unit tests: the scene as the import driver
// prepares it, checked for module blocks left at the end of each test, and its
// streams read back as plain values. Files, folders, the corpus and 3D Studio
// chunks come from the host tests' host_support.h.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "frame/module_heap.h"
#include "host/host_support.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace unit {

namespace fs = std::filesystem;
using Point = std::array<float, 3>;
using Refs = std::vector<uint32_t>;
using host_support::ReadFile;

// ---- The scene -----------------------------------------------------------------------

// The scene as the driver starts an import: the last one freed, reset, first chunks made (0 without memory).
inline int32_t FreshScene() {
    SceneFree();
    SceneReset();
    return SceneAllocateFirstChunks();
}

// Each test starts with a fresh scene and leaves no module block behind; SceneFileTest has a folder of its own too.
template <typename Base>
class SceneFixture : public Base {
protected:
    void SetUp() override {
        Base::SetUp();
        liveBefore_ = ModuleHeapLiveBlocks();
        ASSERT_EQ(FreshScene(), 1);
    }
    void TearDown() override {
        ModuleHeapFailAt(0);
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), liveBefore_) << "module blocks left behind";
        Base::TearDown();
    }
    int64_t liveBefore_ = 0;
};
using SceneTest = SceneFixture<::testing::Test>;
using SceneFileTest = SceneFixture<host_support::TempDirTest>;

// The results of the sniffer and the reader; `read` is -1 when the scene's first chunks could not be had.
struct Load {
    int32_t sniffed = 0;
    int32_t read = -1;
};

// One text import as the driver runs it: a fresh scene, the sniffer on the file's head (NUL-terminated),
// the detected format noted, then the reader.
inline Load LoadLikeTheDriver(const fs::path& path, uint8_t format, int32_t (*sniff)(int32_t, const uint8_t*),
                              int32_t (*read)(const char*)) {
    if (!FreshScene()) return {};
    const std::string head = ReadFile(path).substr(0, kTextSampleBytes);
    Load load;
    load.sniffed = sniff(static_cast<int32_t>(head.size()), reinterpret_cast<const uint8_t*>(head.c_str()));
    g_Scene.DetectedFormat = format;
    load.read = read(path.string().c_str());
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
// Every element: polygons, then lines, then dots.
inline std::vector<Element> SceneElements() {
    std::vector<Element> all = ScenePolygons();
    for (const auto& part : {SceneLines(), SceneDots()}) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline std::vector<Refs> RefsOf(const std::vector<Element>& elements) {
    std::vector<Refs> out;
    for (const Element& e : elements) out.push_back(e.refs);
    return out;
}

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
inline void AddPoints(const std::vector<Point>& points) {
    for (const Point& p : points) ASSERT_EQ(SceneAddPoint(p[0], p[1], p[2]), 1);
}
inline std::vector<Point> ScenePoints() { return StreamPoints(g_Scene.PointStream, g_Scene.PointCount); }
inline Point ScenePoint(uint32_t i) {
    Point p;
    std::memcpy(p.data(), ScenePointAt(static_cast<int32_t>(i)), sizeof p);
    return p;
}
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
