#include "export/triangulate.h"

#include <cmath>
#include <cstring>

#include "frame/module_heap.h"

float TriangulationCoords[kTriangulationCorners][3];

namespace {

// Windings in the projection plane: 1 = counter-clockwise (positive area), 2 = clockwise.
constexpr int32_t kNoWinding = 0;
constexpr int32_t kCounterClockwise = 1;
constexpr int32_t kClockwise = 2;
constexpr int32_t kAttemptsPerCorner = 3;

// Frees chunks `from` to `to` of `stream` and nulls them, so that nothing frees them again.
void FreeChunks(ChunkStream& stream, int32_t from, int32_t to) {
    for (int32_t k = from; k <= to; ++k) {
        ModuleFree(stream.chunks[k]);
        stream.chunks[k] = nullptr;
    }
}

// The positions i < n - 1 whose point index occurs again later in the polygon.
int32_t RepeatedCorners(int32_t n) {
    const uint32_t* index = g_Scene.FaceIndexScratch;
    int32_t repeated = 0;
    for (int32_t i = 0; i < n - 1; ++i) {
        for (int32_t j = i + 1; j < n; ++j) {
            if (index[j] == index[i]) {
                ++repeated;
                break;
            }
        }
    }
    return repeated;
}

// Loads the corners' coordinates: false when one is NaN or infinite, which
// makes the polygon degenerate (no triangles) rather than cut along undefined sides.
bool LoadCorners(int32_t n) {
    for (int32_t k = 0; k < n; ++k) {
        float* corner = TriangulationCoords[k];
        std::memcpy(corner, ScenePointAt(static_cast<int32_t>(g_Scene.FaceIndexScratch[k])), sizeof(float) * 3);
        if (!std::isfinite(corner[0]) || !std::isfinite(corner[1]) || !std::isfinite(corner[2])) return false;
    }
    return true;
}

// Projects the corners to the plane across the largest component of the
// polygon's normal (single precision) and answers the polygon's winding there;
// kNoWinding when that component is 0 (or undefined, after an overflow).
int32_t ProjectCorners(int32_t n) {
    float normal[3] = {0, 0, 0};
    const float* v0 = TriangulationCoords[0];
    for (int32_t m = 1; m <= n - 2; ++m) {
        const float* v1 = TriangulationCoords[m];
        const float* v2 = TriangulationCoords[m + 1];
        const float e1[3] = {v1[0] - v0[0], v1[1] - v0[1], v1[2] - v0[2]};
        const float e2[3] = {v2[0] - v0[0], v2[1] - v0[1], v2[2] - v0[2]};
        normal[0] += e1[1] * e2[2] - e1[2] * e2[1];
        normal[1] += e1[2] * e2[0] - e1[0] * e2[2];
        normal[2] += e1[0] * e2[1] - e1[1] * e2[0];
    }
    const float ax = std::fabs(normal[0]), ay = std::fabs(normal[1]), az = std::fabs(normal[2]);
    int32_t uAxis = 2, vAxis = 1;  // (z, y) across x
    float component = normal[0];
    bool positiveIsClockwise = true;
    if (az >= ax && az >= ay) {
        uAxis = 0, vAxis = 1, component = normal[2], positiveIsClockwise = false;  // (x, y) across z
    } else if (ay >= ax) {
        uAxis = 2, vAxis = 0, component = normal[1], positiveIsClockwise = false;  // (z, x) across y
    }
    if (component == 0 || std::isnan(component)) return kNoWinding;
    for (int32_t k = 0; k < n; ++k) {
        float* corner = TriangulationCoords[k];
        const float u = corner[uAxis], v = corner[vAxis];
        corner[0] = u;
        corner[1] = v;
    }
    return (component > 0) != positiveIsClockwise ? kCounterClockwise : kClockwise;
}

inline void Widen(const float* corner, double out[2]) {
    out[0] = corner[0];
    out[1] = corner[1];
}

// Whether a corner other than a, b and c lies in the triangle they form.
// Corners sharing a point with the triangle are stepped over; while the
// polygon has more distinct corners than three, reaching a, b or c again
// means no other corner was left to test.
//
// The tests go round the polygon from c, up to cornerCount - 3 of them. When
// some corner has a point of its own, one turn tests each such corner once
// (there are at most cornerCount - 3) and further turns would only repeat those
// tests, so one turn decides: a polygon of thousands of corners on a handful
// of points costs one scan per ear, not one per test. When none has, each test
// steps a whole turn and lands on the next corner, which is tested as it is.
bool EarBlocked(int32_t a, int32_t b, int32_t c, int32_t cornerCount, int32_t repeated) {
    if (cornerCount - 3 < 1) return false;
    const uint32_t* index = g_Scene.FaceIndexScratch;
    auto sharesPoint = [&](int32_t k) { return index[k] == index[a] || index[k] == index[b] || index[k] == index[c]; };
    double pa[2], pb[2], pc[2], pk[2];
    Widen(TriangulationCoords[a], pa);
    Widen(TriangulationCoords[b], pb);
    Widen(TriangulationCoords[c], pc);
    bool otherPoint = false;
    for (int32_t step = 1; step <= cornerCount; ++step) {
        const int32_t k = (c + step) % cornerCount;
        if (sharesPoint(k)) continue;
        Widen(TriangulationCoords[k], pk);
        if (PointInTriangle(pa, pb, pc, pk)) return true;
        otherPoint = true;
    }
    if (otherPoint) return false;
    for (int32_t step = 1; step <= cornerCount - 3; ++step) {
        const int32_t k = (c + step) % cornerCount;
        if ((k == a || k == b || k == c) && cornerCount - repeated > 3) return false;
        Widen(TriangulationCoords[k], pk);
        if (PointInTriangle(pa, pb, pc, pk)) return true;
    }
    return false;
}

// Removes position `b` from the scratch and the coordinates; `remaining` is the corner count after it.
void RemoveCorner(int32_t b, int32_t remaining) {
    const auto moved = static_cast<size_t>(remaining - b);
    std::memmove(&g_Scene.FaceIndexScratch[b], &g_Scene.FaceIndexScratch[b + 1], moved * sizeof(uint32_t));
    std::memmove(TriangulationCoords[b], TriangulationCoords[b + 1], moved * sizeof TriangulationCoords[0]);
}

// Cuts ears along the window (a, b, c) until three corners are left or the attempts run out.
int32_t CutEars(int32_t n, int32_t winding, int32_t repeated, uint16_t surface) {
    const uint32_t* index = g_Scene.FaceIndexScratch;
    int32_t cornerCount = n, a = 0, b = 1, c = 2;
    int32_t attemptLimit = kAttemptsPerCorner * n, attempts = 0;
    while (cornerCount >= 3) {
        const float* pa = TriangulationCoords[a];
        const float* pb = TriangulationCoords[b];
        const float* pc = TriangulationCoords[c];
        const float t = (pb[0] - pa[0]) * (pc[1] - pa[1]) - (pc[0] - pa[0]) * (pb[1] - pa[1]);
        const int32_t turn = t < 0 ? kClockwise : t > 0 ? kCounterClockwise : kNoWinding;
        const bool ear = turn == winding && !EarBlocked(a, b, c, cornerCount, repeated);
        if (ear) {
            attempts = 0;
            if (AddTriangle(index[a], index[b], index[c], surface) == kPolygonStoreFailed) return kPolygonStoreFailed;
            --cornerCount;
            attemptLimit -= kAttemptsPerCorner;
            RemoveCorner(b, cornerCount);
        }
        if (++attempts > attemptLimit) break;
        if (ear) {
            if (b < a) --a;  // a keeps its corner, which moved down when b before it went
            b %= cornerCount;
            c %= cornerCount;
        } else {
            a = b % cornerCount;
            b = c % cornerCount;
            c = (c + 1) % cornerCount;
        }
    }
    return kPolygonDone;
}

// Walks the m polygon records, cutting each into TriangleStream and freeing
// every chunk the walk has left; at the end the old polygon chunks are all
// gone. False when a triangle could not be stored.
bool CutAllPolygons(int32_t m) {
    ChunkStream& polygons = g_Scene.PolygonStream;
    StreamWalker w = WalkerBegin(polygons);
    int32_t firstHeld = 0;  // chunks below it are freed
    for (int32_t r = 0; r < m; ++r) {
        int32_t n = 0;
        const uint32_t surface = WalkerElement(w, [&n](uint32_t& index) { g_Scene.FaceIndexScratch[n++] = index; });
        FreeChunks(polygons, firstHeld, w.chunk - 1);
        firstHeld = w.chunk;
        const auto surface16 = static_cast<uint16_t>(surface & 0xFFFFu);
        if (n > 2 && TriangulatePolygon(n, surface16) == kPolygonStoreFailed) return false;
    }
    FreeChunks(polygons, firstHeld, polygons.last);
    polygons.last = -1;
    return true;
}

// Hands the triangle chunks over to PolygonStream, each copied into a new chunk.
int32_t MoveTrianglesToPolygons() {
    ChunkStream& triangles = g_Scene.TriangleStream;
    ChunkStream& polygons = g_Scene.PolygonStream;
    for (int32_t k = 0; k <= triangles.last; ++k) {
        auto* chunk = static_cast<uint8_t*>(ModuleAlloc(kChunkBytes));
        if (!chunk) {
            FreeChunks(triangles, k, triangles.last);
            g_Scene.TriangleStreamOwned = false;
            return 0;
        }
        const int32_t used = triangles.used[k];
        std::memcpy(chunk, triangles.chunks[k], static_cast<size_t>(used));
        polygons.chunks[k] = chunk;
        polygons.used[k] = used;
        polygons.last = k;
        polygons.cursor = chunk + used;
        FreeChunks(triangles, k, k);
    }
    polygons.full = false;
    g_Scene.TriangleStreamOwned = false;
    return 1;
}

}  // namespace

int32_t TriangulateScene() {
    const int32_t m = g_Scene.PolygonCount;
    g_Scene.PolygonCount = 0;
    g_Scene.PolygonWordTotal = 0;
    if (!StreamStart(g_Scene.TriangleStream)) return 0;
    g_Scene.TriangleStreamOwned = true;
    if (!CutAllPolygons(m)) return 0;
    return MoveTrianglesToPolygons();
}

int32_t TriangulatePolygon(int32_t n, uint16_t surface) {
    const int32_t repeated = RepeatedCorners(n);
    if (!LoadCorners(n)) return kPolygonDegenerate;
    const int32_t winding = ProjectCorners(n);
    if (winding == kNoWinding) return kPolygonDegenerate;
    if (n < 3) return kPolygonDone;
    return CutEars(n, winding, repeated, surface);
}

int32_t PointInTriangle(const double a[2], const double b[2], const double c[2], const double p[2]) {
    if (a[0] - c[0] == 0) {
        const double e = b[0] - c[0];
        if (e == 0) return 0;
        const double s = (p[0] - c[0]) / e;
        if (!(s >= 0 && s <= 1)) return 0;
        const double f = a[1] - c[1];
        if (f == 0) return 0;
        const double r = (p[1] - c[1] - (b[1] - c[1]) * s) / f;
        return r >= 0 && r + s <= 1;
    }
    const double d = a[0] - c[0];
    const double det = (b[1] - c[1]) * d - (a[1] - c[1]) * (b[0] - c[0]);
    if (det == 0) return 0;
    const double t = ((p[1] - c[1]) * d - (p[0] - c[0]) * (a[1] - c[1])) / det;
    if (!(t >= 0 && t <= 1)) return 0;
    const double s = ((p[0] - c[0]) - t * (b[0] - c[0])) / d;
    return s >= 0 && s + t <= 1;
}

int32_t AddTriangle(uint32_t i0, uint32_t i1, uint32_t i2, uint16_t surface) {
    ChunkStream& triangles = g_Scene.TriangleStream;
    const uint32_t corners[3] = {i0, i1, i2};
    if (!StreamPutIndexed(triangles, 3, corners)) return kPolygonStoreFailed;
    StreamPutWord(triangles, surface);
    ++g_Scene.PolygonCount;
    g_Scene.PolygonWordTotal += 4;
    return 1;
}
