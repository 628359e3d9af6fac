// The entities of a "BLOCKS" or "ENTITIES" section: POINT, LINE, 3DFACE,
// CIRCLE and ARC here, POLYLINE in dxf_polylines.cpp; every other entity is
// passed over. DXF (x, y, z) becomes the scene point (x, z, y).
#include <cmath>
#include <cstring>

#include "formats/dxf/dxf_internal.h"
#include "frame/module_heap.h"
#include "frame/narrowing.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kFaceCorners = 4;
constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kFullTurn = 360.0f;
constexpr float kCircleStep = kFullTurn / kDxfCircleSegments;
constexpr int32_t kRingLast = kDxfCircleSegments - 1;

enum EntityKind : int32_t { kPoint, kLine, kFace, kCircle, kArc, kNotRead };

// The groups of one entity. All slots (first and second point, the face's
// current x and y and its corners, thickness, radius, both angles) start at 0
// for each entity: an absent group reads as 0, never as an earlier entity's value.
struct EntityGroups {
    float first[3];   // 10, 20, 30: the point, the start of a line, a centre
    float second[3];  // 11, 21, 31: the end of a line
    float currentX;   // 10-13 of a face
    float currentY;   // 20-23 of a face
    float corners[kFaceCorners][3];
    int32_t cornerCount;
    float thickness;
    float radius;
    float startAngle;
    float endAngle;
};

EntityKind KindOf(const char* name) {
    constexpr const char* kNames[] = {"POINT", "LINE", "3DFACE", "CIRCLE", "ARC"};
    for (int32_t k = 0; k < kNotRead; ++k) {
        if (std::strcmp(name, kNames[k]) == 0) return static_cast<EntityKind>(k);
    }
    return kNotRead;
}

// Corners after the fourth have no place in a face and are ignored.
void AddCorner(EntityGroups& g, float z) {
    if (g.cornerCount == kFaceCorners) return;
    float* corner = g.corners[g.cornerCount++];
    corner[0] = g.currentX;
    corner[1] = g.currentY;
    corner[2] = z;
}

void TakeGroup(DxfSection& section, EntityGroups& g, int32_t code, DxfValue value) {
    switch (code) {
        case 8: DxfTakeLayer(section, value); return;
        case 39: g.thickness = DxfValueFloat(value); return;
        case 40: g.radius = DxfValueFloat(value); return;
        case 50: g.startAngle = DxfValueFloat(value); return;
        case 51: g.endAngle = DxfValueFloat(value); return;
        default: break;
    }
    const int32_t axis = code / 10 - 1;  // 0 x, 1 y, 2 z for codes 10-33
    const int32_t point = code % 10;     // 0 first, 1 second, 2-3 further face corners
    if (code < 10 || axis > 2 || point > 3) return;
    const float v = DxfValueFloat(value);
    if (point == 0) g.first[axis] = v;
    if (point == 1) g.second[axis] = v;
    if (axis == 0) g.currentX = v;
    if (axis == 1) g.currentY = v;
    if (axis == 2) AddCorner(g, v);
}

bool SameCorner(const float* a, const float* b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

// The first corner that repeats an earlier one, or -1.
int32_t RepeatedCorner(const EntityGroups& g) {
    for (int32_t a = 0; a + 1 < g.cornerCount; ++a) {
        for (int32_t b = a + 1; b < g.cornerCount; ++b) {
            if (SameCorner(g.corners[a], g.corners[b])) return b;
        }
    }
    return -1;
}

// A face of 4 distinct corners is a quadrilateral; one repeated corner is left
// out, which turns the usual triangle (fourth corner = third) into a triangle.
bool StoreFace(DxfSection& section, const EntityGroups& g) {
    const uint32_t base = static_cast<uint32_t>(g_Scene.PointCount);
    const int32_t repeated = RepeatedCorner(g);
    int32_t kept = 0;
    for (int32_t k = 0; k < g.cornerCount; ++k) {
        if (k == repeated) continue;
        if (!DxfAddPoint(g.corners[k])) return false;
        g_Scene.FaceIndexScratch[kept] = base + static_cast<uint32_t>(kept);
        ++kept;
    }
    return DxfAddStagedElement(kept, DxfLayerSurface(section));  // no corner: refused
}

bool StorePoint(DxfSection& section, const EntityGroups& g) {
    const auto base = static_cast<uint32_t>(g_Scene.PointCount);
    return DxfAddPoint(g.first) && DxfAddElement(DxfLayerSurface(section), {base});
}

bool StoreLine(DxfSection& section, const EntityGroups& g) {
    const auto base = static_cast<uint32_t>(g_Scene.PointCount);
    return DxfAddPoint(g.first) && DxfAddPoint(g.second) && DxfAddElement(DxfLayerSurface(section), {base, base + 1});
}

// Ring point k at `height` lies at the angle start + k * step (degrees).
bool AddRing(const EntityGroups& g, float height, float start, float step) {
    for (int32_t k = 0; k < kDxfCircleSegments; ++k) {
        const float radians = (start + static_cast<float>(k) * step) * kDegreesToRadians;
        const double radius = g.radius;
        const float xyz[3] = {g.first[0] + NarrowToFloat(radius * std::cos(double{radians})),
                              g.first[1] + NarrowToFloat(radius * std::sin(double{radians})), height};
        if (!DxfAddPoint(xyz)) return false;
    }
    return true;
}

// A ring of edges, or with a thickness a band of quadrilaterals between the
// ring at the centre's height and the ring raised by the thickness. A closed
// ring also joins its last point to its first; there are no end caps.
bool StoreRings(DxfSection& section, const EntityGroups& g, float start, float step, bool closed) {
    const auto base = static_cast<uint32_t>(g_Scene.PointCount);
    const bool band = g.thickness != 0.0f;
    if (!AddRing(g, g.first[2], start, step)) return false;
    if (band && !AddRing(g, g.first[2] + g.thickness, start, step)) return false;
    const uint16_t surface = DxfLayerSurface(section);
    const uint32_t up = kDxfCircleSegments;  // index distance to the raised ring
    for (uint32_t k = 0; k < kRingLast; ++k) {
        const uint32_t p = base + k;
        const bool stored = band ? DxfAddElement(surface, {p + up, p + up + 1, p + 1, p}) : DxfAddElement(surface, {p, p + 1});
        if (!stored) return false;
    }
    if (!closed) return true;
    const uint32_t last = base + kRingLast;
    return band ? DxfAddElement(surface, {base, last, last + up, base + up}) : DxfAddElement(surface, {base, last});
}

bool StoreCircle(DxfSection& section, const EntityGroups& g) {
    if (!(g.radius > 0.0f)) return true;
    return StoreRings(section, g, 0.0f, kCircleStep, true);
}

// The start angle and the sweep of an arc, both in degrees. An arc whose
// angles or sweep are not finite is not stored: whole turns cannot be taken
// off an infinite or NaN angle. Whole turns are taken off with fmod, which is
// exact where an integer quotient of a huge angle would overflow.
bool ArcSweep(const EntityGroups& g, float* start, float* sweep) {
    float s = g.startAngle;
    const float e = g.endAngle;
    if (!std::isfinite(s) || !std::isfinite(e)) return false;
    float w = 0.0f;
    if (e < s) {
        if (s >= kFullTurn) s = std::fmod(s, kFullTurn);
        w = kFullTurn - s + e;
    } else {
        w = e - s;
        if (w >= kFullTurn) w = std::fmod(w, kFullTurn);
    }
    w = std::fabs(w);
    if (!std::isfinite(w) || !std::isfinite(s + w)) return false;
    *start = s;
    *sweep = w;
    return true;
}

bool StoreArc(DxfSection& section, const EntityGroups& g) {
    float start = 0.0f;
    float sweep = 0.0f;
    if (!(g.radius > 0.0f) || g.startAngle == g.endAngle || !ArcSweep(g, &start, &sweep)) return true;
    return StoreRings(section, g, start, sweep / kRingLast, false);
}

DxfResult ReadEntity(DxfSection& section, EntityKind kind) {
    EntityGroups g{};
    const DxfResult read =
        DxfReadGroups(*section.cursor, [&](int32_t code, DxfValue value) { TakeGroup(section, g, code, value); });
    if (read != kDxfOk) return read;
    bool stored = false;
    switch (kind) {
        case kPoint: stored = StorePoint(section, g); break;
        case kLine: stored = StoreLine(section, g); break;
        case kFace: stored = StoreFace(section, g); break;
        case kCircle: stored = StoreCircle(section, g); break;
        default: stored = StoreArc(section, g); break;
    }
    return stored ? kDxfOk : kDxfSceneFailure;
}

// Every branch reads at least one group, so the loop always moves on.
DxfResult ReadSectionEntities(DxfSection& section) {
    DxfCursor& cursor = *section.cursor;
    for (;;) {
        DxfResult result = kDxfOk;
        if (cursor.code != 0) {
            result = DxfSkipToNextEntity(cursor);
        } else if (std::strcmp(cursor.value, "ENDSEC") == 0) {
            return kDxfOk;
        } else if (std::strcmp(cursor.value, "POLYLINE") == 0) {
            result = DxfReadPolyline(section);
        } else if (const EntityKind kind = KindOf(cursor.value); kind != kNotRead) {
            result = ReadEntity(section, kind);
        } else {
            result = DxfSkipToNextEntity(cursor);
        }
        if (result != kDxfOk) return result;
    }
}

}  // namespace

void DxfTakeLayer(DxfSection& section, DxfValue value) {
    std::memcpy(section.layer, value.text, static_cast<size_t>(value.length) + 1);
}

// The lookup is remembered for the layer and the surface table it was made
// with: the same name in an unchanged table has the same surface.
uint16_t DxfLayerSurface(DxfSection& section) {
    if (section.surfaceKnown && section.surfaceSlotCount == g_Scene.SurfaceSlotCount &&
        std::strcmp(section.surfaceLayer, section.layer) == 0) {
        return section.surface;
    }
    std::strcpy(section.surfaceLayer, section.layer);
    std::strcpy(section.lookupName, section.layer);
    SceneFindOrAddSurface(section.lookupName, kDxfLineBytes, &section.surface);
    section.surfaceSlotCount = g_Scene.SurfaceSlotCount;
    section.surfaceKnown = true;
    return section.surface;
}

bool DxfAddPoint(const float xyz[3]) { return SceneAddPoint(xyz[0], xyz[2], xyz[1]) != 0; }

bool DxfAddStagedElement(int32_t n, uint16_t surface) {
    return SceneAddElement(n, surface, g_Scene.FaceIndexScratch, nullptr) != 0;
}

bool DxfAddElement(uint16_t surface, std::initializer_list<uint32_t> corners) {
    int32_t n = 0;
    for (const uint32_t corner : corners) g_Scene.FaceIndexScratch[n++] = corner;
    return DxfAddStagedElement(n, surface);
}

DxfResult DxfReadEntities(DxfCursor& cursor) {
    DxfSection section{};
    section.cursor = &cursor;
    for (DxfPoleList& list : section.poles) {
        list.points = static_cast<float(*)[3]>(ModuleAlloc(uint64_t{kDxfPoleListPoints} * sizeof(float[3])));
    }
    DxfResult result = kDxfSceneFailure;
    if (section.poles[0].points && section.poles[1].points) result = ReadSectionEntities(section);
    for (DxfPoleList& list : section.poles) ModuleFree(list.points);
    return result;
}
