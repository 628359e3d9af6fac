// Ear-clipping triangulation: exact triangles of small polygons, the keyhole
// by its properties, the point-in-triangle test, and the chunk handling of
// TriangulateScene (chunks freed as walked, failures without leaks).
#include "export/triangulate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "frame/module_heap.h"
#include "unit/unit_support.h"

namespace {

using unit::Point;
using unit::Refs;
using unit::AddPoints;
using Triangulate = unit::SceneTest;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The points' corners as one polygon of surface 7 (none without corners), triangulated as the export does.
std::vector<Refs> TrianglesOf(const std::vector<Point>& points, const Refs& corners) {
    AddPoints(points);
    const int32_t count = static_cast<int32_t>(corners.size());
    EXPECT_TRUE(count == 0 || SceneAddElement(count, 7, corners.data(), nullptr) == 1);
    EXPECT_EQ(TriangulateScene(), 1);
    for (const unit::Element& e : unit::ScenePolygons()) EXPECT_EQ(e.surface, 7u);
    return unit::RefsOf(unit::ScenePolygons());
}

const std::vector<Point> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<Point> kLShape = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};

TEST_F(Triangulate, SmallPolygonsGiveTheirExactTriangles) {
    const struct {
        const char* what;
        std::vector<Point> points;
        Refs corners;
        std::vector<Refs> triangles;
    } rows[] = {
        {"no polygon: one empty chunk", kSquare, {}, {}},
        {"a triangle", kSquare, {0, 1, 2}, {{0, 1, 2}}},
        {"a convex quadrilateral: the fan", kSquare, {0, 1, 2, 3}, {{0, 1, 2}, {0, 2, 3}}},
        {"clockwise: the winding is kept", kSquare, {3, 2, 1, 0}, {{3, 2, 1}, {3, 1, 0}}},
        {"L-shape from its reflex corner's neighbour", kLShape, {2, 3, 4, 5, 0, 1},
         {{3, 4, 5}, {3, 5, 0}, {3, 0, 1}, {3, 1, 2}}},
        {"L-shape from its corner", kLShape, {0, 1, 2, 3, 4, 5}, {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 5}}},
        {"in the yz plane, projected to (z, y)", {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}, {0, 1, 2, 3},
         {{0, 1, 2}, {0, 2, 3}}},
        {"in the xz plane, projected to (z, x)", {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}, {0, 1, 2, 3},
         {{0, 1, 2}, {0, 2, 3}}},
        {"in the yz plane, L-shape", {{0, 0, 0}, {0, 0, 2}, {0, 1, 2}, {0, 1, 1}, {0, 2, 1}, {0, 2, 0}},
         {2, 3, 4, 5, 0, 1}, {{3, 4, 5}, {3, 5, 0}, {3, 0, 1}, {3, 1, 2}}},
        {"four collinear corners", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {0, 1, 2, 3}, {}},
        {"three collinear first corners",
         {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {0, 1, 0}},
         {0, 1, 2, 3, 4, 5},
         {{1, 2, 3}, {1, 3, 4}, {1, 4, 5}, {1, 5, 0}}},
        {"ears that wrap past the end", {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {2, 1, 0}, {0, 4, 0}}, {4, 0, 1, 2, 3},
         {{1, 2, 3}, {3, 4, 0}, {3, 0, 1}}},
        {"three points, each twice", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2, 0, 1, 2}, {}},
        {"many corners on four points", {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {5, 5, 0}}, {0, 1, 2, 0, 3, 1, 2, 0, 1, 3, 2, 3},
         {{0, 1, 2}, {2, 0, 3}, {1, 2, 0}, {0, 1, 3}, {0, 3, 2}}},
        {"a NaN coordinate", {{0, 0, 0}, {1, 0, 0}, {kNaN, 1, 0}}, {0, 1, 2}, {}},
        {"an infinite coordinate", {{0, 0, 0}, {1, 0, 0}, {1, -kInf, 0}, {0, 1, 0}}, {0, 1, 2, 3}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(unit::FreshScene(), 1);
        EXPECT_EQ(TrianglesOf(row.points, row.corners), row.triangles);
        EXPECT_EQ(std::tuple(g_Scene.PolygonWordTotal, g_Scene.PolygonStream.last, g_Scene.PolygonStream.used[0]),
                  std::tuple(4 * g_Scene.PolygonCount, 0, 5 * 4 * g_Scene.PolygonCount));
    }
}

double SignedArea(const Point& a, const Point& b, const Point& c) {
    return ((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])) / 2;
}

// A square with a square hole, walked as one polygon: the outline, back to its
// first corner, then the hole the other way round, back to the hole's first
// corner. Corners 0 and 4 are repeated.
TEST_F(Triangulate, KeyholeIsCoveredByCounterClockwiseTrianglesOutsideTheHole) {
    const std::vector<Point> points = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0},
                                       {3, 3, 0}, {3, 7, 0},  {7, 7, 0},   {7, 3, 0}};
    const std::vector<Refs> triangles = TrianglesOf(points, {0, 1, 2, 3, 0, 4, 5, 6, 7, 4});
    double area = 0;
    for (const Refs& t : triangles) {
        const Point a = points[t[0]], b = points[t[1]], c = points[t[2]];
        const double part = SignedArea(a, b, c);
        EXPECT_GE(part, 0) << "against the polygon's winding";
        area += part;
        const double cx = (a[0] + b[0] + c[0]) / 3, cy = (a[1] + b[1] + c[1]) / 3;
        EXPECT_FALSE(cx > 3 && cx < 7 && cy > 3 && cy < 7) << "a triangle in the hole";
    }
    EXPECT_EQ(area, 100.0 - 16.0);
}

TEST(PointInTriangle, EdgesAndCornersCountDegenerateAndUndefinedDoNot) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double a[2], b[2], c[2], p[2];
        int32_t inside;
    } rows[] = {
        {{0, 0}, {4, 0}, {0, 4}, {1, 1}, 1},     // inside
        {{0, 0}, {4, 0}, {0, 4}, {2, 2}, 1},     // on the long edge
        {{0, 0}, {4, 0}, {0, 4}, {4, 0}, 1},     // at a corner
        {{0, 0}, {4, 0}, {0, 4}, {3, 3}, 0},     // outside
        {{0, 0}, {4, 0}, {0, 4}, {-1, 1}, 0},    // outside, beyond C's side
        {{0, 4}, {4, 0}, {0, 0}, {1, 1}, 1},     // A above C: the other formula
        {{0, 4}, {4, 0}, {0, 0}, {0, 5}, 0},
        {{0, 4}, {0, 2}, {0, 0}, {0, 1}, 0},     // zero area, A above C
        {{0, 0}, {1, 1}, {2, 2}, {1, 1}, 0},     // zero area
        {{0, 0}, {4, 0}, {0, 4}, {nan, 1}, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(PointInTriangle(rows[i].a, rows[i].b, rows[i].c, rows[i].p), rows[i].inside) << "row " << i;
    }
}

// 30000 quadrilaterals fill several polygon chunks and 60000 triangles several
// triangle chunks; lines stay as they are.
void AddQuads(int32_t count) {
    AddPoints(kSquare);
    const Refs quad = {0, 1, 2, 3};
    for (int32_t i = 0; i < count; ++i) ASSERT_EQ(SceneAddElement(4, 1 + i % 3, quad.data(), nullptr), 1);
    ASSERT_EQ(SceneAddElement(2, 2, quad.data(), nullptr), 1);
}

TEST_F(Triangulate, SceneAcrossChunksKeepsEveryTriangleAndFreesEachChunkOnce) {
    AddQuads(30000);
    ASSERT_GT(g_Scene.PolygonStream.last, 2);
    ASSERT_EQ(TriangulateScene(), 1);
    EXPECT_FALSE(g_Scene.TriangleStreamOwned);
    const std::vector<unit::Element> triangles = unit::ScenePolygons();
    ASSERT_EQ(triangles.size(), 60000u);
    for (size_t t = 0; t < triangles.size(); ++t) {
        const uint32_t surface = 1 + static_cast<uint32_t>(t / 2 % 3);
        const unit::Element want = {3, t % 2 ? Refs{0, 2, 3} : Refs{0, 1, 2}, surface};
        if (triangles[t] != want) FAIL() << "triangle " << t;
    }
    EXPECT_EQ(g_Scene.PolygonWordTotal, 4 * 60000);
    EXPECT_EQ(unit::SceneLines().size(), 1u);
}

// Whichever allocation fails, the result is 0 and SceneFree releases all that is left (the fixture checks).
TEST_F(Triangulate, EveryAllocationFailureAnswersZeroWithoutLeak) {
    int32_t result = 0;
    for (int64_t n = 1; result == 0; ++n) {
        SCOPED_TRACE(n);
        ASSERT_EQ(unit::FreshScene(), 1);
        AddQuads(12000);
        ModuleHeapFailAt(n);
        result = TriangulateScene();
        ModuleHeapFailAt(0);
        ASSERT_LT(n, 100);
    }
    EXPECT_EQ(g_Scene.PolygonCount, 24000);
}

}  // namespace
