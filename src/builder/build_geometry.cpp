// Host points, polygons and surfaces made from the scene.
//
// Every record is a separate host block because the host frees them one by
// one. When host memory runs out, the step shows the out-of-memory message
// once and answers 0; everything made so far stays reachable from the
// geometry, and the counts say exactly how much was made.
#include <cassert>
#include <algorithm>
#include <cstring>

#include "builder/builder.h"
#include "builder/builder_internal.h"
#include "frame/host_api.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kPolygonGeometryType = 0;  // the host's type of a plain polygon
constexpr float kPointWeight = 1.0f;
constexpr float kColourScale = 255.0f;

// ---- Points ------------------------------------------------------------------------

// Fills a new host point with the scene point `xyz` and its index.
void FillPoint(HostPoint* point, const float* xyz, int32_t index) {
    for (int32_t axis = 0; axis < 3; ++axis) {
        const double value = xyz[axis];
        point->position0[axis] = value;
        point->position1[axis] = value;
        point->position2[axis] = value;
    }
    point->index = index;
    point->weight = kPointWeight;
}

// Makes points[i] for every scene point; answers the number stored, fewer
// than `count` when host memory ran out.
int32_t MakePoints(HostPoint** points, int32_t count, uint32_t pointDataSize) {
    StreamWalker walker = WalkerBegin(g_Scene.PointStream);
    for (int32_t i = 0; i < count; ++i) {
        float xyz[3];
        std::memcpy(xyz, WalkerRecord(walker, kPointRecordBytes), sizeof xyz);
        auto* point = static_cast<HostPoint*>(HostAlloc(1, sizeof(HostPoint)));
        if (!point) return i;
        points[i] = point;
        FillPoint(point, xyz, i);
        if (pointDataSize != 0 && !(point->extra = HostAlloc(1, pointDataSize))) return i + 1;
    }
    return count;
}

// ---- Polygons ----------------------------------------------------------------------

struct PolygonBuild {
    HostGeometry* geometry;
    HostPolygon*** field;  // where the polygons array is stored
    HostPolygon** array;
    int32_t made;          // polygons stored in the array
    int32_t polygonExtra;
    int32_t cornerExtra;
    bool reversed;
    uint32_t* refs;        // scratch: one element's point references
};

enum class Step { kDone, kStop, kOutOfMemory };

// Makes room for kPolygonArrayStep more polygons.
bool GrowPolygonArray(PolygonBuild& build) {
    const uint64_t entries = static_cast<uint64_t>(build.made) + kPolygonArrayStep;
    void* grown = build.array ? HostRealloc(build.array, entries * sizeof(HostPolygon*))
                              : HostAlloc(kPolygonArrayStep, sizeof(HostPolygon*));
    if (!grown) return false;
    build.array = static_cast<HostPolygon**>(grown);
    *build.field = build.array;
    return true;
}

// An optional zeroed extra block of `bytes` into `field`; false when it could not be had.
bool AllocExtra(void** field, int32_t bytes) {
    if (bytes <= 0) return true;
    *field = HostAlloc(1, static_cast<uint64_t>(bytes));
    return *field != nullptr;
}

// The polygon's corners, in host order; cornerCount follows the corners stored.
bool MakeCorners(const PolygonBuild& build, HostPolygon* polygon, int32_t n) {
    polygon->corners = static_cast<HostPolygonVertex**>(HostAlloc(static_cast<uint64_t>(n), sizeof(void*)));
    if (!polygon->corners) return false;
    for (int32_t k = 0; k < n; ++k) {
        auto* corner = static_cast<HostPolygonVertex*>(HostAlloc(1, sizeof(HostPolygonVertex)));
        if (!corner) return false;
        polygon->corners[k] = corner;
        polygon->cornerCount = k + 1;
        corner->point = build.geometry->points[build.refs[k]];
        corner->position = static_cast<uint16_t>(k);
        if (!AllocExtra(&corner->extra, build.cornerExtra)) return false;
    }
    return true;
}

// A record fits when the scratch held all its references and each names a made point.
bool RecordFits(const PolygonBuild& build, int32_t n) {
    if (n > kBuildScratchEntries) return false;
    return std::all_of(build.refs, build.refs + n,
                       [&](uint32_t ref) { return BuildPointMade(build.geometry, ref); });
}

// One host polygon from the element at the walker.
Step MakePolygon(PolygonBuild& build, StreamWalker& walker) {
    uint32_t surface = 0;
    const int32_t n = BuildReadElement(walker, build.refs, &surface, build.reversed);
    // An element that overflows the scratch or names a point that was never made ends the build.
    if (!RecordFits(build, n)) return Step::kStop;
    if (build.made % kPolygonArrayStep == 0 && !GrowPolygonArray(build)) return Step::kOutOfMemory;
    auto* polygon = static_cast<HostPolygon*>(HostAlloc(1, sizeof(HostPolygon)));
    if (!polygon) return Step::kOutOfMemory;
    build.array[build.made] = polygon;
    polygon->index = build.made++;
    polygon->type = 0;
    g_HostApi.FX_GeometrySetType(&polygon->type, kPolygonGeometryType);
    polygon->surface = static_cast<uint16_t>(surface);
    if (!AllocExtra(&polygon->extra, build.polygonExtra)) return Step::kOutOfMemory;
    if (n == 0) return Step::kStop;
    return MakeCorners(build, polygon, n) ? Step::kDone : Step::kOutOfMemory;
}

Step MakePolygons(PolygonBuild& build, ChunkStream& stream, int32_t count) {
    StreamWalker walker = WalkerBegin(stream);
    for (int32_t r = 0; r < count; ++r) {
        const Step step = MakePolygon(build, walker);
        if (step != Step::kDone) return step;
    }
    return Step::kDone;
}

// Faces, then lines, then dots, with one running index.
Step MakeAllPolygons(PolygonBuild& build, int32_t polygons, int32_t lines, int32_t dots) {
    Step step = MakePolygons(build, g_Scene.PolygonStream, polygons);
    if (step == Step::kDone) step = MakePolygons(build, g_Scene.LineStream, lines);
    if (step == Step::kDone) step = MakePolygons(build, g_Scene.DotStream, dots);
    return step;
}

void SetPolygonCount(HostGeometry* geometry, int32_t count) {
    geometry->polygonCount = count;
    geometry->polygonCount2 = count;
}

// Cuts the polygons array down to the polygons made.
bool TrimPolygonArray(PolygonBuild& build) {
    void* trimmed = HostRealloc(build.array, static_cast<uint64_t>(build.made) * sizeof(HostPolygon*));
    if (!trimmed) return false;
    build.array = static_cast<HostPolygon**>(trimmed);
    *build.field = build.array;
    return true;
}

// ---- Surfaces ----------------------------------------------------------------------

void SetSurfaceColour(HostSurface* surface, int32_t slot) {
    for (int32_t c = 0; c < 3; ++c) {
        surface->colour[c] = g_Scene.SurfaceColours[slot][c];
        surface->colourF[c] = g_Scene.SurfaceColours[slot][c] / kColourScale;
    }
    surface->level = g_Scene.SurfaceColourLevel[slot] / kColourScale;
}

// Names and colours a new host surface from scene slot `slot`; false when the
// name could not be copied (the message is shown).
bool FillSurface(HostSurface* surface, int32_t slot) {
    surface->name = HostCopyText(g_Scene.SurfaceNames[slot]);
    if (!surface->name) return false;
    g_HostApi.FX_StringMakeLegalName(surface->name);
    g_HostApi.FX_SurfaceSetDefault(surface);
    SetSurfaceColour(surface, slot);
    return true;
}

bool HasSurfaceNamed(const HostSurface* surface, const char* name) {
    for (; surface; surface = surface->next) {
        if (surface->name && std::strcmp(surface->name, name) == 0) return true;
    }
    return false;
}

// Makes the host surfaces of the scene's slots. With `keep` the object kept its
// surfaces: names already present are skipped and new ones are appended;
// otherwise the new list replaces the head. The surface count follows the
// surfaces linked, also when memory runs out.
bool BuildSurfaces(HostGeometry* geometry, bool keep) {
    HostSurface** link = &geometry->surfaceList;
    if (keep) {
        while (*link) link = &(*link)->next;
    }
    const int32_t slots = std::clamp(g_Scene.SurfaceCount, 0, kSurfaceSlots);
    int32_t made = 0;
    bool ok = true;
    for (int32_t s = 0; s < slots && ok; ++s) {
        if (keep) {
            g_HostApi.FX_StringMakeLegalName(g_Scene.SurfaceNames[s]);
            if (HasSurfaceNamed(geometry->surfaceList, g_Scene.SurfaceNames[s])) continue;
        }
        auto* surface = static_cast<HostSurface*>(HostAlloc(1, sizeof(HostSurface)));
        if (!surface) {
            HostShowOutOfMemory();
            ok = false;
            break;
        }
        *link = surface;
        link = &surface->next;
        ++made;
        ok = FillSurface(surface, s);
    }
    geometry->surfaceCount = keep ? geometry->surfaceCount + made : made;
    return ok;
}

}  // namespace

BuildResult BuildPoints(int32_t count, HostGeometry* geometry, uint32_t pointDataSize) {
    assert(geometry->pointCount == count && !geometry->points);
    if (count <= 0) return {0, false};
    auto** points = static_cast<HostPoint**>(HostAlloc(static_cast<uint64_t>(count), sizeof(HostPoint*)));
    geometry->points = points;
    const int32_t made = points ? MakePoints(points, count, pointDataSize) : 0;
    if (made == count) return {count, false};
    // The count says how many points exist, so later steps and the host see only those.
    geometry->pointCount = made;
    HostShowOutOfMemory();
    return {0, true};
}

BuildResult BuildPolygons(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                      HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra, uint8_t format,
                      uint32_t loadFlags) {
    auto* refs = static_cast<uint32_t*>(ModuleAlloc(kBuildScratchEntries * sizeof(uint32_t)));
    // No scratch is out of memory too: the user learns why nothing was built.
    if (!refs) {
        HostShowOutOfMemory();
        return {0, true};
    }
    HostGeometry* geometry = object->geometry;
    PolygonBuild build = {geometry, polygonsField, nullptr, 0, polygonExtra, cornerExtra,
                          BuildCornersReversed(format), refs};
    Step step = MakeAllPolygons(build, polygons, lines, dots);
    ModuleFree(refs);
    if (build.array && step == Step::kDone && !TrimPolygonArray(build)) step = Step::kOutOfMemory;
    if (build.array) SetPolygonCount(geometry, build.made);
    if (step == Step::kOutOfMemory) HostShowOutOfMemory();
    if (!build.array || step != Step::kDone) return {0, step == Step::kOutOfMemory};
    if (!BuildSurfaces(geometry, (loadFlags & kLoadKeepSurfaces) != 0)) return {0, true};
    return {build.made, false};
}
