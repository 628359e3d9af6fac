// Point welding against a straightforward reference (a std::map from the
// 12 key bytes to the first occurrence's new index), on inputs in ascending
// and descending byte order, in random order and with many duplicates, and
// with element references spread over several chunks; each by the hash table,
// by the sort it falls back on, and by a table that gives up part way.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "unit/unit_support.h"

namespace {

using unit::AddPoints;
using unit::Element;
using unit::Point;
using unit::Refs;
using unit::SceneElements;

// Points compare like their 12 bytes in memory order.
struct ByteOrder {
    bool operator()(const Point& a, const Point& b) const { return std::memcmp(a.data(), b.data(), 12) < 0; }
};

Point Bits(uint32_t x, uint32_t y, uint32_t z) {
    return {std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z)};
}

// Points are compared bit for bit: NaN equals NaN, -0 differs from 0.
bool SameBits(const std::vector<Point>& a, const std::vector<Point>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Point)) == 0;
}

// The new index of each input point and the welded points.
struct Reference {
    Refs remap;
    std::vector<Point> points;
};

Reference ReferenceWeld(const std::vector<Point>& input) {
    Reference r;
    std::map<Point, uint32_t, ByteOrder> firstIndex;
    for (const Point& key : input) {
        const auto [it, added] = firstIndex.emplace(key, static_cast<uint32_t>(r.points.size()));
        if (added) r.points.push_back(key);
        r.remap.push_back(it->second);
    }
    return r;
}

std::vector<Element> Remapped(std::vector<Element> elements, const Refs& remap) {
    for (Element& e : elements) {
        for (uint32_t& ref : e.refs) ref = remap[ref];
    }
    return elements;
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

// A grid of points, each written twice in a row, in ascending byte order: the order CAD grids arrive in.
std::vector<Point> AscendingGridWithRepeats() {
    std::vector<Point> points;
    for (int32_t i = 0; i < 150; ++i) {
        for (int32_t j = 0; j < 150; ++j) points.insert(points.end(), 2, Point{float(i), float(j), 1.0f});
    }
    std::stable_sort(points.begin(), points.end(), ByteOrder());
    return points;
}

std::vector<Point> Drawn(uint32_t seed, int32_t count, const std::function<Point(std::mt19937&)>& draw) {
    std::mt19937 random(seed);
    std::vector<Point> points;
    for (int32_t i = 0; i < count; ++i) points.push_back(draw(random));
    return points;
}

using Weld = unit::SceneTest;

TEST_F(Weld, PointsAndEveryElementWordMatchTheReference) {
    const Point p = {1, 2, 3}, q = {4, 5, 6}, r = {7, 8, 9};
    const std::vector<Point> few = {{1, 1, 1}, {-1, 2, 3}, {0, 0, 0}, {5, 5, 5}, {2, 1, 1}};
    std::vector<Point> distinct, descending = AscendingGridWithRepeats();
    for (int32_t i = 0; i < 20000; ++i) distinct.push_back({float(i % 97), float(i), 0.5f});
    std::reverse(descending.begin(), descending.end());
    // Few distinct values per coordinate, so that repeats happen; signed zeros, NaN and infinity bit patterns included.
    const auto randomBits = [](std::mt19937& random) {
        const uint32_t pool[] = {0u, 0x80000000u, 0x3F800000u, 0x7F800000u, 0x7FC00001u, uint32_t(random())};
        return Bits(pool[random() % 6], pool[random() % 6], pool[random() % 6]);
    };
    struct Case {
        const char* what;
        std::vector<Point> points;
        int32_t elements;  // of each kind; from 9000 on lines and polygons run into their second chunks
        int32_t welded;    // distinct points as made; -1 when drawn at random
    };
    const Case cases[] = {
        {"hand-worked repeats", {p, q, p, r, q}, 3, 3},
        {"one point", {p}, 1, 1},
        {"signed zeros stay apart", {{0, 0, 0}, {-0.0f, 0, 0}, {0, -0.0f, 0}, {0, 0, -0.0f}, {0, 0, 0}, {-0.0f, 0, 0}},
         4, 4},
        {"distinct points across chunks", distinct, 9000, 20000},
        {"ascending byte order", AscendingGridWithRepeats(), 3000, 150 * 150},
        {"descending byte order", descending, 3000, 150 * 150},
        {"random bits in random order", Drawn(3, 30000, randomBits), 9000, -1},
        {"many copies of few points", Drawn(4, 25000, [&](std::mt19937& g) { return few[g() % few.size()]; }), 2000,
         5},
    };
    EXPECT_EQ(ReferenceWeld({p, q, p, r, q}).remap, (Refs{0, 1, 0, 2, 1}));
    // Collisions allowed per point: the usual budget, none (the sort from the
    // first collision on), and one (the table gives up part way on most inputs).
    for (const uint64_t budget : {kWeldProbesPerPoint, uint64_t{0}, uint64_t{1}}) {
        uint32_t seed = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", budget " + std::to_string(budget));
            ASSERT_EQ(unit::FreshScene(), 1);
            std::mt19937 random(++seed);
            AddPoints(c.points);
            AddRandomElements(random, c.elements);
            if (c.elements >= 9000) {
                ASSERT_GT(g_Scene.LineStream.last, 0);
                ASSERT_GT(g_Scene.PolygonStream.last, 0);
            }
            const Reference expected = ReferenceWeld(c.points);
            const std::vector<Element> before = SceneElements();
            const int64_t live = ModuleHeapLiveBlocks();
            ASSERT_EQ(WeldPointsWithProbeBudget(budget), 1);
            EXPECT_EQ(ModuleHeapLiveBlocks(), live);
            if (c.welded >= 0) {
                EXPECT_EQ(expected.points.size(), size_t(c.welded));
            }
            EXPECT_EQ(g_Scene.PointCount, static_cast<int32_t>(expected.points.size()));
            EXPECT_TRUE(SameBits(unit::ScenePoints(), expected.points));
            EXPECT_TRUE(SceneElements() == Remapped(before, expected.remap));
        }
    }
}

// Every allocation of the weld failed in turn, by the table (which grows
// once on these points) and by the sort: no weld, the scene as it was, no block kept.
TEST_F(Weld, NoWorkStorageLeavesTheSceneUnchanged) {
    std::vector<Point> points;
    for (int32_t i = 0; i < 9000; ++i) points.push_back({float(i % 8500), 2, 3});
    for (const uint64_t budget : {kWeldProbesPerPoint, uint64_t{0}}) {
        SCOPED_TRACE(budget);
        ASSERT_EQ(unit::FreshScene(), 1);
        AddPoints(points);
        const uint32_t face[3] = {0, 8500, 8999};
        for (int32_t n : {3, 2, 1}) ASSERT_NE(SceneAddElement(n, 1, face + 3 - n, nullptr), 0);
        const std::vector<Element> before = SceneElements();
        int64_t failing = 1;
        for (;; ++failing) {
            const int64_t live = ModuleHeapLiveBlocks();
            ModuleHeapFailAt(failing);
            const int32_t welded = WeldPointsWithProbeBudget(budget);
            ModuleHeapFailAt(0);
            if (welded) break;
            EXPECT_EQ(ModuleHeapLiveBlocks(), live) << failing;
            EXPECT_TRUE(SameBits(unit::ScenePoints(), points)) << failing;
            EXPECT_TRUE(SceneElements() == before) << failing;
        }
        // Three allocations by the table (index map, table, its growth); by the sort, the
        // index map, the table that gives up at its first collision and the sort's three.
        EXPECT_EQ(failing, budget ? 4 : 6);
        EXPECT_EQ(g_Scene.PointCount, 8500);
    }
}

}  // namespace
