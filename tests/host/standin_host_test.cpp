// The stand-in host's own side: its core table, the host functions as a module
// reaches them (by name through the lookup slot), and the objects it models.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "standin_check.h"
#include "standin_host.h"

namespace {

using standin::Core;
using standin::LiveBlocks;

template <typename Fn>
Fn HostFunction(const char* name) {
    return reinterpret_cast<Fn>(Core()->lookup(name));
}

std::string Edited(const char* function, const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    HostFunction<NameEditFn>(function)(buffer.data());
    return buffer.data();
}

standin::PointDesc Point(double x, double y, double z) { return {{x, y, z}, {}, false}; }

using Edges = std::vector<std::pair<int32_t, int32_t>>;
Edges EdgesOf(const HostGeometry& g) {
    Edges edges;
    for (int i = 0; i < g.edgeCount; ++i) edges.emplace_back(g.edges[i].a, g.edges[i].b);
    return edges;
}

// Five points, the second with a third position triple of its own; a quad, a
// triangle sharing the quad's edge 1-2, a line, a dot and the line again with
// its ends swapped.
standin::ObjectDesc MixedObject() {
    standin::ObjectDesc desc;
    desc.name = "mixed";
    desc.points = {Point(0, 0, 0), {{1, 0, 0}, {9, 0, 0}, true}, Point(1, 1, 0), Point(0, 1, 0), Point(2, 1, 3)};
    desc.surfaces = {{"wood", {10, 20, 30}, 0.5f, 64.0f, 12.0f, true}, {"stone"}};
    desc.polygons = {{{0, 1, 2, 3}, 1}, {{1, 4, 2}, 2}, {{3, 4}, 1}, {{0}, 1}, {{4, 3}, 2}};
    desc.uvMaps = {{"wood", {{{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}}}}};
    return desc;
}

TEST(HostCoreTest, LookupAnswersTheHostFunctionsAndTheMessageTableOnly) {
    const char* names[] = {"AddFileExtension", "RemoveFileExtensions", "fxDataInstanceFreeAll", "ClearList",
                           "FX_ObjectAdd", "NotifyModes", "NotifyObject", "FX_FreeObjectGeometryOnly",
                           "FX_FreeObjectGeometryOnlyKeepSurfaces", "FX_ObjectRenamePath", "StripExtension",
                           "FX_StringMakeLegalName", "SpacesToUnderScores", "FX_ObjectRename", "FX_ObjectRenameFile",
                           "FX_ExclusiveAllocate", "FX_BoundingBoxGet", "FX_SurfaceCreate", "FX_EdgeListCreate",
                           "FX_NormalInit", "FX_SurfaceSetDefault", "FX_GeometrySetType", "CreateDCUVPolys", "ms"};
    std::set<void*> addresses;
    for (const char* name : names) {
        void* address = Core()->lookup(name);
        EXPECT_NE(address, nullptr) << name;
        addresses.insert(address);
    }
    EXPECT_EQ(addresses.size(), std::size(names));
    for (const char* unknown : {"stripextension", "FX_ObjectAdd ", "iPlay_Mode", "df", "", "fxObjectAdd"})
        EXPECT_EQ(Core()->lookup(unknown), nullptr) << unknown;
}

// A size that overflows is refused (sizes, zero filling, reallocation and foreign blocks: host_memory_test).
TEST(HostCoreTest, OverflowingSizesAndTheScheduledAllocationFailAndARefusedReallocationKeepsTheBlock) {
    const int64_t before = LiveBlocks();
    const int64_t counted = standin::AllocationCount();
    standin::FailAllocationAt(2);
    void* const blocks[3] = {Core()->alloc(1, 8), Core()->alloc(1, 8), Core()->alloc(1, 8)};
    EXPECT_EQ((std::array{blocks[0] != nullptr, blocks[1] != nullptr, blocks[2] != nullptr}),
              (std::array{true, false, true}));
    EXPECT_EQ(standin::AllocationCount(), counted + 3);
    EXPECT_EQ(Core()->alloc(UINT64_MAX / 2 + 1, 2), nullptr);  // wraps to 0 without the check
    EXPECT_EQ(Core()->alloc(uint64_t{1} << 33, uint64_t{1} << 33), nullptr);
    static_cast<char*>(blocks[0])[0] = 'k';
    standin::FailAllocationAt(1);
    EXPECT_EQ(Core()->realloc(blocks[0], 64), nullptr);
    EXPECT_EQ(static_cast<char*>(blocks[0])[0], 'k');
    EXPECT_EQ(LiveBlocks(), before + 2);
    Core()->free(blocks[0]);
    Core()->free(blocks[2]);
    standin::FailAllocationAt(3);
    standin::FailAllocationAt(0);  // switched off again before it struck
    for (int i = 0; i < 4; ++i) {
        void* block = Core()->alloc(1, 1);
        EXPECT_NE(block, nullptr);
        Core()->free(block);
    }
    EXPECT_EQ(LiveBlocks(), before);
}

// StripExtension cuts at the last dot unless it leads the name; legal names
// replace every other byte one for one, so a multi-byte character becomes as
// many underscores and the length never changes.
TEST(NameFunctionsTest, EditNamesInPlace) {
    const char* const rows[][3] = {
        {"StripExtension", "chair.final.obj", "chair.final"},
        {"StripExtension", "a.b.c", "a.b"},
        {"StripExtension", ".hidden", ".hidden"},
        {"StripExtension", "plain", "plain"},
        {"StripExtension", "trailing.", "trailing"},
        {"StripExtension", "", ""},
        {"StripExtension", "..", "."},
        {"FX_StringMakeLegalName", "my chair#1.obj", "my_chair_1.obj"},
        {"FX_StringMakeLegalName", "Az09_-.", "Az09_-."},
        {"FX_StringMakeLegalName", "caf\xc3\xa9/x", "caf___x"},
        {"SpacesToUnderScores", "a b  c#d", "a_b__c#d"},
    };
    for (const auto& [function, input, expected] : rows)
        EXPECT_EQ(Edited(function, input), expected) << function << " " << input;
}

TEST(ObjectFunctionsTest, ObjectAddAndTheRenamesOwnTheirTextBlocks) {
    const int64_t before = LiveBlocks();
    HostObject* object = nullptr;
    ASSERT_EQ(HostFunction<FxObjectAddFn>("FX_ObjectAdd")(&object, 0), 1);
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->name, "Unnamed");
    EXPECT_EQ(object->geometry, nullptr);
    for (int round = 0; round < 2; ++round) {  // renaming again replaces its block: none is left at the end
        HostFunction<FxObjectTextFn>("FX_ObjectRenamePath")(object, "C:\\models\\chair.final.obj");
        HostFunction<FxObjectTextFn>("FX_ObjectRenameFile")(object, "chair.final.obj");
        HostFunction<FxObjectTextFn>("FX_ObjectRename")(object, "chair.final");
    }
    EXPECT_EQ((std::array<std::string, 3>{object->path, object->fileName, object->name}),
              (std::array<std::string, 3>{"C:\\models\\chair.final.obj", "chair.final.obj", "chair.final"}));
    standin::FailAllocationAt(1);
    EXPECT_EQ(HostFunction<FxObjectTextFn>("FX_ObjectRename")(object, "other"), 0);
    EXPECT_STREQ(object->name, "chair.final");
    standin::FailAllocationAt(1);
    HostObject* refused = nullptr;
    EXPECT_EQ(HostFunction<FxObjectAddFn>("FX_ObjectAdd")(&refused, 0), 0);
    EXPECT_EQ(refused, nullptr);
    standin::DestroyObject(object);
    EXPECT_EQ(LiveBlocks(), before);
}

// The mixed object, built for each test and destroyed after it with no host block left.
class MixedObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        object_ = standin::BuildObject(MixedObject());
        ASSERT_NE(object_, nullptr);
        g_ = object_->geometry;
    }
    void TearDown() override {
        standin::DestroyObject(object_);
        EXPECT_EQ(LiveBlocks(), before_);
    }
    const int64_t before_ = LiveBlocks();
    const int64_t bytesBefore_ = standin::LiveBytes();
    HostObject* object_ = nullptr;
    HostGeometry* g_ = nullptr;
};

// The object holds every block made for it: its bytes are all the live bytes it added.
TEST_F(MixedObjectTest, ObjectBytesCountEveryBlockTheObjectHolds) {
    EXPECT_EQ(standin::ObjectBytes(object_), standin::LiveBytes() - bytesBefore_);
    EXPECT_GT(standin::ObjectBytes(object_), int64_t{sizeof(HostObject) + kHostGeometrySize});
    EXPECT_EQ(standin::ObjectBytes(nullptr), 0);
}

// The object check passes the object as built and names the first rule that a changed field breaks.
TEST_F(MixedObjectTest, ObjectCheckNamesTheBrokenRule) {
    EXPECT_EQ(standin::ObjectProblem(*object_), "");
    const auto expectProblem = [&](auto& field, auto value, const std::string& problem) {
        const auto kept = field;
        field = value;
        EXPECT_EQ(standin::ObjectProblem(*object_), problem);
        field = kept;
    };
    HostPoint* const none = nullptr;
    expectProblem(g_->points[1]->index, 7, "point 1: index 7");
    expectProblem(g_->polygonCount2, 4, "polygon counts differ");
    expectProblem(g_->surfaceArray[1], g_->surfaceArray[0], "surface 1: not in the array's place");
    expectProblem(g_->polygons[1]->index, 0, "polygon 1: index 0");
    expectProblem(g_->polygons[0]->corners[2]->position, uint16_t{1}, "polygon 0: corner 2: missing or misplaced");
    expectProblem(g_->polygons[0]->corners[1]->point, none, "polygon 0: corner 1: not on a point of the object");
    expectProblem(g_->polygons[3]->surface, uint16_t{3}, "polygon 3: surface 3");
    expectProblem(g_->uvMaps[0]->pointEntries[2].point, none, "UV map 0: point entry 2: foreign point");
    EXPECT_EQ(standin::ObjectProblem(*object_), "");
}

TEST_F(MixedObjectTest, BoundingBoxSpansTheDefaultPositionsAndIsZeroForNoPoints) {
    g_->points[4]->position2[0] = 100.0;  // the third triple is not the box's
    HostBoundingBox box;
    const auto getBox = HostFunction<FxBoundingBoxGetFn>("FX_BoundingBoxGet");
    using Corners = std::array<std::array<double, 3>, 2>;
    getBox(reinterpret_cast<void* const*>(g_->points), g_->pointCount, &box);
    EXPECT_EQ((Corners{std::to_array(box.min), std::to_array(box.max)}), (Corners{{{0, 0, 0}, {2, 1, 3}}}));
    box.min[0] = box.max[2] = 7.0;
    getBox(reinterpret_cast<void* const*>(g_->points), 0, &box);
    EXPECT_EQ((Corners{std::to_array(box.min), std::to_array(box.max)}), Corners{});
}

TEST_F(MixedObjectTest, EdgeListHoldsEachUndirectedEdgeOnceInOrder) {
    const auto createEdges = HostFunction<FxObjectFn>("FX_EdgeListCreate");
    const int64_t built = LiveBlocks();
    ASSERT_EQ(createEdges(object_), 1);  // a second time: replaces the list
    EXPECT_EQ(LiveBlocks(), built);
    EXPECT_EQ(EdgesOf(*g_), (Edges{{0, 1}, {0, 3}, {1, 2}, {1, 4}, {2, 3}, {2, 4}, {3, 4}}));
    // The edges follow the points' own indices, also past the point count.
    g_->points[3]->index = 5000;
    g_->points[4]->index = 5001;
    ASSERT_EQ(createEdges(object_), 1);
    EXPECT_EQ(EdgesOf(*g_), (Edges{{0, 1}, {0, 5000}, {1, 2}, {1, 5001}, {2, 5000}, {2, 5001}, {5000, 5001}}));
}

// Random polygons, lines and dots over few points (each point starts many
// edges, in any order, most of them twice) against a set of the pairs.
TEST(GeometryFunctionsTest, EdgeListMatchesASetOfThePolygonsPairs) {
    const int64_t before = LiveBlocks();
    std::mt19937 random(7);
    for (const int points : {2, 6, 40, 3000}) {
        standin::ObjectDesc desc;
        for (int i = 0; i < points; ++i) desc.points.push_back(Point(i, 0, 0));
        desc.surfaces = {{"s"}};
        std::set<std::pair<int32_t, int32_t>> expected;
        for (int p = 0; p < 4 * points; ++p) {
            std::vector<int32_t> corners(1 + random() % 6);
            for (int32_t& corner : corners) corner = static_cast<int32_t>(random() % points);
            const size_t n = corners.size();
            for (size_t k = 0; k < (n >= 3 ? n : n - 1); ++k) {
                const auto [a, b] = std::minmax(corners[k], corners[(k + 1) % n]);
                if (a != b) expected.emplace(a, b);
            }
            desc.polygons.push_back({corners, 1});
        }
        HostObject* object = standin::BuildObject(desc);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(EdgesOf(*object->geometry), Edges(expected.begin(), expected.end())) << points;
        standin::DestroyObject(object);
    }
    EXPECT_EQ(LiveBlocks(), before);
}

TEST_F(MixedObjectTest, UVPolygonsFollowTheEntriesPointsAndCanBeRebuilt) {
    HostUVMap* map = g_->uvMaps[0];
    ASSERT_EQ(map->polygonEntryCount, 4);
    // Entries in reverse corner order still land on the corners of their points.
    std::swap(map->polygonEntries[0], map->polygonEntries[3]);
    std::swap(map->polygonEntries[1], map->polygonEntries[2]);
    const int64_t built = LiveBlocks();
    ASSERT_EQ(HostFunction<CreateDCUVPolysFn>("CreateDCUVPolys")(object_, 0), 1);
    EXPECT_EQ(LiveBlocks(), built);
    const HostUVCorner* quad = map->polygonUV[0];
    ASSERT_NE(quad, nullptr);
    const std::pair<float, float> expected[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(std::make_pair(quad[k].u, quad[k].v), expected[k]) << k;
    for (int p = 1; p < g_->polygonCount; ++p) EXPECT_EQ(map->polygonUV[p], nullptr) << p;
    EXPECT_EQ(HostFunction<CreateDCUVPolysFn>("CreateDCUVPolys")(object_, 1), 0);  // no such map
}

// Enough polygons for the UV data pass to look runs up ahead of its turn: each
// polygon gets its own entries' UVs, and one without entries gets none.
TEST(GeometryFunctionsTest, UVDataOfALongMapFollowEachPolygonsEntries) {
    using UVs = std::vector<std::pair<float, float>>;
    standin::ObjectDesc desc;
    for (int i = 0; i < 8; ++i) desc.points.push_back(Point(i, i % 2, 0));
    desc.surfaces = {{"s"}};
    desc.uvMaps = {{"s", {}}};
    for (int p = 0; p < 300; ++p) {
        const int n = 3 + p % 3;
        std::vector<int32_t> corners;
        UVs uvs;
        for (int k = 0; k < n; ++k) {
            corners.push_back((p + k) % 8);
            if (p % 7 != 3) uvs.emplace_back(static_cast<float>(p), static_cast<float>(k));
        }
        desc.polygons.push_back({corners, 1});
        desc.uvMaps[0].polygonUVs.push_back(uvs);
    }
    HostObject* object = standin::BuildObject(desc);
    ASSERT_NE(object, nullptr);
    const HostUVMap& map = *object->geometry->uvMaps[0];
    std::vector<UVs> built;
    for (int p = 0; p < 300; ++p) {
        UVs uvs;
        for (size_t k = 0; map.polygonUV[p] && k < desc.polygons[p].corners.size(); ++k)
            uvs.emplace_back(map.polygonUV[p][k].u, map.polygonUV[p][k].v);
        built.push_back(uvs);
    }
    EXPECT_EQ(built, desc.uvMaps[0].polygonUVs);
    standin::DestroyObject(object);
}

TEST(GeometryFunctionsTest, NewellNormalsAreUnitVectorsAndZeroForDegeneratePolygons) {
    standin::ObjectDesc desc;
    desc.points = {Point(0, 0, 0), Point(1, 0, 0), Point(1, 1, 1), Point(0, 1, 1), Point(2, 0, 0)};
    desc.surfaces = {{"s"}};
    desc.polygons = {{{0, 1, 2, 3}}, {{3, 2, 1, 0}}, {{0, 1, 4}}, {{0, 1}}, {{2}}};
    HostObject* object = standin::BuildObject(desc);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(HostFunction<FxNormalInitFn>("FX_NormalInit")(object, 0), 1);
    ASSERT_EQ(object->geometry->normalCount, 5);
    const double half = std::sqrt(0.5);
    // Reversed winding, reversed normal; the collinear triangle, the line and the dot have none.
    const double expected[5][3] = {{0, -half, half}, {0, half, -half}, {}, {}, {}};
    for (int i = 0; i < 5; ++i) {
        const HostNormal& n = object->geometry->normals[i];
        EXPECT_LE(std::hypot(n.x - expected[i][0], n.y - expected[i][1], n.z - expected[i][2]), 1e-12) << i;
    }
    standin::DestroyObject(object);
}

TEST(GeometryFunctionsTest, FreeingTheGeometryKeepsTheRecordAndOptionallyTheSurfaces) {
    const int64_t before = LiveBlocks();
    for (const bool keepSurfaces : {false, true}) {
        HostObject* object = standin::BuildObject(MixedObject());
        ASSERT_NE(object, nullptr);
        HostGeometry* geometry = object->geometry;
        HostSurface* surfaces = geometry->surfaceList;
        HostSurface** surfaceArray = geometry->surfaceArray;
        const char* function = keepSurfaces ? "FX_FreeObjectGeometryOnlyKeepSurfaces" : "FX_FreeObjectGeometryOnly";
        ASSERT_EQ(HostFunction<FxObjectSlotFn>(function)(&object), 1);
        const HostGeometry& g = *geometry;
        EXPECT_EQ(object->geometry, geometry);
        EXPECT_EQ((std::vector<const void*>{g.points, g.polygons, g.uvMaps, g.edges, g.normals}),
                  std::vector<const void*>(5, nullptr));
        EXPECT_EQ((std::vector<int32_t>{g.pointCount, g.polygonCount, g.polygonCount2, g.uvMapCount, g.edgeCount,
                                        g.normalCount}),
                  std::vector<int32_t>(6, 0));
        EXPECT_EQ(g.surfaceList, keepSurfaces ? surfaces : nullptr);
        EXPECT_EQ(g.surfaceArray, keepSurfaces ? surfaceArray : nullptr);
        EXPECT_EQ(g.surfaceCount, keepSurfaces ? 2 : 0);
        standin::DestroyObject(object);  // what the free missed is left over
        EXPECT_EQ(LiveBlocks(), before);
    }
}

// Destroying a built object releases every block; every failed allocation
// while building leaves nothing behind.
TEST(ObjectBuilderTest, EveryFailedAllocationLeavesNothingBehind) {
    const int64_t before = LiveBlocks();
    const int64_t counted = standin::AllocationCount();
    standin::DestroyObject(standin::BuildObject(MixedObject()));
    standin::DestroyObject(nullptr);
    EXPECT_EQ(LiveBlocks(), before);
    const int64_t allocations = standin::AllocationCount() - counted;
    ASSERT_GT(allocations, 20);
    for (int64_t n = 1; n <= allocations; ++n) {
        standin::FailAllocationAt(n);
        EXPECT_EQ(standin::BuildObject(MixedObject()), nullptr) << n;
        EXPECT_EQ(LiveBlocks(), before) << n;
    }
    standin::FailAllocationAt(0);
}

TEST(ObjectBuilderTest, RefusesCornersOrUVListsThatDoNotFit) {
    standin::ObjectDesc badCorner = MixedObject();
    badCorner.polygons[0].corners[2] = 5;
    EXPECT_EQ(standin::BuildObject(badCorner), nullptr);
    standin::ObjectDesc badUVs = MixedObject();
    badUVs.uvMaps[0].polygonUVs[0].pop_back();
    EXPECT_EQ(standin::BuildObject(badUVs), nullptr);
}

}  // namespace
