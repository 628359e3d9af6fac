// The scene-to-host builder: host points, polygons, surfaces and UV maps made
// from a scene, against the stand-in host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "builder/builder.h"
#include "frame/host_api.h"
#include "host_internal.h"
#include "standin_host.h"
#include "unit/unit_support.h"

namespace {

using unit::Refs;
using unit::Surface;
using Results = std::vector<int32_t>;

class BuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostApiBind(standin::Core());
        liveBefore_ = standin::LiveBlocks();
        ASSERT_EQ(unit::FreshScene(), 1);
        NewObject();
    }

    void TearDown() override {
        standin::FailAllocationAt(0);
        standin::DestroyObject(object_);
        SceneFree();
        EXPECT_EQ(standin::LiveBlocks(), liveBefore_);
    }

    void NewObject() {
        ASSERT_EQ(g_HostApi.FX_ObjectAdd(&object_, 0), 1);
        object_->geometry = static_cast<HostGeometry*>(HostAlloc(1, kHostGeometrySize));
        ASSERT_NE(object_->geometry, nullptr);
        standin::ClearMessages();
        standin::ClearCallLog();
    }

    HostGeometry* geometry() { return object_->geometry; }

    void AddPoints(int count) {
        for (int i = 0; i < count; ++i) ASSERT_EQ(SceneAddPoint(float(i), 2.0f * i, 3.0f * i), 1);
    }
    void AddUVPoints(int count) {
        for (int i = 0; i < count; ++i) ASSERT_EQ(SceneAddUVPoint(0.5f + i, 10.0f + i, 0.0f), 1);
    }
    void AddElement(const Refs& refs, uint32_t surface, const Refs& uvs = {}) {
        ASSERT_NE(SceneAddElement(int32_t(refs.size()), surface, refs.data(), uvs.empty() ? nullptr : uvs.data()), 0);
    }

    int32_t Points(uint32_t extraBytes = 0) {
        geometry()->pointCount = g_Scene.PointCount;
        return BuildPoints(g_Scene.PointCount, geometry(), extraBytes).made;
    }
    int32_t Polygons(uint8_t format, uint32_t loadFlags = kLoadNewObject, int32_t extraBytes = 0) {
        return BuildPolygons(g_Scene.PolygonCount, g_Scene.LineCount, g_Scene.DotCount, object_,
                             &geometry()->polygons, extraBytes, extraBytes, format, loadFlags).made;
    }
    int32_t UVMaps(uint8_t format) {
        return BuildUVMaps(g_Scene.PolygonCount, g_Scene.LineCount, g_Scene.DotCount, object_, &geometry()->polygons,
                           0, 0, format).made;
    }
    // The results of the three steps, run in the driver's order; every point, polygon and corner gets an
    // extra block of `extraBytes`.
    std::vector<int32_t> Build(uint8_t format, uint32_t extraBytes = 0, uint32_t loadFlags = kLoadNewObject) {
        return {Points(extraBytes), Polygons(format, loadFlags, static_cast<int32_t>(extraBytes)), UVMaps(format)};
    }
    // The scene point index each corner of polygon i points at.
    Refs CornerPoints(int i) {
        const HostPolygon* polygon = geometry()->polygons[i];
        Refs refs;
        for (int k = 0; k < polygon->cornerCount; ++k) {
            EXPECT_EQ(polygon->corners[k]->position, k);
            refs.push_back(uint32_t(polygon->corners[k]->point->index));
        }
        return refs;
    }

    std::vector<std::string> SurfaceNames() {
        std::vector<std::string> names;
        for (const HostSurface* surface = geometry()->surfaceList; surface; surface = surface->next)
            names.push_back(surface->name);
        return names;
    }

    HostObject* object_ = nullptr;
    int64_t liveBefore_ = 0;
};

// ---- Points and polygons -------------------------------------------------------------

TEST_F(BuildTest, PointsOnlySceneGetsPointsWithOwnBlocksAndNoPolygons) {
    AddPoints(3);
    Surface("unused");
    EXPECT_EQ(Build(kFormatOBJ, 16), (Results{3, 0, 0}));
    const HostPoint* p = geometry()->points[2];
    for (const double* position : {p->position0, p->position1, p->position2})
        EXPECT_EQ(std::vector<double>(position, position + 3), (std::vector<double>{2, 4, 6}));
    EXPECT_EQ(std::tuple(p->index, p->weight, standin::detail::BlockSize(p->extra)), std::tuple(2, 1.0f, 16u));
    EXPECT_NE(p->extra, geometry()->points[1]->extra);
    EXPECT_EQ(std::memcmp(p->extra, std::vector<char>(16, 0).data(), 16), 0);
    EXPECT_EQ(std::tuple(geometry()->polygons, geometry()->polygonCount + geometry()->polygonCount2,
                         geometry()->surfaceList, standin::Messages().size()),
              std::tuple(nullptr, 0, nullptr, 0u));
}

// (Which formats' corners are reversed the converter's summaries show, end to end.)
TEST_F(BuildTest, FacesThenLinesThenDotsShareOneRunningIndex) {
    AddPoints(6);
    const uint16_t wood = Surface("wood");
    const uint16_t stone = Surface("stone");
    for (uint32_t f = 0; f < 5; ++f) AddElement({f, f + 1, 5}, wood);
    AddElement({0, 1}, stone);
    AddElement({2, 3}, stone);
    AddElement({4}, wood);
    ASSERT_EQ(Build(kFormatDXF), (Results{6, 8, 0}));
    EXPECT_EQ(std::tuple(geometry()->points[0]->extra, geometry()->polygonCount, geometry()->polygonCount2),
              std::tuple(nullptr, 8, 8));
    const int corners[8] = {3, 3, 3, 3, 3, 2, 2, 1}, surfaces[8] = {1, 1, 1, 1, 1, 2, 2, 1};
    for (int i = 0; i < 8; ++i) {
        const HostPolygon* p = geometry()->polygons[i];
        EXPECT_EQ(std::tuple(p->index, p->cornerCount, p->surface, p->extra),
                  std::tuple(i, corners[i], surfaces[i], nullptr));
    }
    EXPECT_EQ(CornerPoints(6), Refs({2, 3}));
    EXPECT_EQ(CornerPoints(7), Refs({4}));
    EXPECT_EQ(standin::CallsOf("FX_GeometrySetType").size(), 8u);
}

// The polygon array ends trimmed to its polygons. When a later growth of it fails (here the second, after
// 10000 dots of three blocks each), the polygons made so far stay made and counted.
TEST_F(BuildTest, PolygonArrayIsTrimmedAndAFailedGrowthKeepsWhatWasMade) {
    AddPoints(1);
    const uint16_t s = Surface("s");
    for (int i = 0; i < 25000; ++i) AddElement({0}, s);
    ASSERT_EQ(Build(kFormatDXF), (Results{1, 25000, 0}));
    EXPECT_EQ(standin::detail::BlockSize(geometry()->polygons), 25000 * sizeof(HostPolygon*));
    EXPECT_EQ(geometry()->polygons[24999]->index, 24999);

    standin::DestroyObject(object_);
    NewObject();
    ASSERT_EQ(Points(), 1);
    standin::FailAllocationAt(1 + 10000 * 3 + 1);
    EXPECT_EQ(Polygons(kFormatDXF), 0);
    EXPECT_EQ(std::tuple(geometry()->polygonCount, geometry()->polygonCount2, standin::Messages().size()),
              std::tuple(10000, 10000, 1u));
}

// ---- Surfaces -------------------------------------------------------------------------

TEST_F(BuildTest, SurfacesTakeLegalNamesColoursAndLevelsInSceneOrder) {
    AddPoints(3);
    AddElement({0, 1, 2}, Surface("plain"));
    const uint16_t red = Surface("red brick");
    AddElement({0, 1, 2}, red);
    std::memcpy(g_Scene.SurfaceColours[red - 1], "\xFF\x00\x33", 3);
    g_Scene.SurfaceColourLevel[red - 1] = 0;
    ASSERT_EQ(Build(kFormatOBJ), (Results{3, 2, 0}));
    ASSERT_EQ(SurfaceNames(), (std::vector<std::string>{"plain", "red_brick"}));
    EXPECT_EQ(geometry()->surfaceCount, 2);
    const HostSurface *plain = geometry()->surfaceList, *brick = plain->next;
    EXPECT_EQ(std::tuple(plain->colour[0], plain->level, brick->colour[2], brick->colourF[0], brick->level),
              std::tuple(200, 1.0f, 0x33, 1.0f, 0.0f));
    EXPECT_NEAR(plain->colourF[1], 0.784f, 0.001f);
    EXPECT_FLOAT_EQ(brick->colourF[2], 0.2f);
}

TEST_F(BuildTest, KeptSurfacesAreNotMadeAgain) {
    ASSERT_EQ(g_HostApi.FX_SurfaceCreate(object_, "old_wood"), 1);
    AddPoints(3);
    AddElement({0, 1, 2}, Surface("old wood"));
    AddElement({0, 1, 2}, Surface("stone"));
    ASSERT_EQ(Build(kFormatOBJ, 0, kLoadReplaceGeometry | kLoadKeepSurfaces), (Results{3, 2, 0}));
    EXPECT_EQ(SurfaceNames(), (std::vector<std::string>{"old_wood", "stone"}));
    EXPECT_EQ(geometry()->surfaceCount, 2);
}

// ---- Records the scene cannot make --------------------------------------------------------

// Appends a polygon record as stored words, whatever its count.
void AppendRawPolygon(const Refs& words) {
    ChunkStream& stream = g_Scene.PolygonStream;
    std::memcpy(stream.cursor, words.data(), words.size() * 4);
    stream.cursor += words.size() * 4;
    stream.used[stream.last] += int32_t(words.size() * 4);
    ++g_Scene.PolygonCount;
}

TEST_F(BuildTest, CornerlessRecordEndsTheBuildWithEveryPolygonCounted) {
    AddPoints(3);
    const uint16_t s = Surface("s");
    AppendRawPolygon({3, 0, 1, 2, s});
    AppendRawPolygon({0, s});
    ASSERT_EQ(Build(kFormatOBJ), (Results{3, 0, 0}));
    EXPECT_EQ(std::tuple(geometry()->polygonCount, geometry()->polygons[1]->cornerCount, geometry()->surfaceList,
                         standin::Messages().size()),
              std::tuple(2, 0, nullptr, 0u));
}

TEST_F(BuildTest, RecordBeyondTheScratchIsNotMade) {
    AddPoints(3);
    Refs words(10003, 0);
    words[0] = 10001;
    words.back() = Surface("s");
    AppendRawPolygon(words);
    AddUVPoints(1);
    EXPECT_EQ(Build(kFormatOBJ), (Results{3, 0, 0}));
    EXPECT_EQ(std::tuple(geometry()->polygons, geometry()->uvMapCount), std::tuple(nullptr, 0));
}

// ---- UV maps ------------------------------------------------------------------------------

TEST_F(BuildTest, OneMapPerSurfaceRunWithEntriesInHostCornerOrder) {
    AddPoints(6);
    AddUVPoints(6);
    const uint16_t wood = Surface("wood");
    const uint16_t stone = Surface("stone");
    AddElement({0, 1, 2}, wood, {3, 4, 5});
    AddElement({2, 3, 4}, wood, {0, 1, 2});
    AddElement({3, 4, 5}, stone, {0, 1, 2});
    AddElement({0, 5}, stone);  // a line: never in a map
    ASSERT_EQ(Build(kFormatOBJ), (Results{6, 4, 3}));

    ASSERT_EQ(geometry()->uvMapCount, 2);
    const HostUVMap *woodMap = geometry()->uvMaps[0], *stoneMap = geometry()->uvMaps[1];
    ASSERT_EQ(std::tuple(std::string(woodMap->name), std::string(stoneMap->name), woodMap->pointEntryCount,
                         woodMap->polygonEntryCount, stoneMap->pointEntryCount),
              std::tuple("wood", "stone", 6, 6, 3));
    // The first face (a, b, c) = (0, 1, 2) with (ta, tb, tc) = (3, 4, 5) is entered as (tc, c), (tb, b), (ta, a).
    for (int c = 0; c < 3; ++c) {
        const UVMapPointEntry& entry = woodMap->pointEntries[c];
        const HostPoint* point = geometry()->points[2 - c];
        EXPECT_EQ(std::tuple(entry.u, entry.v, entry.point), std::tuple(5.5f - c, 15.0f - c, point));
        EXPECT_EQ(std::tuple(woodMap->polygonEntries[c].point, woodMap->polygonEntries[c].polygon,
                             woodMap->polygonEntries[3 + c].polygon),
                  std::tuple(point, geometry()->polygons[0], geometry()->polygons[1]));
    }
    // Point 2 is in both wood faces: its index slot holds the later entry.
    EXPECT_EQ(std::tuple(woodMap->pointIndex[2], woodMap->pointIndex[5]),
              std::tuple(&woodMap->pointEntries[5], nullptr));
    std::vector<std::string> finished;
    for (const auto& call : standin::CallsOf("CreateDCUVPolys")) finished.push_back(call.args[1]);
    EXPECT_EQ(finished, (std::vector<std::string>{"0", "1"}));
}

TEST_F(BuildTest, CornersWithoutTextureReferenceGetZeroUV) {
    AddPoints(3);
    AddUVPoints(2);
    AddElement({0, 1, 2}, Surface("wood"), {1, kNoTexture, 0});
    ASSERT_EQ(Build(kFormatDXF), (Results{3, 1, 1}));
    const HostUVMap* map = geometry()->uvMaps[0];  // DXF keeps the scene's corner order
    EXPECT_EQ(std::tuple(map->pointEntries[0].u, map->pointEntries[1].u, map->pointEntries[1].v,
                         map->polygonEntries[2].v),
              std::tuple(1.5f, 0.0f, 0.0f, 10.0f));

    // Fewer references than corners: the corners past them get 0, 0 too.
    const uint32_t points[3] = {0, 1, 2};
    const uint32_t uvs[1] = {1};
    const float uvPoints[6] = {0.5f, 10.0f, 0.0f, 1.5f, 11.0f, 0.0f};
    HostUVMap* extra = UVMapFindOrCreate(object_, "extra");
    ASSERT_EQ(UVMapAddPolygon(object_, extra, points, 3, uvs, 1, uvPoints, 0), 1);
    EXPECT_EQ(std::tuple(extra->pointEntries[0].u, extra->pointEntries[2].u, extra->polygonEntries[1].v),
              std::tuple(1.5f, 0.0f, 0.0f));
    // A polygon that was never made gets no entries, and that is no failure.
    EXPECT_EQ(UVMapAddPolygon(object_, extra, points, 3, uvs, 1, uvPoints, 1), 1);
    EXPECT_EQ(extra->pointEntryCount, 3);
    // Finishing the map indexes its points and has the host derive UV data for the last map.
    standin::ClearCallLog();
    UVMapFinish(object_, extra);
    const std::vector<standin::HostCall> finished = standin::CallsOf("CreateDCUVPolys");
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].args[1], "1");
    ASSERT_NE(extra->pointIndex, nullptr);
    EXPECT_EQ(std::tuple(extra->pointIndex[0], extra->pointIndex[2]),
              std::tuple(&extra->pointEntries[0], &extra->pointEntries[2]));
}

// An OBJ face's corners are reversed, but whether it has UVs is its own first reference's call.
TEST_F(BuildTest, ReversedFacesKeepEachTextureReferenceWithItsCorner) {
    AddPoints(3);
    AddUVPoints(2);
    const uint16_t wood = Surface("wood");
    AddElement({0, 1, 2}, wood, {1, kNoTexture, 0});
    AddElement({0, 1, 2}, wood, {kNoTexture, 0, 1});  // no UVs, though its last corners have some
    ASSERT_EQ(Build(kFormatOBJ), (Results{3, 2, 2}));
    ASSERT_EQ(geometry()->uvMapCount, 1);
    const HostUVMap* map = geometry()->uvMaps[0];
    using Entry = std::tuple<float, float, const HostPoint*>;
    std::vector<Entry> entries;
    for (int c = 0; c < map->pointEntryCount; ++c)
        entries.emplace_back(map->pointEntries[c].u, map->pointEntries[c].v, map->pointEntries[c].point);
    const HostPoint* const* points = geometry()->points;
    EXPECT_EQ(entries, (std::vector<Entry>{{0.5f, 10.0f, points[2]}, {0.0f, 0.0f, points[1]}, {1.5f, 11.0f, points[0]}}));
}

// Which map a face's texture entries go to, if any. Every face has the corners 0, 1, 2, so each of a map's
// polygons gives it three entries; a map is finished at the end of each run of its faces.
TEST_F(BuildTest, FacesFeedTheMapOfTheirSurface) {
    using Faces = std::vector<std::pair<uint32_t, Refs>>;  // surface, texture references
    using Maps = std::vector<std::pair<const char*, Refs>>;  // name, polygons
    struct Case {
        const char* what;
        std::vector<std::string> surfaces;
        Faces faces;
        Maps maps;
        size_t finishes;
    };
    const Refs none(3, kNoTexture);
    const Case cases[] = {
        {"the first texture point counts as one after a surface change", {"wood", "stone"},
         {{1, {1, 2, 1}}, {2, {0, 1, 2}}}, {{"wood", {0}}, {"stone", {1}}}, 2},
        {"a face without texture interrupts the map: it is found again and finished twice", {"wood"},
         {{1, {0, 1, 2}}, {1, none}, {1, {2, 1, 0}}}, {{"wood", {0, 2}}}, 2},
        {"surface numbers outside the table get no map", {}, {{kSurfaceSlots + 1, {0, 1, 2}}, {0, {0, 1, 2}}}, {}, 0},
        // As OBJ files without "usemtl" or "g" give them.
        {"faces before any surface name feed the map of slot one", {}, {{1, {0, 1, 2}}}, {{"", {0}}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::DestroyObject(object_);
        NewObject();
        ASSERT_EQ(unit::FreshScene(), 1);
        AddPoints(3);
        AddUVPoints(3);
        for (const std::string& name : c.surfaces) Surface(name);
        for (const auto& [surface, uvs] : c.faces) AddElement({0, 1, 2}, surface, uvs);
        const int32_t faces = int32_t(c.faces.size());
        ASSERT_EQ(Build(kFormatOBJ), (Results{3, faces, faces}));
        EXPECT_EQ(geometry()->surfaceCount, int32_t(c.surfaces.size()));
        ASSERT_EQ(geometry()->uvMapCount, int32_t(c.maps.size()));
        for (size_t m = 0; m < c.maps.size(); ++m) {
            const auto& [name, polygons] = c.maps[m];
            const HostUVMap* map = geometry()->uvMaps[m];
            EXPECT_STREQ(map->name, name);
            ASSERT_EQ(map->pointEntryCount, 3 * int32_t(polygons.size()));
            for (size_t k = 0; k < polygons.size(); ++k) {
                EXPECT_EQ(map->polygonEntries[3 * k].polygon, geometry()->polygons[polygons[k]]);
            }
        }
        EXPECT_EQ(standin::CallsOf("CreateDCUVPolys").size(), c.finishes);
    }
}

// ---- Running out of memory ------------------------------------------------------------------

// Every made record is reachable and every count matches what its array holds.
void ExpectConsistent(const HostGeometry* g, bool whole) {
    for (int i = 0; i < g->pointCount && g->points; ++i) ASSERT_NE(g->points[i], nullptr) << "point " << i;
    for (int i = 0; i < g->polygonCount; ++i) {
        const HostPolygon* polygon = g->polygons[i];
        ASSERT_NE(polygon, nullptr) << "polygon " << i;
        for (int k = 0; k < polygon->cornerCount; ++k) ASSERT_NE(polygon->corners[k]->point, nullptr);
    }
    int surfaces = 0;
    for (const HostSurface* s = g->surfaceList; s; s = s->next) ++surfaces;
    EXPECT_EQ(surfaces, g->surfaceCount);
    for (int m = 0; m < g->uvMapCount; ++m) {
        const HostUVMap* map = g->uvMaps[m];
        std::vector<const UVMapPointEntry*> latest(size_t(g->pointCount), nullptr);
        for (int j = 0; j < map->pointEntryCount; ++j) {
            ASSERT_NE(map->pointEntries[j].point, nullptr);
            latest[size_t(map->pointEntries[j].point->index)] = &map->pointEntries[j];
        }
        // A point index, when there is one, points into the current entries; after a whole build, at the
        // latest entry of each point, also after the entries grew.
        for (int i = 0; map->pointIndex && i < g->pointCount; ++i) {
            if (whole) {
                EXPECT_EQ(map->pointIndex[i], latest[size_t(i)]) << "point " << i;
            } else if (map->pointIndex[i]) {
                EXPECT_GE(map->pointIndex[i], map->pointEntries);
                EXPECT_LT(map->pointIndex[i], map->pointEntries + map->pointEntryCount);
            }
        }
    }
}

TEST_F(BuildTest, AllocationFailureAtEveryStepLeavesNoBlockBehind) {
    AddPoints(4);
    AddUVPoints(3);
    const uint16_t wood = Surface("wood");
    AddElement({0, 1, 2}, wood, {0, 1, 2});
    AddElement({1, 2, 3}, Surface("stone"), {2, 1, 0});
    // Wood again: its point entries outgrow the first block after the map was finished once.
    for (int f = 0; f < 33; ++f) AddElement({0, 3, 2}, wood, {1, 1, 1});
    AddElement({0, 3}, wood);
    AddElement({1}, wood);
    standin::DestroyObject(object_);
    object_ = nullptr;
    bool failed = true;
    for (int64_t n = 1; failed; ++n) {
        SCOPED_TRACE(n);
        const int64_t live = standin::LiveBlocks();
        NewObject();
        const int64_t start = standin::AllocationCount();
        standin::FailAllocationAt(n);
        const Results results = Build(kFormatOBJ, 8);
        failed = standin::AllocationCount() - start >= n;
        standin::FailAllocationAt(0);
        // A build that ran short says so once and answers less than the whole.
        EXPECT_EQ(standin::Messages().size(), results == (Results{4, 37, 35}) ? 0u : 1u);
        EXPECT_TRUE(failed || results == (Results{4, 37, 35}));
        ExpectConsistent(geometry(), !failed);
        if (!failed) {  // the whole build: the last polygon and its corner have their extra blocks too
            const HostPolygon* last = geometry()->polygons[36];
            EXPECT_EQ(std::tuple(standin::detail::BlockSize(last->extra),
                                 standin::detail::BlockSize(last->corners[0]->extra)),
                      std::tuple(8u, 8u));
        }
        ASSERT_EQ(g_HostApi.FX_FreeObjectGeometryOnly(&object_), 1);
        standin::DestroyObject(object_);
        object_ = nullptr;
        ASSERT_EQ(standin::LiveBlocks(), live);
    }
}

// The point references the walk keeps for the point index outgrow their first
// block on a long map: the index still names each point's latest entry. When
// that growth finds no memory, the build says so once and stops cleanly.
TEST_F(BuildTest, PointIndexOfALongMapNamesEachPointsLatestEntry) {
    constexpr int kFaces = 22000;  // 66,000 entries, more than the first block keeps
    AddPoints(500);
    AddUVPoints(2);
    const uint16_t wood = Surface("wood");
    for (uint32_t f = 0; f < kFaces; ++f) AddElement({f % 500, (7 * f + 1) % 500, (13 * f + 2) % 500}, wood, {0, 1, 0});
    ASSERT_EQ(Build(kFormatOBJ), (Results{500, kFaces, kFaces}));
    ASSERT_EQ(geometry()->uvMapCount, 1);
    EXPECT_EQ(geometry()->uvMaps[0]->pointEntryCount, 3 * kFaces);
    ExpectConsistent(geometry(), true);
    EXPECT_TRUE(standin::Messages().empty());

    ASSERT_EQ(g_HostApi.FX_FreeObjectGeometryOnly(&object_), 1);
    standin::DestroyObject(object_);
    NewObject();
    ASSERT_EQ(Points(), 500);
    ASSERT_EQ(Polygons(kFormatOBJ), kFaces);
    ModuleHeapFailAt(4);  // the UV points' copy, the face scratch, the kept references, then their growth
    EXPECT_EQ(UVMaps(kFormatOBJ), 0);
    ModuleHeapFailAt(0);
    EXPECT_EQ(standin::Messages().size(), 1u);
    ExpectConsistent(geometry(), false);
}

TEST_F(BuildTest, NoScratchIsOutOfMemory) {
    AddPoints(3);
    AddUVPoints(3);
    AddElement({0, 1, 2}, Surface("wood"), {0, 1, 2});
    ASSERT_EQ(Points(), 3);
    ModuleHeapFailAt(1);
    EXPECT_EQ(Polygons(kFormatOBJ), 0);
    EXPECT_EQ(geometry()->polygons, nullptr);
    ASSERT_EQ(Polygons(kFormatOBJ), 1);
    ModuleHeapFailAt(2);  // the UV point copy is made, the scratch is not
    EXPECT_EQ(UVMaps(kFormatOBJ), 0);
    EXPECT_EQ(std::tuple(geometry()->uvMapCount, standin::Messages().size()), std::tuple(0, 2u));
}

}  // namespace
