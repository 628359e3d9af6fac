// Ear-clipping triangulation of the scene's polygons for the formats that
// store triangles only (3D Studio, DXF). Triangles keep their polygon's
// surface and winding; lines and one-point elements are not touched.
#pragma once

#include <cstdint>

#include "scene/scene.h"

constexpr int32_t kTriangulationCorners = 4002;  // TriangulationCoords entries
static_assert(kMaxCorners <= kTriangulationCorners, "every stored polygon fits the working coordinates");

// Working coordinates of the polygon being cut: entry k belongs to position k
// of FaceIndexScratch; the projection overwrites the first two of each.
extern float TriangulationCoords[kTriangulationCorners][3];

// TriangulatePolygon's results.
constexpr int32_t kPolygonDegenerate = 0;
constexpr int32_t kPolygonDone = 1;
constexpr int32_t kPolygonStoreFailed = 2;

// Replaces every PolygonStream record by its triangles: 1, or 0 when out of
// memory or the triangle stream is full.
int32_t TriangulateScene();
// Cuts the polygon whose n point indices stand in FaceIndexScratch (they must
// name scene points): kPolygonDone (possibly with no triangles),
// kPolygonDegenerate, or kPolygonStoreFailed.
int32_t TriangulatePolygon(int32_t n, uint16_t surface);
// 1 when P lies inside or on the border of the non-degenerate triangle ABC
// (each point u, v), else 0.
int32_t PointInTriangle(const double a[2], const double b[2], const double c[2], const double p[2]);
// Appends the triangle to TriangleStream: 1, or kPolygonStoreFailed.
int32_t AddTriangle(uint32_t i0, uint32_t i1, uint32_t i2, uint16_t surface);
