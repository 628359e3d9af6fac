// POLYLINE entities with their VERTEX entities up to "SEQEND": paths (one
// element through all vertices), polyface meshes (points plus face records)
// and polygon meshes (an M x N grid of quadrilaterals, with triangles where a
// border column or row collapses to one point, as at the tip of a cone).
#include <cstring>

#include "formats/dxf/dxf_internal.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kFaceRecordIndices = 4;

// Vertex kinds; the kind carries over from vertex to vertex and polyline to polyline.
constexpr int32_t kPolyfacePoint = 1;
constexpr int32_t kFaceRecord = 2;
constexpr int32_t kMeshPoint = 3;
constexpr int32_t kClosedMeshPoint = 4;
constexpr int32_t kPathPoint = 5;

// Polyline flags (group 70).
constexpr int32_t kFlagClosed = 1;
constexpr int32_t kFlagPolyline3D = 8;
constexpr int32_t kFlagClosedN = 32;
constexpr int32_t kFlagsCurveFitOnly = 4;  // a polyline flagged exactly so is passed over

// Vertex flags (group 70, low 8 bits).
constexpr int32_t kVertexKindBits = 192;
constexpr int32_t kVertexPolyfacePoint = 192;
constexpr int32_t kVertexFaceRecord = 128;
constexpr int32_t kVertexMeshPoint = 64;
constexpr int32_t kVertexSmoothBits = 8 | 16;

struct Polyline {
    int32_t flags;
    bool hasVertices;
    int32_t meshM;
    int32_t meshN;
    int32_t smoothM;
    int32_t smoothN;
    bool closed;
    bool closedN;
    bool path;
    uint32_t base;
    int32_t count;
    int64_t meshIndex;
    bool gridDone;
    float firstVertex[3];
    bool firstVertexSet;
    uint16_t surface;
};

struct Vertex {
    float xyz[3];
    int32_t flags;
    int64_t indices[kFaceRecordIndices];
    int32_t indexCount;
};

void TakeHeaderGroup(DxfSection& section, Polyline& p, int32_t code, DxfValue value) {
    if (code == 8) {
        DxfTakeLayer(section, value);
        return;
    }
    const int32_t number = DxfValueInt(value.text);
    switch (code) {
        case 66: p.hasVertices = p.hasVertices || number == 1; break;
        case 70: p.flags = number; break;
        case 71: p.meshM = number; break;
        case 72: p.meshN = number; break;
        case 73: p.smoothM = number; break;
        case 74: p.smoothN = number; break;
        default: break;
    }
}

// Index groups after the fourth have no place in a face record and are ignored.
void TakeVertexGroup(Vertex& v, int32_t code, DxfValue value) {
    switch (code) {
        case 10: v.xyz[0] = DxfValueFloat(value); break;
        case 20: v.xyz[1] = DxfValueFloat(value); break;
        case 30: v.xyz[2] = DxfValueFloat(value); break;
        case 70: v.flags = DxfValueInt(value.text) & 0xFF; break;
        case 71:
        case 72:
        case 73:
        case 74:
            if (v.indexCount < kFaceRecordIndices) {
                const int64_t index = DxfValueInt(value.text);  // 64 bits: the magnitude of INT32_MIN fits
                v.indices[v.indexCount++] = index < 0 ? -index : index;
            }
            break;
        default: break;
    }
}

void Classify(DxfSection& section, Polyline& p, const Vertex& v) {
    switch (v.flags & kVertexKindBits) {
        case kVertexPolyfacePoint: section.vertexKind = kPolyfacePoint; break;
        case kVertexFaceRecord: section.vertexKind = kFaceRecord; break;
        case kVertexMeshPoint: section.vertexKind = kMeshPoint; break;
        default: break;
    }
    if (v.flags & kVertexSmoothBits) {
        p.meshM = p.smoothM;
        p.meshN = p.smoothN;
    }
    if (v.flags == 0) {
        p.path = true;
        section.vertexKind = kPathPoint;
    }
    if (p.closed) section.vertexKind = kClosedMeshPoint;
}

bool Append(Polyline& p, const Vertex& v) {
    if (!DxfAddPoint(v.xyz)) return false;
    ++p.count;
    return true;
}

// ---- Polygon meshes ---------------------------------------------------------------

uint32_t GridIndex(const Polyline& p, int32_t row, int32_t column) {
    return static_cast<uint32_t>(int64_t{p.base} + int64_t{row} * p.meshN + column);
}

// Whether a pole list holds one point only, repeated `expected` more times.
// A list that filled up is not trusted.
bool IsPole(const DxfPoleList& list, int32_t expected) {
    if (list.count == 0 || list.count == kDxfPoleListPoints) return false;
    int32_t repeats = 0;
    for (int32_t k = 1; k < list.count; ++k) {
        const float* a = list.points[k];
        const float* b = list.points[0];
        if (a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) ++repeats;
    }
    return repeats == expected;
}

void CollectPole(DxfPoleList& list, const Vertex& v) {
    if (list.count == kDxfPoleListPoints) return;
    std::memcpy(list.points[list.count++], v.xyz, sizeof v.xyz);
}

// Column 0 and column N - 1 of each row, or in a mesh closed in N row 0 and row M - 1.
void CollectPoles(DxfSection& section, const Polyline& p, const Vertex& v) {
    const int64_t n = p.meshN;
    const int64_t i = p.meshIndex;
    const bool first = p.closedN ? i <= n : (i - 1) % n == 0;
    const bool last = p.closedN ? i > (int64_t{p.meshM} - 1) * n : i % n == 0;
    if (first) CollectPole(section.poles[0], v);
    if (last) CollectPole(section.poles[1], v);
}

// Open in N: column 0 (pole0) or column N - 1 (pole1) collapsed to one point
// gives triangles in that column. Row M - 1 wraps to row 0 in a mesh closed in M.
bool AddOpenCell(const Polyline& p, int32_t i, int32_t j, bool pole0, bool pole1) {
    const int32_t lastRow = p.meshM - 1;
    const int32_t below = i == lastRow ? 0 : i + 1;
    auto v = [&](int32_t row, int32_t column) { return GridIndex(p, row, column); };
    if (pole0 && j == 0) return DxfAddElement(p.surface, {v(0, 0), v(i, 1), v(below, 1)});
    if (pole1 && j == p.meshN - 2) {
        if (i == lastRow) return DxfAddElement(p.surface, {v(0, j), v(i, j), v(0, j + 1)});
        return DxfAddElement(p.surface, {v(i, j), v(0, j + 1), v(i + 1, j)});
    }
    return DxfAddElement(p.surface, {v(i, j), v(i, j + 1), v(below, j + 1), v(below, j)});
}

// Closed in N: column N - 1 wraps to column 0. A collapsed row 0 (pole0) or row
// M - 1 (pole1) gives triangles along that row: the quadrilateral less its
// corner on the collapsed row that repeats the other, the tip taken as the
// row's first point, so the triangles keep the quadrilaterals' orientation.
bool AddClosedNCell(const Polyline& p, int32_t i, int32_t j, bool pole0, bool pole1) {
    const int32_t lastColumn = p.meshN - 1;
    const int32_t right = j == lastColumn ? 0 : j + 1;
    auto v = [&](int32_t row, int32_t column) { return GridIndex(p, row, column); };
    if (pole0 && i == 0) return DxfAddElement(p.surface, {v(0, 0), v(1, right), v(1, j)});
    if (pole1 && i == p.meshM - 2) return DxfAddElement(p.surface, {v(i, j), v(i, right), v(i + 1, 0)});
    if (j < lastColumn) return DxfAddElement(p.surface, {v(i, j), v(i, j + 1), v(i + 1, j + 1), v(i + 1, j)});
    return DxfAddElement(p.surface, {v(i + 1, 0), v(i + 1, lastColumn), v(i, lastColumn), v(i, 0)});
}

bool GenerateMeshFaces(const DxfSection& section, const Polyline& p) {
    int32_t rows = p.meshM - 1;
    int32_t columns = p.meshN - 1;
    if (section.vertexKind == kClosedMeshPoint) {
        if (p.closedN) {
            columns = p.meshN;
        } else {
            rows = p.meshM;
        }
    }
    const int32_t repeats = p.closedN ? p.meshN - 1 : p.meshM - 1;
    const bool pole0 = IsPole(section.poles[0], repeats);
    const bool pole1 = IsPole(section.poles[1], repeats);
    for (int32_t i = 0; i < rows; ++i) {
        for (int32_t j = 0; j < columns; ++j) {
            const bool stored =
                p.closedN ? AddClosedNCell(p, i, j, pole0, pole1) : AddOpenCell(p, i, j, pole0, pole1);
            if (!stored) return false;
        }
    }
    return true;
}

// Vertices past the first complete M x N grid are kept as points and make no
// faces: a second grid would take the first grid's indices again.
bool StoreMeshPoint(DxfSection& section, Polyline& p, const Vertex& v) {
    if (!Append(p, v)) return false;
    if (p.gridDone) return true;
    ++p.meshIndex;
    const bool sized = p.meshM > 0 && p.meshN > 0;
    if (sized) CollectPoles(section, p, v);
    if (p.meshIndex < int64_t{p.meshM} * p.meshN) return true;
    p.meshIndex = 0;
    if (!sized) return true;  // no faces; the count starts again
    p.gridDone = true;
    return GenerateMeshFaces(section, p);
}

// ---- Paths and polyface meshes ------------------------------------------------------

// A path longer than an element may be keeps its points and stores no element.
bool StorePath(const Polyline& p) {
    if (p.count < 1 || p.count > kMaxCorners) return true;
    for (int32_t k = 0; k < p.count; ++k) g_Scene.FaceIndexScratch[k] = p.base + static_cast<uint32_t>(k);
    return DxfAddStagedElement(p.count, p.surface);
}

// An open path leaves out later vertices that repeat its first one.
bool AppendPathVertex(DxfSection& section, Polyline& p, const Vertex& v) {
    if (section.vertexKind != kPathPoint) {
        section.vertexKind = kPolyfacePoint;
        return Append(p, v);
    }
    if (!p.firstVertexSet) {
        std::memcpy(p.firstVertex, v.xyz, sizeof v.xyz);
        p.firstVertexSet = true;
        return Append(p, v);
    }
    const float* f = p.firstVertex;
    if (v.xyz[0] == f[0] && v.xyz[1] == f[1] && v.xyz[2] == f[2]) return true;
    return Append(p, v);
}

// Face record indices are 1-based within the polyline; a record without any is refused.
bool StoreFaceRecord(const Polyline& p, const Vertex& v) {
    for (int32_t k = 0; k < v.indexCount; ++k) {
        g_Scene.FaceIndexScratch[k] = static_cast<uint32_t>(int64_t{p.base} + v.indices[k] - 1);
    }
    return DxfAddStagedElement(v.indexCount, p.surface);
}

// A path is stored after its last vertex: the one that "SEQEND" follows, or
// the one that another entity or "ENDSEC" follows in a list that lacks "SEQEND".
bool StoreVertex(DxfSection& section, Polyline& p, const Vertex& v) {
    if (p.path) {
        if (!AppendPathVertex(section, p, v)) return false;
        return DxfIsGroup(*section.cursor, 0, "VERTEX") || StorePath(p);
    }
    switch (section.vertexKind) {
        case kPolyfacePoint: return Append(p, v);
        case kFaceRecord: return StoreFaceRecord(p, v);
        case kMeshPoint:
        case kClosedMeshPoint: return StoreMeshPoint(section, p, v);
        default: return true;
    }
}

DxfResult ReadVertices(DxfSection& section, Polyline& p) {
    DxfCursor& cursor = *section.cursor;
    while (DxfIsGroup(cursor, 0, "VERTEX")) {
        Vertex v{};
        const DxfResult read =
            DxfReadGroups(cursor, [&](int32_t code, DxfValue value) { TakeVertexGroup(v, code, value); });
        if (read != kDxfOk) return read;
        Classify(section, p, v);
        if (!StoreVertex(section, p, v)) return kDxfSceneFailure;
    }
    return kDxfOk;  // at "SEQEND", or at the group that ended a list without it
}

}  // namespace

DxfResult DxfReadPolyline(DxfSection& section) {
    Polyline p{};
    section.poles[0].count = 0;
    section.poles[1].count = 0;
    const DxfResult read = DxfReadGroups(*section.cursor,
                                       [&](int32_t code, DxfValue value) { TakeHeaderGroup(section, p, code, value); });
    if (read != kDxfOk) return read;
    p.closed = (p.flags & (kFlagClosed | kFlagClosedN)) != 0;
    p.closedN = (p.flags & kFlagClosedN) != 0;
    p.path = p.flags == kFlagClosed || (p.flags & kFlagPolyline3D) != 0;
    if (!p.hasVertices || p.flags == kFlagsCurveFitOnly) return kDxfOk;  // the entity loop passes over the vertices
    p.surface = DxfLayerSurface(section);
    p.base = static_cast<uint32_t>(g_Scene.PointCount);
    return ReadVertices(section, p);
}
