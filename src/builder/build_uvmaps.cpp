// Host UV maps made from the scene's texture references: one map per surface,
// fed by the runs of faces of that surface that carry texture references.
//
// When host memory runs out the walk stops: the message is shown once, the
// maps made so far stay attached with counts that match their entries, and
// BuildUVMaps answers 0.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "builder/builder.h"
#include "builder/builder_internal.h"
#include "frame/host_api.h"
#include "frame/module_heap.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kUVMapArrayStep = 2;  // the maps array is reallocated to this many more entries
constexpr int32_t kPointLoadAhead = 128;  // point entries whose point is loaded ahead of its turn
constexpr int32_t kKeptRefsFirst = 65536;  // entries' point references kept before the first growth

// Working storage of one BuildUVMaps call.
struct UVScratch {
    uint32_t points[kBuildScratchEntries];  // one face's point references
    uint32_t uvs[kBuildScratchEntries];     // and its texture references
};

// Room for one more entry in a list grown in blocks of kUVEntryStep; false
// (message shown, list unchanged) when memory runs out.
template <typename Entry>
bool ReserveEntry(Entry** list, int32_t count) {
    if (count % kUVEntryStep != 0) return true;
    const uint64_t entries = static_cast<uint64_t>(count) + kUVEntryStep;
    void* grown = *list ? HostRealloc(*list, entries * sizeof(Entry)) : HostAlloc(kUVEntryStep, sizeof(Entry));
    if (!grown) {
        HostShowOutOfMemory();
        return false;
    }
    *list = static_cast<Entry*>(grown);
    return true;
}

// The point index of an earlier finish points into the point entries; when
// they are about to move it is released, and the next finish rebuilds it.
void DropPointIndexBeforeGrowth(HostUVMap* map) {
    if (map->pointEntryCount % kUVEntryStep != 0 || !map->pointIndex) return;
    HostFree(map->pointIndex);
    map->pointIndex = nullptr;
}

// The (u, v) of corner c: 0, 0 when the corner has no texture reference (fewer
// references than corners, or "none" at this corner).
void CornerUV(const uint32_t* uvs, int32_t uvCount, int32_t c, const float* uvPoints, float* u, float* v) {
    const uint32_t ref = c < uvCount ? uvs[c] : kNoTexture;
    const bool known = ref < static_cast<uint32_t>(std::max(g_Scene.UVPointCount, 0));
    *u = known ? uvPoints[ref * 3ull] : 0.0f;
    *v = known ? uvPoints[ref * 3ull + 1] : 0.0f;
}

// Whether `adding` entries fit a list of `count` entries without growing it:
// it grows before an entry is appended at a multiple of kUVEntryStep.
bool FitsWithoutGrowth(int32_t count, int32_t adding) {
    return count % kUVEntryStep != 0 && count % kUVEntryStep + adding <= kUVEntryStep;
}

// Appends a polygon's point and polygon entries to lists that have room for them.
void AppendEntries(HostUVMap* map, const uint32_t* points, int32_t pointCount, const uint32_t* uvs, int32_t uvCount,
                   const float* uvPoints, HostPoint* const* hostPoints, HostPolygon* polygon) {
    UVMapPointEntry* pointEntry = map->pointEntries + map->pointEntryCount;
    UVMapPolygonEntry* polygonEntry = map->polygonEntries + map->polygonEntryCount;
    for (int32_t c = 0; c < pointCount; ++c) {
        float u, v;
        CornerUV(uvs, uvCount, c, uvPoints, &u, &v);
        HostPoint* point = hostPoints[points[c]];
        pointEntry[c] = {u, v, point};
        polygonEntry[c] = {u, v, point, polygon};
    }
    map->pointEntryCount += pointCount;
    map->polygonEntryCount += pointCount;
}

bool AllPointsMade(const HostGeometry* geometry, const uint32_t* points, int32_t count) {
    return std::all_of(points, points + count, [&](uint32_t ref) { return BuildPointMade(geometry, ref); });
}

// The point references of a map's newest entries, kept by the walk as it
// appends them: the point index is then made without loading each entry's
// point. They are those of the open map's last `count` entries, every entry
// appended since the walk opened the map.
struct EntryRefs {
    uint32_t* refs;
    int32_t capacity;
    int32_t count;
};

// Sets the point index slot of entries [from, to) from each entry's point.
void IndexEntriesByPoint(HostUVMap* map, int32_t from, int32_t to, uint32_t pointCount) {
    for (int32_t j = from; j < to; ++j) {
        // Each entry's point is a load from far away: it is started some entries
        // ahead, at the field read (a 176-byte record's index may lie in its second line).
        if (j + kPointLoadAhead < to) __builtin_prefetch(&map->pointEntries[j + kPointLoadAhead].point->index);
        UVMapPointEntry& entry = map->pointEntries[j];
        const uint32_t i = static_cast<uint32_t>(entry.point->index);
        if (i < pointCount) map->pointIndex[i] = &entry;
    }
}

// The same for entries [first, first + kept.count) from their kept
// references: a host point's index is its reference.
void IndexEntriesByRef(HostUVMap* map, const EntryRefs& kept, int32_t first, uint32_t pointCount) {
    for (int32_t k = 0; k < kept.count; ++k) {
        const uint32_t i = kept.refs[k];
        if (i < pointCount) map->pointIndex[i] = &map->pointEntries[first + k];
    }
}

// The point index and the host's per-polygon UV data of `map`: false when
// memory runs out (message shown). A later entry of a point wins; entries
// without kept references (all, when `kept` is null) are indexed through their points.
bool FinishMap(HostObject* object, HostUVMap* map, const EntryRefs* kept) {
    if (map->pointEntryCount == 0) return true;
    HostGeometry* geometry = object->geometry;
    if (map->pointIndex) HostFree(map->pointIndex);
    const int32_t pointCount = std::max(geometry->pointCount, 0);
    map->pointIndex =
        static_cast<UVMapPointEntry**>(HostAlloc(static_cast<uint64_t>(pointCount), sizeof(UVMapPointEntry*)));
    if (!map->pointIndex) {
        HostShowOutOfMemory();
        return false;
    }
    const auto points = static_cast<uint32_t>(pointCount);
    assert(!kept || kept->count <= map->pointEntryCount);
    const int32_t firstKept = map->pointEntryCount - (kept ? kept->count : 0);
    IndexEntriesByPoint(map, 0, firstKept, points);
    if (kept) IndexEntriesByRef(map, *kept, firstKept, points);
    g_HostApi.CreateDCUVPolys(object, geometry->uvMapCount - 1);
    return true;
}

// Keeps the n references of the entries just appended: false (message shown)
// when memory runs out.
bool KeepRefs(EntryRefs& kept, const uint32_t* refs, int32_t n) {
    if (int64_t{kept.count} + n > kept.capacity) {
        const int64_t wanted = std::max<int64_t>(2 * int64_t{kept.capacity}, int64_t{kept.count} + n);
        void* grown = wanted <= INT32_MAX ? ModuleAlloc(static_cast<uint64_t>(wanted) * sizeof(uint32_t)) : nullptr;
        if (!grown) {
            HostShowOutOfMemory();
            return false;
        }
        std::memcpy(grown, kept.refs, static_cast<size_t>(kept.count) * sizeof(uint32_t));
        ModuleFree(kept.refs);
        kept.refs = static_cast<uint32_t*>(grown);
        kept.capacity = static_cast<int32_t>(wanted);
    }
    std::memcpy(kept.refs + kept.count, refs, static_cast<size_t>(n) * sizeof(uint32_t));
    kept.count += n;
    return true;
}

// ---- Walking the faces ------------------------------------------------------------

struct UVWalk {
    HostObject* object;
    const float* uvPoints;
    UVScratch* scratch;
    bool reversed;
    HostUVMap* map;    // the open map, null when none is open
    uint32_t surface;  // the open map's surface number
    EntryRefs kept;    // the open map's entries appended by this walk
};

bool CloseMap(UVWalk& walk) {
    HostUVMap* map = walk.map;
    walk.map = nullptr;
    walk.surface = 0;
    const bool finished = !map || FinishMap(walk.object, map, &walk.kept);
    walk.kept.count = 0;
    return finished;
}

// Surface 0 or a number beyond the table's slots names no map: such faces get
// no UVs. A slot past SurfaceCount is still read (an OBJ face before any
// surface name carries surface 1 and feeds the map named like empty slot 0).
bool SurfaceNamed(uint32_t surface) { return surface >= 1 && surface <= static_cast<uint32_t>(kSurfaceSlots); }

// Feeds face k, its references read in host corner order, to the map of its
// surface: false when memory runs out. A face has UVs when its first texture
// reference is set.
bool WalkFace(UVWalk& walk, int32_t k, int32_t n, uint32_t firstUV, uint32_t surface) {
    const bool hasUVs = firstUV != kNoTexture && SurfaceNamed(surface);
    if (walk.map && (!hasUVs || surface != walk.surface) && !CloseMap(walk)) return false;
    if (!hasUVs) return true;
    if (!walk.map) {
        walk.map = UVMapFindOrCreate(walk.object, g_Scene.SurfaceNames[surface - 1]);
        if (!walk.map) return false;
        walk.surface = surface;
    }
    const UVScratch& s = *walk.scratch;
    const int32_t before = walk.map->pointEntryCount;
    if (!UVMapAddPolygon(walk.object, walk.map, s.points, n, s.uvs, n, walk.uvPoints, k)) return false;
    // A polygon whose points were not all made adds no entries.
    return walk.map->pointEntryCount == before || KeepRefs(walk.kept, s.points, n);
}

// The faces that have host polygons; answers the number walked, or -1 when
// memory ran out.
int32_t WalkFaces(UVWalk& walk, int32_t polygons) {
    const HostGeometry* geometry = walk.object->geometry;
    // Only faces whose host polygons were made are walked.
    const int32_t faces = geometry->polygons ? std::max(std::min(polygons, geometry->polygonCount), 0) : 0;
    const int32_t withTextures = std::max(g_Scene.PolygonUVCount, 0);
    StreamWalker pointWalker = WalkerBegin(g_Scene.PolygonStream);
    StreamWalker uvWalker = WalkerBegin(g_Scene.PolygonUVStream);
    int32_t k = 0;
    for (; k < faces; ++k) {
        uint32_t surface = 0;
        uint32_t firstUV = kNoTexture;
        const int32_t n = BuildReadElement(pointWalker, walk.scratch->points, &surface, walk.reversed);
        if (k < withTextures) BuildReadTextureRefs(uvWalker, n, walk.reversed, walk.scratch->uvs, &firstUV);
        if (n > kBuildScratchEntries) break;
        if (!WalkFace(walk, k, n, firstUV, surface)) return -1;
    }
    return CloseMap(walk) ? k : -1;
}

// A flat copy of every UV point (u, v, w), or null.
float* CopyUVPoints() {
    const int32_t count = g_Scene.UVPointCount;
    auto* copy = static_cast<float*>(ModuleAlloc(static_cast<uint64_t>(count) * kPointRecordBytes));
    if (!copy) return nullptr;
    const ChunkStream& stream = g_Scene.UVPointStream;
    uint64_t left = static_cast<uint64_t>(count) * kPointRecordBytes;
    auto* to = reinterpret_cast<uint8_t*>(copy);
    // Whole records never span chunks, so each chunk's bytes copy as one piece.
    for (int32_t k = 0; k <= stream.last && left > 0; ++k) {
        const uint64_t bytes = std::min<uint64_t>(left, static_cast<uint64_t>(std::max(stream.used[k], 0)));
        std::memcpy(to, stream.chunks[k], bytes);
        to += bytes;
        left -= bytes;
    }
    return copy;
}

}  // namespace

BuildResult BuildUVMaps(int32_t polygons, int32_t, int32_t, HostObject* object, HostPolygon***, int32_t, int32_t,
                        uint8_t format) {
    if (g_Scene.UVPointCount < 1) return {0, false};
    float* uvPoints = CopyUVPoints();
    auto* scratch = static_cast<UVScratch*>(ModuleAlloc(sizeof(UVScratch)));
    auto* refs = static_cast<uint32_t*>(ModuleAlloc(kKeptRefsFirst * sizeof(uint32_t)));
    int32_t walked = -1;
    if (uvPoints && scratch && refs) {
        const EntryRefs kept = {refs, kKeptRefsFirst, 0};
        UVWalk walk = {object, uvPoints, scratch, BuildCornersReversed(format), nullptr, 0, kept};
        walked = WalkFaces(walk, polygons);
        refs = walk.kept.refs;
    } else {
        // No working storage is out of memory too: the user learns why there are no UVs.
        HostShowOutOfMemory();
    }
    ModuleFree(uvPoints);
    ModuleFree(scratch);
    ModuleFree(refs);
    return walked < 0 ? BuildResult{0, true} : BuildResult{walked, false};
}

HostUVMap* UVMapFindOrCreate(HostObject* object, const char* name) {
    HostGeometry* geometry = object->geometry;
    const int32_t count = std::max(geometry->uvMapCount, 0);
    for (int32_t i = 0; i < count; ++i) {
        HostUVMap* map = geometry->uvMaps[i];
        if (map && map->name && std::strcmp(map->name, name) == 0) return map;
    }
    const uint64_t entries = static_cast<uint64_t>(count) + kUVMapArrayStep;
    void* grown = geometry->uvMaps ? HostRealloc(geometry->uvMaps, entries * sizeof(HostUVMap*))
                                   : HostAlloc(kUVMapArrayStep, sizeof(HostUVMap*));
    if (!grown) {
        HostShowOutOfMemory();
        return nullptr;
    }
    geometry->uvMaps = static_cast<HostUVMap**>(grown);
    auto* map = static_cast<HostUVMap*>(HostAlloc(1, sizeof(HostUVMap)));
    if (!map) {
        HostShowOutOfMemory();
        return nullptr;
    }
    geometry->uvMaps[count] = map;
    geometry->uvMapCount = count + 1;
    map->name = HostCopyText(name);
    return map->name ? map : nullptr;
}

int32_t UVMapAddPolygon(HostObject* object, HostUVMap* map, const uint32_t* points, int32_t pointCount,
                        const uint32_t* uvs, int32_t uvCount, const float* uvPoints, int32_t polygonIndex) {
    const HostGeometry* geometry = object->geometry;
    const bool made = geometry->polygons && polygonIndex >= 0 && polygonIndex < geometry->polygonCount;
    if (!made || !AllPointsMade(geometry, points, pointCount)) return 1;
    HostPolygon* polygon = geometry->polygons[polygonIndex];
    if (FitsWithoutGrowth(map->pointEntryCount, pointCount) && FitsWithoutGrowth(map->polygonEntryCount, pointCount)) {
        AppendEntries(map, points, pointCount, uvs, uvCount, uvPoints, geometry->points, polygon);
        return 1;
    }
    for (int32_t c = 0; c < pointCount; ++c) {
        DropPointIndexBeforeGrowth(map);
        if (!ReserveEntry(&map->pointEntries, map->pointEntryCount)) return 0;
        UVMapPointEntry& entry = map->pointEntries[map->pointEntryCount++];
        CornerUV(uvs, uvCount, c, uvPoints, &entry.u, &entry.v);
        entry.point = geometry->points[points[c]];
    }
    for (int32_t c = 0; c < pointCount; ++c) {
        if (!ReserveEntry(&map->polygonEntries, map->polygonEntryCount)) return 0;
        UVMapPolygonEntry& entry = map->polygonEntries[map->polygonEntryCount++];
        CornerUV(uvs, uvCount, c, uvPoints, &entry.u, &entry.v);
        entry.point = geometry->points[points[c]];
        entry.polygon = polygon;
    }
    return 1;
}

void UVMapFinish(HostObject* object, HostUVMap* map) {
    if (map) FinishMap(object, map, nullptr);
}
