// The intermediate scene: chunk streams, appends, walks, the surface table,
// validation and compaction, and the scene's use of the module heap.
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "frame/module_heap.h"
#include "unit/unit_support.h"

namespace {

using unit::Refs;
using unit::Surface;
using Scene = unit::SceneTest;

// Runs before any other test touches the scene (each test also runs alone under ctest).
TEST(SceneStart, NothingDetectedBeforeTheFirstImport) {
    EXPECT_EQ(g_Scene.DetectedFormat, kFormatNeverDetected);
    EXPECT_EQ(g_Scene.LineEndStyle, kLineEndLF);
}

int32_t AddElement(uint32_t n, uint32_t first, uint32_t surface, bool withUV = false) {
    Refs indices(n);
    for (uint32_t k = 0; k < n; ++k) indices[k] = first + k;
    return SceneAddElement(static_cast<int32_t>(n), surface, indices.data(), withUV ? indices.data() : nullptr);
}

// Makes chunk 0 of `stream` its chunk `k`, with no chunks before it, so that
// the chunk limit is reached after a few chunks instead of 2048.
void JumpToChunk(ChunkStream& stream, int32_t k) {
    uint8_t* chunk = stream.chunks[0];
    for (int32_t i = 0; i < k; ++i) stream.chunks[i] = nullptr;
    stream.chunks[k] = chunk;
    stream.used[k] = stream.used[0];
    stream.last = k;
}

// Nothing one import leaves in the surface slots reaches the next; only the line end and the format are kept.
TEST_F(Scene, ResetGivesTheStartValuesAndTouchesNoMemory) {
    ImportScene& s = g_Scene;
    const int32_t last = kSurfaceSlots - 1;
    s.SurfaceColours[last][1] = 7;
    s.SurfaceColourLevel[last] = s.SurfaceShininess[last] = s.SurfaceTransparency[last] = 9;
    s.SurfaceSmooth[last] = s.GroupUseCount[last] = s.SkippedFaceCount = 3;
    s.TextBlocksOwned = s.BinaryDxfSeen = true;
    s.LineEndStyle = kLineEndCR;
    s.DetectedFormat = kFormatDXF;
    const int64_t allocations = ModuleHeapAllocCount();
    SceneReset();
    EXPECT_EQ(ModuleHeapAllocCount(), allocations);
    EXPECT_EQ(std::vector<int>(s.SurfaceColours[last], s.SurfaceColours[last] + 3), std::vector<int>(3, 200));
    EXPECT_EQ(std::tuple(s.SurfaceColourLevel[last], s.SurfaceShininess[last], s.SurfaceTransparency[last],
                         s.SurfaceSmooth[last], s.GroupUseCount[last], s.SkippedFaceCount, s.TextBlocksOwned,
                         s.BinaryDxfSeen, s.LineEndStyle, s.DetectedFormat),
              std::tuple(255, 0, 0, 0, 0u, 0, false, false, kLineEndCR, kFormatDXF));
    s.DetectedFormat = kFormatNeverDetected;
    s.LineEndStyle = kLineEndLF;
}

// Polygons of 8 x 4000 and 739 corners take 32757 words, so the next count
// word ends exactly at the threshold and its indices go to chunk 1.
TEST_F(Scene, ACountWordEndingAtTheThresholdHasItsIndicesInTheNextChunk) {
    Refs sizes(8, kMaxCorners);
    sizes.push_back(739);
    sizes.push_back(12);
    uint32_t first = 0;
    for (uint32_t n : sizes) {
        ASSERT_EQ(AddElement(n, first, n % 7 + 1, true), 1);
        first += n;
    }
    const ChunkStream& polygons = g_Scene.PolygonStream;
    // The texture records (no surface word) cross after the ninth index of the last one.
    ASSERT_EQ(std::tuple(polygons.last, polygons.used[0], polygons.used[1], g_Scene.PolygonWordTotal,
                         g_Scene.PolygonUVStream.used[1]),
              std::tuple(1, kChunkThreshold, 13 * 4, 8 * 4001 + 740 + 13, 3 * 4));

    std::vector<uint32_t*> words;
    StreamWalker w = WalkerBegin(g_Scene.PolygonStream);
    StreamWalker uvWalk = WalkerBegin(g_Scene.PolygonUVStream);
    first = 0;
    for (uint32_t n : sizes) {
        words.clear();
        const uint32_t surface = WalkerElement(w, [&](uint32_t& word) { words.push_back(&word); }) & 0xFFFFu;
        ASSERT_EQ(words.size(), n);
        EXPECT_EQ(surface, n % 7 + 1);
        for (uint32_t k = 0; k < n; ++k) ASSERT_EQ(*words[k], first + k);
        uint32_t expected = first;
        EXPECT_EQ(WalkerIndices(uvWalk, [&](uint32_t& index) { ASSERT_EQ(index, expected++); }), n);
        first += n;
    }
    EXPECT_EQ(reinterpret_cast<uint8_t*>(words[0]), polygons.chunks[1]);

    // Validation covers the same records: every index is one below `first`.
    g_Scene.PointCount = g_Scene.UVPointCount = static_cast<int32_t>(first);
    EXPECT_EQ(SceneValidate(), 1);
    g_Scene.PointCount -= 1;
    EXPECT_EQ(SceneValidate(), 0);
    g_Scene.PointCount += 1;
    g_Scene.UVPointCount -= 1;
    EXPECT_EQ(SceneValidate(), 0);
}

TEST_F(Scene, ElementsOutsideOneToFourThousandCornersChangeNothing) {
    const Refs indices(kMaxCorners + 1, 0);
    for (int32_t n : {0, -1, kMaxCorners + 1}) EXPECT_EQ(SceneAddElement(n, 1, indices.data(), indices.data()), 0);
    for (const ChunkStream* stream : {&g_Scene.PolygonStream, &g_Scene.LineStream, &g_Scene.DotStream,
                                      &g_Scene.PolygonUVStream}) {
        EXPECT_EQ(stream->used[0], 0);
        EXPECT_EQ(stream->cursor, stream->chunks[0]);
    }
    EXPECT_EQ(g_Scene.PolygonCount + g_Scene.LineCount + g_Scene.DotCount + g_Scene.PolygonWordTotal, 0);
    EXPECT_EQ(SceneAddElement(kMaxCorners, 1, indices.data(), nullptr), 1);
}

// Lines (8190 to a chunk) and dots are whole records; their texture indices are dropped. The walk goes
// through polygons, lines and dots in turn, across chunks.
TEST_F(Scene, LinesAndDotsAreWholeRecordsAndTheWalkCrossesTheirChunks) {
    const uint32_t dotPoint = 4;
    ASSERT_EQ(SceneAddElement(1, 6, &dotPoint, nullptr), 1);
    constexpr uint32_t kLines = 8190 + 3;
    Refs indices, surfaces(kLines, 3);
    for (uint32_t k = 0; k < kLines; ++k) {
        const uint32_t ends[2] = {k, k + 1};
        ASSERT_EQ(SceneAddElement(2, 3, ends, ends), 1);
        indices.insert(indices.end(), ends, ends + 2);
    }
    indices.push_back(dotPoint);
    surfaces.push_back(6);
    EXPECT_EQ(std::tuple(g_Scene.LineStream.last, g_Scene.PolygonUVStream.used[0], g_Scene.PolygonWordTotal,
                         g_Scene.LineCount, g_Scene.DotCount),
              std::tuple(1, 0, 0, int32_t(kLines), 1));
    Refs walkedIndices, walkedSurfaces;
    SceneForEachElement([&](uint32_t& index) { walkedIndices.push_back(index); },
                        [&](uint32_t& surface) { walkedSurfaces.push_back(surface); });
    EXPECT_EQ(walkedIndices, indices);
    EXPECT_EQ(walkedSurfaces, surfaces);
}

TEST_F(Scene, ValidationAcceptsNoTextureAndRejectsAnIndexEqualToTheCount) {
    const auto addValidElements = [] {
        for (int32_t i = 0; i < 4; ++i) ASSERT_EQ(SceneAddPoint(0, 0, float(i)), 1);
        ASSERT_EQ(SceneAddUVPoint(0, 0, 0), 1);
        const uint32_t corners[3] = {0, 1, 3};
        const uint32_t uv[3] = {0, kNoTexture, kNoTexture};
        ASSERT_EQ(SceneAddElement(3, 1, corners, uv), 1);
        ASSERT_EQ(SceneAddElement(2, 1, corners, nullptr), 1);
        ASSERT_EQ(SceneAddElement(1, 1, corners + 2, nullptr), 1);
    };
    addValidElements();
    EXPECT_EQ(SceneValidate(), 1);

    // One more element of each kind whose largest point index is PointCount (4), or
    // whose texture index is UVPointCount (1), placed first, in the middle and last;
    // and indices no count covers.
    const uint32_t none = kNoTexture;
    struct Raised {
        const char* what;
        int32_t n;
        std::vector<uint32_t> points;
        std::vector<uint32_t> uv;     // empty: none given
        bool validWithLargestCounts;  // once both counts are INT32_MAX
    };
    const Raised raised[] = {
        {"polygon, first corner", 3, {4, 0, 1}, {}, true},
        {"polygon, last corner", 4, {0, 1, 2, 4}, {}, true},
        {"line", 2, {3, 4}, {}, true},
        {"dot", 1, {4}, {}, true},
        {"texture index, middle corner", 3, {0, 1, 2}, {none, 1, 0}, true},
        {"point index 2^31", 3, {0, 1, 0x80000000u}, {}, false},
        {"point index all ones", 2, {0xFFFFFFFFu, 0}, {}, false},
        {"texture index one short of none", 3, {0, 1, 2}, {0xFFFFFFFEu, none, none}, false},
    };
    for (const Raised& r : raised) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(unit::FreshScene(), 1);
        addValidElements();
        ASSERT_EQ(SceneAddElement(r.n, 1, r.points.data(), r.uv.empty() ? nullptr : r.uv.data()), 1);
        EXPECT_EQ(SceneValidate(), 0);
        g_Scene.PointCount = g_Scene.UVPointCount = INT32_MAX;
        EXPECT_EQ(SceneValidate(), r.validWithLargestCounts ? 1 : 0);
    }
}

// ---- Surfaces -------------------------------------------------------------------

TEST_F(Scene, SurfacesAreFoundExactlyAndEmptyNamesBecomeDefault) {
    const std::pair<const char*, int> found[] = {{"red", 1}, {"Red", 2}, {"red", 1}, {"re", 3}, {"redder", 4}};
    for (const auto& [name, number] : found) EXPECT_EQ(Surface(name), number) << name;
    char empty[16] = "";
    uint16_t surface = 0;
    SceneFindOrAddSurface(empty, sizeof empty, &surface);
    EXPECT_STREQ(empty, "default");
    EXPECT_EQ(std::tuple(surface, Surface("default"), g_Scene.SurfaceCount, g_Scene.SurfaceSlotCount),
              std::tuple(5, 5, 5, 5));
}

TEST_F(Scene, NamesBeyond127CharactersAreCutAndShortBuffersAreNeverOverrun) {
    std::string layer(511, 'L');
    EXPECT_EQ(Surface(layer), 1);
    EXPECT_EQ(std::strlen(g_Scene.SurfaceNames[0]), 127u);
    layer[300] = 'x';
    EXPECT_EQ(Surface(layer), 1);  // differs only past the cut
    layer[126] = 'x';
    EXPECT_EQ(Surface(layer), 2);
    EXPECT_EQ(Surface(layer.substr(0, 127)), 2);

    // A 16-byte name with no terminator, in a block of exactly 16 bytes.
    auto unterminated = std::make_unique<char[]>(16);
    std::memset(unterminated.get(), 'M', 16);
    uint16_t surface = 0;
    SceneFindOrAddSurface(unterminated.get(), 16, &surface);
    EXPECT_EQ(surface, 3);
    EXPECT_EQ(std::string(g_Scene.SurfaceNames[2]), std::string(16, 'M'));

    // Too short for "default": the buffer keeps its byte, the number is default's.
    auto tiny = std::make_unique<char[]>(4);
    tiny[0] = '\0';
    tiny[1] = 'q';
    SceneFindOrAddSurface(tiny.get(), 4, &surface);
    EXPECT_EQ(surface, 4);
    EXPECT_EQ(tiny[1], 'q');
    EXPECT_STREQ(g_Scene.SurfaceNames[3], "default");
}

// From 2046 slots on every name, even a stored one, is "default", stored once.
TEST_F(Scene, From2046SlotsOnEveryNameIsDefaultStoredOnce) {
    for (int32_t i = 0; i < kSurfaceNameLimit; ++i) ASSERT_EQ(Surface("s" + std::to_string(i)), i + 1);
    char fresh[32] = "fresh";
    uint16_t surface = 0;
    SceneFindOrAddSurface(fresh, sizeof fresh, &surface);
    EXPECT_STREQ(fresh, "default");
    for (const char* name : {"another", "", "s5"}) EXPECT_EQ(Surface(name), kSurfaceNameLimit + 1) << name;
    EXPECT_EQ(std::tuple(surface, g_Scene.SurfaceSlotCount, g_Scene.SurfaceCount),
              std::tuple(kSurfaceNameLimit + 1, kSurfaceNameLimit + 1, kSurfaceNameLimit + 1));
}

TEST_F(Scene, ATableWithNoSlotLeftGivesTheFirstSurface) {
    g_Scene.SurfaceSlotCount = kSurfaceSlots;
    EXPECT_EQ(Surface("late"), 1);
    EXPECT_EQ(std::tuple(g_Scene.SurfaceSlotCount, g_Scene.SurfaceCount), std::tuple(kSurfaceSlots, 0));
}

// Gives slot `slot` a name and attributes all derived from `tint`; with `check`, expects them instead.
void SurfaceAttributes(int32_t slot, const char* name, uint8_t tint, bool check = false) {
    uint16_t* attributes[] = {&g_Scene.SurfaceColourLevel[slot], &g_Scene.SurfaceShininess[slot],
                              &g_Scene.SurfaceShininessStrength[slot], &g_Scene.SurfaceTransparency[slot]};
    if (check) {
        EXPECT_STREQ(g_Scene.SurfaceNames[slot], name);
        EXPECT_EQ(g_Scene.SurfaceColours[slot][0], tint);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(*attributes[k], tint + 1 + k) << name;
        EXPECT_EQ(g_Scene.SurfaceSmooth[slot], tint % 2);
        return;
    }
    ASSERT_EQ(Surface(name), slot + 1);
    g_Scene.SurfaceColours[slot][0] = tint;
    for (int k = 0; k < 4; ++k) *attributes[k] = uint16_t(tint + 1 + k);
    g_Scene.SurfaceSmooth[slot] = tint % 2;
}

Refs ElementSurfaces() {
    Refs surfaces;
    SceneForEachElement([](uint32_t&) {}, [&](uint32_t& surface) { surfaces.push_back(surface); });
    return surfaces;
}

// Polygons, lines and dots alike have their surface numbers rewritten.
TEST_F(Scene, CompactionMovesEachUsedSurfaceToTheFirstFreeSlotInOrder) {
    const char* names[] = {"a", "b", "c", "d", "e"};
    for (int32_t slot = 0; slot < 5; ++slot) SurfaceAttributes(slot, names[slot], uint8_t(40 + 10 * slot));
    const uint32_t corners[] = {3, 2, 1, 3, 1}, surfaces[] = {4, 2, 4, 5, 4};
    for (int k = 0; k < 5; ++k) ASSERT_EQ(AddElement(corners[k], 0, surfaces[k]), 1);
    ASSERT_EQ(SceneCompactSurfaces(), 1);
    EXPECT_EQ(std::tuple(g_Scene.SurfaceCount, g_Scene.SurfaceSlotCount), std::tuple(3, 5));
    SurfaceAttributes(0, "b", 50, true);
    SurfaceAttributes(1, "d", 70, true);
    SurfaceAttributes(2, "e", 80, true);
    // Walked as polygons, then lines, then dots.
    EXPECT_EQ(ElementSurfaces(), (Refs{2, 3, 1, 2, 2}));
    // Compacted again, nothing moves: the scene knows which slots its elements name now.
    ASSERT_EQ(SceneCompactSurfaces(), 1);
    EXPECT_EQ(g_Scene.SurfaceCount, 3);
    SurfaceAttributes(0, "b", 50, true);
    EXPECT_EQ(ElementSurfaces(), (Refs{2, 3, 1, 2, 2}));
}

// A file without materials has no surface name yet its elements say surface 1;
// words naming no slot (0, past the table) are left alone.
TEST_F(Scene, CompactionKeepsSurfacesItHasNoSlotFor) {
    const Refs surfaces = {1, 5, 0, 0xFFFF, kSurfaceSlots + 1, 0xFFFFFFFFu};
    for (uint32_t surface : surfaces) ASSERT_EQ(AddElement(3, 0, surface), 1);
    ASSERT_EQ(SceneCompactSurfaces(), 1);
    EXPECT_EQ(g_Scene.SurfaceCount, 0);
    EXPECT_EQ(ElementSurfaces(), surfaces);
}

TEST_F(Scene, CompactionWithoutScratchLeavesTheSceneUnchanged) {
    SurfaceAttributes(0, "red", 10);
    SurfaceAttributes(1, "blue", 30);
    ASSERT_EQ(AddElement(3, 0, 2), 1);
    const int64_t live = ModuleHeapLiveBlocks();
    for (int64_t failing : {1, 2}) {
        ModuleHeapFailAt(failing);
        EXPECT_EQ(SceneCompactSurfaces(), 0);
        EXPECT_EQ(g_Scene.SurfaceCount, 2);
        SurfaceAttributes(0, "red", 10, true);
        EXPECT_EQ(ElementSurfaces(), Refs{2});
        EXPECT_EQ(ModuleHeapLiveBlocks(), live);
    }
}

// ---- Full streams and failing memory --------------------------------------------

TEST_F(Scene, AFullStreamAnswersZeroAndWritesNothingMore) {
    ChunkStream& points = g_Scene.PointStream;
    JumpToChunk(points, kMaxChunks - 2);
    for (int32_t i = 0; i < 2 * kPointsPerChunk - 1; ++i) ASSERT_EQ(SceneAddPoint(1, 1, 1), 1);
    EXPECT_EQ(points.last, kMaxChunks - 1);

    // The record reaching the threshold of the last chunk is written, not counted.
    const int64_t allocations = ModuleHeapAllocCount();
    EXPECT_EQ(SceneAddPoint(2, 2, 2), 0);
    const auto state = [&] {
        return std::tuple(ModuleHeapAllocCount(), points.full, points.last, g_Scene.PointCount,
                          points.used[kMaxChunks - 1]);
    };
    const auto full = std::tuple(allocations, true, kMaxChunks - 1, 2 * kPointsPerChunk - 1,
                                 kPointsPerChunk * kPointRecordBytes);
    EXPECT_EQ(state(), full);
    const uint8_t* cursor = points.cursor;
    EXPECT_EQ(SceneAddPoint(3, 3, 3), 0);
    EXPECT_EQ(StreamReserve(points, 0), 0);
    EXPECT_EQ(points.cursor, cursor);
    EXPECT_EQ(state(), full);
}

// A polygon whose record, or whose texture record, breaks off in the last chunk
// of its stream is not counted and closes the polygon stream; the counted ones are whole.
TEST_F(Scene, APolygonBrokenOffInTheLastChunkIsNotCounted) {
    for (ChunkStream* last : {&g_Scene.PolygonStream, &g_Scene.PolygonUVStream}) {
        const bool withUV = last == &g_Scene.PolygonUVStream;
        SCOPED_TRACE(withUV ? "texture records" : "polygons");
        ASSERT_EQ(unit::FreshScene(), 1);
        JumpToChunk(*last, kMaxChunks - 1);
        int32_t added = 0;
        while (AddElement(kMaxCorners, 0, 1, withUV) == 1) ++added;
        EXPECT_EQ(std::tuple(added, g_Scene.PolygonCount, g_Scene.PolygonUVCount, g_Scene.PolygonWordTotal,
                             last->full, g_Scene.PolygonStream.full),
                  std::tuple(kChunkThreshold / ((kMaxCorners + 2) * 4), added, withUV ? added : 0,
                             added * (kMaxCorners + 1), true, true));
        const int32_t used = last->used[kMaxChunks - 1];
        EXPECT_LE(used, kChunkBytes);
        EXPECT_EQ(AddElement(3, 0, 1), 0);
        EXPECT_EQ(std::tuple(last->used[kMaxChunks - 1], g_Scene.PolygonCount), std::tuple(used, added));
        std::vector<uint32_t*> words;
        StreamWalker w{&g_Scene.PolygonStream, withUV ? 0 : kMaxChunks - 1, 0};
        for (int32_t k = 0; k < added; ++k) {
            words.clear();
            const uint32_t surface = WalkerElement(w, [&](uint32_t& word) { words.push_back(&word); }) & 0xFFFFu;
            ASSERT_EQ(words.size(), size_t(kMaxCorners));
            EXPECT_EQ(*words[kMaxCorners - 1], uint32_t(kMaxCorners - 1));
            EXPECT_EQ(surface, 1u);
        }
    }
}

TEST(SceneHeap, EveryFailingFirstChunkIsCleanedUp) {
    for (int64_t failing = 1;; ++failing) {
        SCOPED_TRACE(failing);
        SceneReset();
        ModuleHeapFailAt(failing);
        const int32_t made = SceneAllocateFirstChunks();
        ModuleHeapFailAt(0);
        if (made) break;
        EXPECT_EQ(ModuleHeapLiveBlocks(), 0);
        EXPECT_EQ(g_Scene.WordScratch, nullptr);
        SceneFree();  // the driver's release afterwards frees nothing twice
        ASSERT_LT(failing, 20);
    }
    SceneFree();
    SceneFree();
    EXPECT_EQ(ModuleHeapLiveBlocks(), 0);
}

TEST_F(Scene, ANewChunkThatCannotBeHadFailsTheAppendAndLeaksNothing) {
    for (int32_t i = 0; i < kPointsPerChunk - 1; ++i) ASSERT_EQ(SceneAddPoint(0, 0, 0), 1);
    ModuleHeapFailAt(1);
    EXPECT_EQ(SceneAddPoint(0, 0, 0), 0);
    EXPECT_EQ(std::tuple(g_Scene.PointCount, g_Scene.PointStream.last, g_Scene.PointStream.full),
              std::tuple(kPointsPerChunk - 1, 0, true));
    EXPECT_EQ(SceneAddPoint(0, 0, 0), 0);
}

}  // namespace
