// Point welding against a straightforward reference (a std::map from the
// 12 key bytes to the first occurrence's new index), on inputs in ascending
// and descending byte order, in random order and with many duplicates, and
// with element references spread over several chunks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "build/build.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

namespace {

using Key = std::array<uint32_t, 3>;  // the point's float bits

Key KeyOf(float x, float y, float z) {
    Key key;
    const float xyz[3] = {x, y, z};
    std::memcpy(key.data(), xyz, sizeof xyz);
    return key;
}

// Keys compare like the 12 bytes in memory order.
struct ByteOrder {
    bool operator()(const Key& a, const Key& b) const { return std::memcmp(a.data(), b.data(), 12) < 0; }
};

struct Reference {
    std::vector<uint32_t> remap;
    std::vector<Key> points;
};

Reference ReferenceWeld(const std::vector<Key>& input) {
    Reference r;
    std::map<Key, uint32_t, ByteOrder> firstIndex;
    for (const Key& key : input) {
        const auto [it, added] = firstIndex.emplace(key, static_cast<uint32_t>(r.points.size()));
        if (added) r.points.push_back(key);
        r.remap.push_back(it->second);
    }
    return r;
}

// One element as stored: its count word, references and surface word.
struct Element {
    uint32_t count;
    std::vector<uint32_t> refs;
    uint32_t surface;
    bool operator==(const Element&) const = default;
};

std::vector<Element> ReadPolygons() {
    std::vector<Element> out;
    StreamWalker w = WalkerBegin(g_Scene.PolygonStream);
    for (int32_t p = 0; p < g_Scene.PolygonCount; ++p) {
        Element e;
        e.count = *WalkerWord(w);
        for (uint32_t k = 0; k < (e.count & 0xFFFFu); ++k) {
            WalkerNextChunkIfDone(w);
            e.refs.push_back(*WalkerWord(w));
        }
        e.surface = *WalkerWord(w);
        out.push_back(e);
    }
    return out;
}

std::vector<Element> ReadWholeRecords(ChunkStream& stream, int32_t records, uint32_t points) {
    std::vector<Element> out;
    StreamWalker w = WalkerBegin(stream);
    for (int32_t r = 0; r < records; ++r) {
        Element e;
        e.count = *WalkerWord(w);
        for (uint32_t k = 0; k < points; ++k) e.refs.push_back(*WalkerWord(w));
        e.surface = *WalkerWord(w);
        WalkerNextChunkIfDone(w);
        out.push_back(e);
    }
    return out;
}

struct Elements {
    std::vector<Element> polygons, lines, dots;
};

Elements ReadElements() {
    return {ReadPolygons(), ReadWholeRecords(g_Scene.LineStream, g_Scene.LineCount, 2),
            ReadWholeRecords(g_Scene.DotStream, g_Scene.DotCount, 1)};
}

std::vector<Element> Remapped(std::vector<Element> elements, const std::vector<uint32_t>& remap) {
    for (Element& e : elements) {
        for (uint32_t& ref : e.refs) ref = remap[ref];
    }
    return elements;
}

std::vector<Key> ScenePoints() {
    std::vector<Key> out(static_cast<size_t>(g_Scene.PointCount));
    for (int32_t i = 0; i < g_Scene.PointCount; ++i) std::memcpy(out[i].data(), ScenePointAt(i), 12);
    return out;
}

class Weld : public ::testing::Test {
protected:
    void SetUp() override {
        SceneReset();
        ASSERT_EQ(SceneAllocateFirstChunks(), 1);
    }
    void TearDown() override {
        ModuleHeapFailAt(0);
        SceneFree();
        EXPECT_EQ(ModuleHeapLiveBlocks(), 0);
    }

    void AddPoints(const std::vector<Key>& keys) {
        for (const Key& key : keys) {
            float xyz[3];
            std::memcpy(xyz, key.data(), sizeof xyz);
            ASSERT_EQ(SceneAddPoint(xyz[0], xyz[1], xyz[2]), 1);
        }
    }

    // Polygons of 3 to 7 corners, lines and dots over random points, on surfaces 1 to 9.
    void AddRandomElements(std::mt19937& random, int32_t each) {
        std::uniform_int_distribution<uint32_t> point(0, static_cast<uint32_t>(g_Scene.PointCount) - 1);
        std::uniform_int_distribution<uint32_t> surface(1, 9);
        std::uniform_int_distribution<int32_t> corners(3, 7);
        for (int32_t k = 0; k < each; ++k) {
            uint32_t refs[7];
            const int32_t n = corners(random);
            for (uint32_t& ref : refs) ref = point(random);
            ASSERT_NE(SceneAddElement(n, surface(random), refs, nullptr), 0);
            ASSERT_NE(SceneAddElement(2, surface(random), refs, nullptr), 0);
            ASSERT_NE(SceneAddElement(1, surface(random), refs + 2, nullptr), 0);
        }
    }

    // Welds and compares points and every element word with the reference.
    void ExpectWeldLikeReference(const std::vector<Key>& input) {
        const Reference expected = ReferenceWeld(input);
        const Elements before = ReadElements();
        ASSERT_EQ(WeldPoints(), 1);
        EXPECT_EQ(g_Scene.PointCount, static_cast<int32_t>(expected.points.size()));
        EXPECT_TRUE(ScenePoints() == expected.points);
        const Elements after = ReadElements();
        EXPECT_TRUE(after.polygons == Remapped(before.polygons, expected.remap));
        EXPECT_TRUE(after.lines == Remapped(before.lines, expected.remap));
        EXPECT_TRUE(after.dots == Remapped(before.dots, expected.remap));
    }
};

TEST_F(Weld, RepeatsMapToTheirFirstOccurrence) {
    const Key p = KeyOf(1, 2, 3), q = KeyOf(4, 5, 6), r = KeyOf(7, 8, 9);
    AddPoints({p, q, p, r, q});
    const uint32_t face[4] = {1, 2, 3, 4};
    ASSERT_NE(SceneAddElement(4, 7, face, nullptr), 0);
    ASSERT_NE(SceneAddElement(2, 8, face + 1, nullptr), 0);
    ASSERT_NE(SceneAddElement(1, 9, face + 3, nullptr), 0);
    ASSERT_EQ(WeldPoints(), 1);
    EXPECT_EQ(g_Scene.PointCount, 3);
    EXPECT_TRUE(ScenePoints() == (std::vector<Key>{p, q, r}));
    const Elements e = ReadElements();
    EXPECT_TRUE(e.polygons == (std::vector<Element>{{4, {1, 0, 2, 1}, 7}}));
    EXPECT_TRUE(e.lines == (std::vector<Element>{{2, {0, 2}, 8}}));
    EXPECT_TRUE(e.dots == (std::vector<Element>{{1, {1}, 9}}));
}

TEST_F(Weld, SignedZerosAndSinglePointsStaySeparate) {
    const std::vector<Key> keys = {KeyOf(0, 0, 0), KeyOf(-0.0f, 0, 0), KeyOf(0, -0.0f, 0), KeyOf(0, 0, -0.0f),
                                   KeyOf(0, 0, 0), KeyOf(-0.0f, 0, 0)};
    AddPoints(keys);
    ASSERT_EQ(WeldPoints(), 1);
    EXPECT_EQ(g_Scene.PointCount, 4);
    EXPECT_TRUE(ScenePoints() == std::vector<Key>(keys.begin(), keys.begin() + 4));
}

TEST_F(Weld, OnePointIsUnchanged) {
    AddPoints({KeyOf(1, 2, 3)});
    const uint32_t zero = 0;
    ASSERT_NE(SceneAddElement(1, 1, &zero, nullptr), 0);
    ASSERT_EQ(WeldPoints(), 1);
    EXPECT_EQ(g_Scene.PointCount, 1);
    EXPECT_TRUE(ScenePoints() == std::vector<Key>{KeyOf(1, 2, 3)});
    EXPECT_TRUE(ReadElements().dots == (std::vector<Element>{{1, {0}, 1}}));
}

TEST_F(Weld, DistinctPointsAcrossChunksKeepOrderAndIndices) {
    std::vector<Key> keys;
    for (int32_t i = 0; i < 20000; ++i) keys.push_back(KeyOf(static_cast<float>(i % 97), static_cast<float>(i), 0.5f));
    AddPoints(keys);
    std::mt19937 random(7);
    AddRandomElements(random, 9000);  // lines and polygons run into their second chunks
    ASSERT_GT(g_Scene.LineStream.last, 0);
    ASSERT_GT(g_Scene.PolygonStream.last, 0);
    const Elements before = ReadElements();
    ASSERT_EQ(WeldPoints(), 1);
    EXPECT_EQ(g_Scene.PointCount, 20000);
    EXPECT_TRUE(ScenePoints() == keys);
    const Elements after = ReadElements();
    EXPECT_TRUE(after.polygons == before.polygons);
    EXPECT_TRUE(after.lines == before.lines);
    EXPECT_TRUE(after.dots == before.dots);
}

// A grid of points, each written twice in a row, in ascending byte order:
// the order CAD grids arrive in.
std::vector<Key> AscendingGridWithRepeats() {
    std::vector<Key> keys;
    for (int32_t i = 0; i < 150; ++i) {
        for (int32_t j = 0; j < 150; ++j) {
            const Key key = KeyOf(static_cast<float>(i), static_cast<float>(j), 1.0f);
            keys.push_back(key);
            keys.push_back(key);
        }
    }
    std::stable_sort(keys.begin(), keys.end(), ByteOrder());
    return keys;
}

TEST_F(Weld, AscendingByteOrder) {
    const std::vector<Key> keys = AscendingGridWithRepeats();
    AddPoints(keys);
    std::mt19937 random(1);
    AddRandomElements(random, 3000);
    ExpectWeldLikeReference(keys);
}

TEST_F(Weld, DescendingByteOrder) {
    std::vector<Key> keys = AscendingGridWithRepeats();
    std::reverse(keys.begin(), keys.end());
    AddPoints(keys);
    std::mt19937 random(2);
    AddRandomElements(random, 3000);
    ExpectWeldLikeReference(keys);
}

TEST_F(Weld, RandomBitsInRandomOrder) {
    std::mt19937 random(3);
    std::vector<Key> keys;
    for (int32_t i = 0; i < 30000; ++i) {
        // Few distinct values per coordinate, so that repeats happen; NaN and infinity bit patterns included.
        const uint32_t pool[] = {0u, 0x80000000u, 0x3F800000u, 0x7F800000u, 0x7FC00001u, static_cast<uint32_t>(random())};
        keys.push_back({pool[random() % 6], pool[random() % 6], pool[random() % 6]});
    }
    AddPoints(keys);
    AddRandomElements(random, 9000);
    ExpectWeldLikeReference(keys);
}

TEST_F(Weld, ManyCopiesOfFewPoints) {
    std::mt19937 random(4);
    const std::vector<Key> few = {KeyOf(1, 1, 1), KeyOf(-1, 2, 3), KeyOf(0, 0, 0), KeyOf(5, 5, 5), KeyOf(2, 1, 1)};
    std::vector<Key> keys;
    for (int32_t i = 0; i < 25000; ++i) keys.push_back(few[random() % few.size()]);
    AddPoints(keys);
    AddRandomElements(random, 2000);
    ExpectWeldLikeReference(keys);
    EXPECT_EQ(g_Scene.PointCount, 5);
}

TEST_F(Weld, NoWorkStorageLeavesTheSceneUnchanged) {
    const std::vector<Key> keys = {KeyOf(1, 2, 3), KeyOf(1, 2, 3), KeyOf(4, 5, 6)};
    AddPoints(keys);
    const uint32_t face[3] = {0, 1, 2};
    ASSERT_NE(SceneAddElement(3, 1, face, nullptr), 0);
    ASSERT_NE(SceneAddElement(2, 1, face + 1, nullptr), 0);
    ASSERT_NE(SceneAddElement(1, 1, face + 1, nullptr), 0);
    const Elements before = ReadElements();
    for (int64_t failing = 1; failing <= 2; ++failing) {
        const int64_t live = ModuleHeapLiveBlocks();
        ModuleHeapFailAt(failing);
        EXPECT_EQ(WeldPoints(), 0) << failing;
        EXPECT_EQ(ModuleHeapLiveBlocks(), live);
        EXPECT_EQ(g_Scene.PointCount, 3);
        EXPECT_TRUE(ScenePoints() == keys);
        const Elements after = ReadElements();
        EXPECT_TRUE(after.polygons == before.polygons && after.lines == before.lines && after.dots == before.dots);
    }
    ModuleHeapFailAt(0);
    ASSERT_EQ(WeldPoints(), 1);
    EXPECT_EQ(g_Scene.PointCount, 2);
}

}  // namespace
