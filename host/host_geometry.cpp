// The host's own geometry work: releasing what an object owns, and deriving the
// bounding box, edge list, normals and per-polygon UV data from its records.
//
// Arrays are walked up to what their blocks hold (the allocator knows every
// block's size) and null entries are skipped, so a geometry that an import left
// half built is released as completely as a finished one.
#include <algorithm>
#include <cmath>
#include <utility>

#include "host_internal.h"

namespace standin::detail {
namespace {

constexpr uint8_t kDefaultColour = 200;
constexpr float kDefaultLevel = 1.0f;
// A Newell vector shorter than this belongs to a degenerate polygon.
constexpr double kMinNormalLength = 1e-12;

// The number of entries an array block holds.
template <typename T>
int64_t Slots(T* const* array) {
    return static_cast<int64_t>(BlockSize(array) / sizeof(T*));
}

// The entries a record claims (a negative count claims none), capped by what
// its array block holds.
template <typename T>
int64_t Slots(T* const* array, int32_t claimed) {
    return std::clamp<int64_t>(claimed, 0, Slots(array));
}

// ---- Walking the blocks an object owns ---------------------------------------------
// Each walk hands every block to `visit` after the last read of it and after
// the blocks it holds, so `visit` may free it.

// Every record of a pointer array with its extra block, then the array.
template <typename T, typename Visit>
void VisitRecordsWithExtras(T* const* array, Visit& visit) {
    const int64_t count = Slots(array);
    for (int64_t i = 0; i < count; ++i) {
        if (!array[i]) continue;
        visit(array[i]->extra);
        visit(array[i]);
    }
    visit(array);
}

template <typename Visit>
void VisitPolygons(const HostGeometry* geometry, Visit& visit) {
    const int64_t count = Slots(geometry->polygons);
    for (int64_t i = 0; i < count; ++i) {
        HostPolygon* polygon = geometry->polygons[i];
        if (!polygon) continue;
        VisitRecordsWithExtras(polygon->corners, visit);
        visit(polygon->extra);
        visit(polygon);
    }
    visit(geometry->polygons);
}

template <typename Visit>
void VisitUVPolygons(const HostUVMap* map, Visit& visit) {
    const int64_t count = Slots(map->polygonUV);
    for (int64_t i = 0; i < count; ++i) visit(map->polygonUV[i]);
    visit(map->polygonUV);
}

template <typename Visit>
void VisitUVMaps(const HostGeometry* geometry, Visit& visit) {
    const int64_t count = Slots(geometry->uvMaps);
    for (int64_t i = 0; i < count; ++i) {
        HostUVMap* map = geometry->uvMaps[i];
        if (!map) continue;
        VisitUVPolygons(map, visit);
        visit(map->name);
        visit(map->pointEntries);
        visit(map->pointIndex);
        visit(map->polygonEntries);
        visit(map);
    }
    visit(geometry->uvMaps);
}

template <typename Visit>
void VisitHostList(const HostList& list, Visit& visit) {
    void* node = list.head;
    while (node) {
        void* next = *static_cast<void**>(node);
        visit(node);
        node = next;
    }
}

template <typename Visit>
void VisitSurface(HostSurface* surface, Visit& visit) {
    visit(surface->name);
    visit(surface->block1488);
    visit(surface->block1552);
    VisitHostList(surface->dataList, visit);
    visit(surface);
}

template <typename Visit>
void VisitSurfaces(const HostGeometry* geometry, Visit& visit) {
    HostSurface* surface = geometry->surfaceList;
    while (surface) {
        HostSurface* next = surface->next;
        VisitSurface(surface, visit);
        surface = next;
    }
    visit(geometry->surfaceArray);
}

// What a geometry holds: points, polygons, UV maps, edges and normals, and
// unless `keepSurfaces` its surfaces. Null blocks are visited too.
template <typename Visit>
void VisitGeometryContents(const HostGeometry* geometry, bool keepSurfaces, Visit& visit) {
    VisitUVMaps(geometry, visit);
    VisitPolygons(geometry, visit);
    VisitRecordsWithExtras(geometry->points, visit);
    visit(geometry->edges);
    visit(geometry->normals);
    if (!keepSurfaces) VisitSurfaces(geometry, visit);
}

// The object's blocks besides its geometry's contents.
template <typename Visit>
void VisitObjectShell(HostObject* object, Visit& visit) {
    visit(object->geometry);
    visit(object->path);
    visit(object->fileName);
    visit(object->name);
    visit(object->block120);
    visit(object);
}

template <typename Visit>
void VisitObject(HostObject* object, Visit& visit) {
    if (object->geometry) VisitGeometryContents(object->geometry, false, visit);
    VisitObjectShell(object, visit);
}

// Every field and count that referred to the contents a geometry released.
void ClearGeometryFields(HostGeometry* geometry, bool keepSurfaces) {
    geometry->points = nullptr;
    geometry->pointCount = 0;
    geometry->polygons = nullptr;
    geometry->polygonCount = 0;
    geometry->polygonCount2 = 0;
    geometry->uvMaps = nullptr;
    geometry->uvMapCount = 0;
    geometry->edges = nullptr;
    geometry->edgeCount = 0;
    geometry->normals = nullptr;
    geometry->normalCount = 0;
    geometry->box = HostBoundingBox{};
    if (keepSurfaces) return;
    geometry->surfaceList = nullptr;
    geometry->surfaceArray = nullptr;
    geometry->surfaceCount = 0;
}

// An object whose blocks all lie in one zone that holds nothing else goes at
// once: the walk counts its blocks against the zone's, so a block of the zone
// that nothing reaches keeps it from going (and stays counted as live).
bool ReleaseObjectInBulk(HostObject* object) {
    Zone* zone = nullptr;
    int64_t held = 0;
    bool oneZone = true;
    auto count = [&](const void* block) {
        if (!block || !oneZone) return;
        Zone* own = ZoneOf(block);
        if (zone && own != zone) oneZone = false;
        zone = own;
        ++held;
    };
    VisitObject(object, count);
    return oneZone && ReleaseZoneWhole(zone, held);
}

void FreeBlock(const void* block) { Free(const_cast<void*>(block)); }

void FreeUVPolygons(HostUVMap* map) {
    auto free = FreeBlock;
    VisitUVPolygons(map, free);
    map->polygonUV = nullptr;
}

// A polygon's corners, as many as its corners block holds of those it claims.
struct Corners {
    HostPolygonVertex* const* corners;
    int64_t count;

    // The corner's point, or null for a missing corner.
    const HostPoint* Point(int64_t k) const {
        const HostPolygonVertex* corner = corners[k];
        return corner ? corner->point : nullptr;
    }
};

Corners CornersOf(const HostPolygon* polygon) { return {polygon->corners, Slots(polygon->corners, polygon->cornerCount)}; }

// How many of the geometry's polygons its polygons array holds.
int64_t PolygonsHeld(const HostGeometry* geometry) {
    return Slots(geometry->polygons, geometry->polygonCount);
}

// A walk over all polygons waits on memory: a polygon's record, its corners
// array, its corner records and their points are four dependent loads. The
// walk starts the loads later steps need, one link of the chain per
// kPrefetchDistance polygons, so the waits of several polygons overlap; each
// polygon's corners are looked up once, when their records are loaded ahead.
constexpr int64_t kPrefetchDistance = 16;
constexpr int64_t kCornersAhead = 2 * kPrefetchDistance;  // polygons whose corners are known ahead
constexpr int64_t kPrefetchCorners = 8;                   // corners of a polygon loaded ahead at most
constexpr int32_t kPointsAhead = 16;                      // points loaded ahead of their turn

// Starts the loads of the field a walk reads from a point: its index, or its
// position, which may straddle two cache lines of the 176-byte record.
enum class PointField { kIndex, kPosition };

template <PointField field>
void PrefetchPoint(const HostPoint* point) {
    if (!point) return;
    if constexpr (field == PointField::kIndex) {
        __builtin_prefetch(&point->index);
    } else {
        __builtin_prefetch(&point->position1[0]);
        __builtin_prefetch(&point->position1[2]);
    }
}

// Starts the loads of a polygon's corner records (its first kPrefetchCorners).
void PrefetchCornerRecords(const Corners& corners) {
    for (int64_t k = 0; k < std::min(corners.count, kPrefetchCorners); ++k) __builtin_prefetch(corners.corners[k]);
}

// Calls visit(i, corners) for every polygon i the array holds (`held` of them);
// visit reads `field` of the corners' points.
template <PointField field, typename Visit>
void WalkPolygons(const HostGeometry* geometry, int64_t held, Visit visit) {
    HostPolygon* const* polygons = geometry->polygons;
    const int64_t d = kPrefetchDistance;
    auto cornersAt = [&](int64_t j) {
        const HostPolygon* polygon = j < held ? polygons[j] : nullptr;
        return polygon ? CornersOf(polygon) : Corners{nullptr, 0};
    };
    Corners ahead[kCornersAhead];  // the corners of polygon j at j % kCornersAhead
    for (int64_t j = 0; j < kCornersAhead; ++j) ahead[j] = cornersAt(j);
    for (int64_t i = 0; i < held; ++i) {
        if (i + 4 * d < held) __builtin_prefetch(polygons[i + 4 * d]);
        if (i + 3 * d < held && polygons[i + 3 * d]) __builtin_prefetch(polygons[i + 3 * d]->corners);
        const Corners near = ahead[(i + d) % kCornersAhead];
        for (int64_t k = 0; k < std::min(near.count, kPrefetchCorners); ++k) {
            if (const HostPolygonVertex* corner = near.corners[k]) PrefetchPoint<field>(corner->point);
        }
        const Corners corners = ahead[i % kCornersAhead];
        ahead[i % kCornersAhead] = cornersAt(i + kCornersAhead);
        PrefetchCornerRecords(ahead[i % kCornersAhead]);
        if (polygons[i]) visit(i, corners);
    }
}

HostNormal NewellNormal(const Corners& corners) {
    const int64_t n = corners.count;
    double x = 0, y = 0, z = 0;
    const HostPoint* current = n > 0 ? corners.Point(0) : nullptr;
    for (int64_t k = 0; k < n; ++k) {
        const HostPoint* next = corners.Point(k + 1 < n ? k + 1 : 0);
        if (!current || !next) return {};
        const double* a = current->position1;
        const double* b = next->position1;
        x += (a[1] - b[1]) * (a[2] + b[2]);
        y += (a[2] - b[2]) * (a[0] + b[0]);
        z += (a[0] - b[0]) * (a[1] + b[1]);
        current = next;
    }
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > kMinNormalLength) || !std::isfinite(length)) return {};
    return {x / length, y / length, z / length};
}

// A closed ring of edges for three or more corners, one edge for a line, none for a dot.
int64_t RingEdges(int64_t corners) { return corners >= 3 ? corners : (corners == 2 ? 1 : 0); }

// The edges a polygon walk gathers, distinct as they come: each point a keeps
// the first kSlotSeconds second points b of its edges (a < b) beside it, and
// the rarer further ones go to a list of packed pairs (distinct from those
// kept beside a, not yet from each other).
constexpr uint32_t kSlotSeconds = 3;  // a grid's or a triangle mesh's point starts about two or three edges

struct EdgeSlot {
    uint32_t count;
    uint32_t seconds[kSlotSeconds];
};

struct EdgeSets {
    ScratchArray<EdgeSlot> slots;
    ScratchArray<uint64_t> overflow;
    uint64_t overflowCount = 0;
    uint64_t kept = 0;  // second points kept in the slots
    uint32_t maxA = 0;
    bool room = true;

    explicit EdgeSets(uint64_t pointsGuess) : slots(pointsGuess + 1), overflow(1) {}
};

bool AddOverflow(EdgeSets& edges, uint32_t a, uint32_t b) {
    if (edges.overflowCount == edges.overflow.size() && !edges.overflow.Grow(2 * edges.overflowCount)) return false;
    edges.overflow.data()[edges.overflowCount++] = uint64_t{a} << 32 | b;
    return true;
}

void AddEdge(EdgeSets& edges, uint32_t a, uint32_t b) {
    if (a >= edges.slots.size() && !edges.slots.Grow(std::max(uint64_t{a} + 1, 2 * edges.slots.size()))) {
        edges.room = false;
        return;
    }
    EdgeSlot& slot = edges.slots.data()[a];
    for (uint32_t k = 0; k < slot.count; ++k)
        if (slot.seconds[k] == b) return;
    edges.maxA = std::max(edges.maxA, a);
    if (slot.count < kSlotSeconds) {
        slot.seconds[slot.count++] = b;
        ++edges.kept;
    } else if (!AddOverflow(edges, a, b)) {
        edges.room = false;
    }
}

// Adds the polygon's edges; repeated points add none.
void CollectEdges(const Corners& corners, EdgeSets& edges) {
    const int64_t n = corners.count;
    for (int64_t k = 0; k < RingEdges(n) && edges.room; ++k) {
        const HostPoint* from = corners.Point(k);
        const HostPoint* to = corners.Point(k + 1 < n ? k + 1 : 0);
        if (!from || !to || from->index == to->index) continue;
        const auto [a, b] = std::minmax(from->index, to->index);
        if (a < 0) continue;  // not an index of the points array
        AddEdge(edges, static_cast<uint32_t>(a), static_cast<uint32_t>(b));
    }
}

// Sorts the overflow pairs and keeps the distinct ones; answers how many.
uint64_t DistinctOverflow(EdgeSets& edges) {
    uint64_t* pairs = edges.overflow.data();
    std::sort(pairs, pairs + edges.overflowCount);
    return edges.overflowCount = static_cast<uint64_t>(std::unique(pairs, pairs + edges.overflowCount) - pairs);
}

uint32_t FirstOf(uint64_t pair) { return static_cast<uint32_t>(pair >> 32); }
int32_t SecondOf(uint64_t pair) { return static_cast<int32_t>(static_cast<uint32_t>(pair)); }

// Writes every distinct edge in ascending (a, b) order: per a, its sorted
// kept seconds merged with its overflow pairs.
void WriteEdges(EdgeSets& edges, HostEdge* edge) {
    const uint64_t* pair = edges.overflow.data();
    const uint64_t* pairsEnd = pair + edges.overflowCount;
    for (uint32_t a = 0; a <= edges.maxA; ++a) {
        EdgeSlot& slot = edges.slots.data()[a];
        std::sort(slot.seconds, slot.seconds + slot.count);
        const auto first = static_cast<int32_t>(a);
        for (uint32_t k = 0; k < slot.count; ++k) {
            const auto kept = static_cast<int32_t>(slot.seconds[k]);
            for (; pair < pairsEnd && FirstOf(*pair) == a && SecondOf(*pair) < kept; ++pair)
                *edge++ = {first, SecondOf(*pair)};
            *edge++ = {first, kept};
        }
        for (; pair < pairsEnd && FirstOf(*pair) == a; ++pair) *edge++ = {first, SecondOf(*pair)};
    }
}

// The entry's polygon when it is the one at its own index of the geometry's
// polygons; null for any other (such an entry is ignored).
const HostPolygon* HeldPolygon(const HostGeometry* geometry, int64_t held, const HostPolygon* polygon) {
    if (!polygon || polygon->index < 0 || polygon->index >= held) return nullptr;
    return geometry->polygons[polygon->index] == polygon ? polygon : nullptr;
}

// The UV data pass compares each entry's point with its polygon's corners.
// A polygon's entries come one after another, a run. Like the walks, the pass
// loads the chain of each run ahead, one link per kRunDistance runs: a scout
// finds the run starts and loads each run's polygon record, the polygon is
// checked and its corners array loaded, then its corners are looked up and
// their records loaded, and the run's entries are taken last. Each run is
// checked and looked up once, and each entry looked at twice (by the scout
// and at its turn).
constexpr int64_t kRunDistance = 4;               // runs between the links of the chain
constexpr int64_t kRunsAhead = 4 * kRunDistance;  // room for the runs in flight
static_assert(kRunsAhead > 3 * kRunDistance);

struct Run {
    int64_t first;               // its first entry
    const HostPolygon* polygon;  // null: not a polygon of the geometry (its entries are ignored)
    Corners corners;
};

struct UVPass {
    const HostGeometry* geometry;
    int64_t held;  // polygons the geometry's array holds
    const UVMapPolygonEntry* entries;
    int64_t count;
    int64_t scout;  // the first entry of the run after the last one found
    int64_t found;  // runs found so far
    Run runs[kRunsAhead];  // run r at r % kRunsAhead

    Run& At(int64_t r) { return runs[r % kRunsAhead]; }
};

// Finds the next run, if any, and starts the load of its polygon.
void FindRun(UVPass& pass) {
    if (pass.scout >= pass.count) return;
    const HostPolygon* polygon = pass.entries[pass.scout].polygon;
    __builtin_prefetch(polygon);
    pass.At(pass.found++) = {pass.scout, nullptr, {}};
    do ++pass.scout;
    while (pass.scout < pass.count && pass.entries[pass.scout].polygon == polygon);
}

// Checks run r's polygon and starts the load of its corners array.
void CheckRun(UVPass& pass, int64_t r) {
    if (r >= pass.found) return;
    Run& run = pass.At(r);
    run.polygon = HeldPolygon(pass.geometry, pass.held, pass.entries[run.first].polygon);
    if (run.polygon) __builtin_prefetch(run.polygon->corners);
}

// Looks run r's corners up and starts the loads of their records.
void LookUpRun(UVPass& pass, int64_t r) {
    if (r >= pass.found) return;
    Run& run = pass.At(r);
    if (!run.polygon) return;
    run.corners = CornersOf(run.polygon);
    PrefetchCornerRecords(run.corners);
}

// The entry after run r's last.
int64_t RunEnd(UVPass& pass, int64_t r) { return r + 1 < pass.found ? pass.At(r + 1).first : pass.scout; }

// Sets the UV of the first still unset corner that uses `point`.
void AssignCornerUV(const Corners& corners, const UVMapPolygonEntry& entry, HostUVCorner* uv) {
    for (int64_t k = 0; k < corners.count; ++k) {
        if (uv[k].assigned != 0.0f || corners.Point(k) != entry.point) continue;
        uv[k] = {entry.u, entry.v, 1.0f};
        return;
    }
}

}  // namespace

// A new surface is light grey (200, 200, 200) at full colour level, without
// shininess, opaque and flat shaded; its name, blocks and link are left alone.
void SetSurfaceDefaults(HostSurface* surface) {
    for (int c = 0; c < 3; ++c) {
        surface->colour[c] = kDefaultColour;
        surface->colourF[c] = kDefaultColour / 255.0f;
    }
    surface->level = kDefaultLevel;
    surface->shininess = 0.0f;
    surface->transparency = 0.0f;
    surface->flags = 0;  // flat shading
}

void ClearHostList(HostList* list) {
    auto free = FreeBlock;
    VisitHostList(*list, free);
    list->head = nullptr;
    list->count = 0;
}

void FreeGeometryContents(HostGeometry* geometry, bool keepSurfaces) {
    auto free = FreeBlock;
    VisitGeometryContents(geometry, keepSurfaces, free);
    ClearGeometryFields(geometry, keepSurfaces);
}

void FreeObjectShell(HostObject* object) {
    auto free = FreeBlock;
    VisitObjectShell(object, free);
}

void FreeObjectEverything(HostObject* object) {
    if (ReleaseObjectInBulk(object)) return;
    if (object->geometry) FreeGeometryContents(object->geometry, false);
    FreeObjectShell(object);
}

uint64_t ObjectBytes(HostObject* object) {
    uint64_t bytes = 0;
    auto sum = [&bytes](const void* block) { bytes += BlockSize(block); };
    VisitObject(object, sum);
    return bytes;
}

void ComputeBoundingBox(HostPoint* const* points, int32_t count, HostBoundingBox* box) {
    *box = HostBoundingBox{};
    bool first = true;
    for (int32_t i = 0; points && i < count; ++i) {
        if (i + kPointsAhead < count) PrefetchPoint<PointField::kPosition>(points[i + kPointsAhead]);  // from far away
        if (!points[i]) continue;
        for (int c = 0; c < 3; ++c) {
            const double value = points[i]->position1[c];
            box->min[c] = first ? value : std::min(box->min[c], value);
            box->max[c] = first ? value : std::max(box->max[c], value);
        }
        first = false;
    }
}

// The distinct edges in ascending (a, b) order: one pass over the polygons
// keeps each point's few edges beside it, and only what a point has beyond
// them is sorted: linear work on objects of millions of polygons.
bool CreateEdgeList(HostGeometry* geometry) {
    FreeField(geometry->edges);
    geometry->edgeCount = 0;
    const int64_t polygons = PolygonsHeld(geometry);
    EdgeSets edges(static_cast<uint64_t>(std::max(geometry->pointCount, 0)));  // grown for larger indices
    if (!edges.slots.data() || !edges.overflow.data()) return false;
    WalkPolygons<PointField::kIndex>(geometry, polygons,
                                     [&](int64_t, const Corners& corners) { CollectEdges(corners, edges); });
    if (!edges.room) return false;
    const uint64_t distinct = edges.kept + DistinctOverflow(edges);
    if (distinct == 0) return true;
    geometry->edges = static_cast<HostEdge*>(Alloc(distinct, sizeof(HostEdge)));
    if (!geometry->edges) return false;
    WriteEdges(edges, geometry->edges);
    geometry->edgeCount = static_cast<int32_t>(distinct);
    return true;
}

// One normal per polygon the geometry counts; a polygon its array does not
// hold gets none (zero).
bool CreateNormals(HostGeometry* geometry) {
    FreeField(geometry->normals);
    geometry->normalCount = 0;
    const int64_t count = std::max(0, geometry->polygonCount);
    if (count == 0) return true;
    geometry->normals = static_cast<HostNormal*>(Alloc(count, sizeof(HostNormal)));
    if (!geometry->normals) return false;
    const int64_t held = PolygonsHeld(geometry);
    WalkPolygons<PointField::kPosition>(geometry, held, [geometry](int64_t i, const Corners& corners) {
        geometry->normals[i] = NewellNormal(corners);
    });
    geometry->normalCount = static_cast<int32_t>(count);
    return true;
}

// The module only ever appends entries to a map, so a map finished again
// needs only its new entries turned into UV data; a map whose data no longer
// matches the geometry's polygons is rebuilt from its first entry.
bool CreateUVPolygons(HostGeometry* geometry, int32_t mapIndex) {
    if (mapIndex < 0 || mapIndex >= Slots(geometry->uvMaps, geometry->uvMapCount)) return false;
    HostUVMap* map = geometry->uvMaps[mapIndex];
    if (!map) return false;
    const int64_t polygons = std::max(0, geometry->polygonCount);
    const auto entriesHeld = static_cast<int64_t>(BlockSize(map->polygonEntries) / sizeof(UVMapPolygonEntry));
    const int64_t entries = std::clamp<int64_t>(map->polygonEntryCount, 0, entriesHeld);
    if (Slots(map->polygonUV) != polygons || map->uvEntriesDone > entries) {
        FreeUVPolygons(map);
        map->uvEntriesDone = 0;
    }
    if (polygons == 0) return true;
    if (!map->polygonUV) {
        map->polygonUV = static_cast<HostUVCorner**>(Alloc(polygons, sizeof(HostUVCorner*)));
        if (!map->polygonUV) return false;
    }
    const int64_t done = std::max(0, map->uvEntriesDone);
    UVPass pass = {geometry, PolygonsHeld(geometry), map->polygonEntries, entries, done, 0, {}};
    const int64_t d = kRunDistance;
    for (int64_t r = 0; r < 3 * d; ++r) FindRun(pass);
    for (int64_t r = 0; r < 2 * d; ++r) CheckRun(pass, r);
    for (int64_t r = 0; r < d; ++r) LookUpRun(pass, r);
    for (int64_t r = 0; r < pass.found; ++r) {
        FindRun(pass);
        CheckRun(pass, r + 2 * d);
        LookUpRun(pass, r + d);
        const Run& run = pass.At(r);
        if (!run.polygon || run.corners.count == 0) continue;
        HostUVCorner*& data = map->polygonUV[run.polygon->index];
        if (!data && !(data = static_cast<HostUVCorner*>(Alloc(run.corners.count, sizeof(HostUVCorner))))) {
            FreeUVPolygons(map);
            map->uvEntriesDone = 0;
            return false;
        }
        for (int64_t j = run.first, end = RunEnd(pass, r); j < end; ++j) {
            AssignCornerUV(run.corners, map->polygonEntries[j], data);
        }
    }
    map->uvEntriesDone = static_cast<int32_t>(entries);
    return true;
}

HostSurface* AppendSurface(HostGeometry* geometry, const char* name) {
    auto* surface = static_cast<HostSurface*>(Alloc(1, sizeof(HostSurface)));
    if (!surface) return nullptr;
    surface->name = CopyText(name);
    if (!surface->name) {
        Free(surface);
        return nullptr;
    }
    SetSurfaceDefaults(surface);
    HostSurface** link = &geometry->surfaceList;
    while (*link) link = &(*link)->next;
    *link = surface;
    ++geometry->surfaceCount;
    return surface;
}

}  // namespace standin::detail
