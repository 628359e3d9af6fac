// Finished host objects made the way the host's own modelling makes them, so
// that the export side and the free callback can be driven without an import.
#include <algorithm>

#include "host_internal.h"

namespace standin {
namespace {

using detail::Alloc;

// Sizes of the host blocks a modelled object owns besides its geometry records.
constexpr uint64_t kObjectBlock120Bytes = 64;
constexpr uint64_t kSurfaceBlockBytes = 16;
constexpr uint64_t kSurfaceListNodeBytes = 16;

template <typename T>
T* NewRecord() {
    return static_cast<T*>(Alloc(1, sizeof(T)));
}

template <typename T>
T** NewArray(size_t count) {
    return static_cast<T**>(Alloc(count, sizeof(T*)));
}

// Every corner names an existing point, and every UV list matches its polygon.
bool DescIsValid(const ObjectDesc& desc) {
    const auto pointCount = static_cast<int64_t>(desc.points.size());
    for (const PolygonDesc& polygon : desc.polygons) {
        const bool inRange = std::all_of(polygon.corners.begin(), polygon.corners.end(),
                                         [pointCount](int32_t corner) { return corner >= 0 && corner < pointCount; });
        if (!inRange) return false;
    }
    for (const UVMapDesc& map : desc.uvMaps) {
        if (map.polygonUVs.size() > desc.polygons.size()) return false;
        for (size_t p = 0; p < map.polygonUVs.size(); ++p) {
            const size_t uvs = map.polygonUVs[p].size();
            if (uvs != 0 && uvs != desc.polygons[p].corners.size()) return false;
        }
    }
    return true;
}

bool BuildPoints(HostGeometry* geometry, const std::vector<PointDesc>& points) {
    if (points.empty()) return true;
    geometry->points = NewArray<HostPoint>(points.size());
    if (!geometry->points) return false;
    geometry->pointCount = static_cast<int32_t>(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        auto* point = NewRecord<HostPoint>();
        if (!point) return false;
        geometry->points[i] = point;
        const PointDesc& desc = points[i];
        std::copy_n(desc.position, 3, point->position0);
        std::copy_n(desc.position, 3, point->position1);
        std::copy_n(desc.hasPosition2 ? desc.position2 : desc.position, 3, point->position2);
        point->index = static_cast<int32_t>(i);
        point->weight = 1.0f;
    }
    return true;
}

bool BuildPolygon(HostGeometry* geometry, const PolygonDesc& desc, size_t index) {
    auto* polygon = NewRecord<HostPolygon>();
    if (!polygon) return false;
    geometry->polygons[index] = polygon;
    polygon->index = static_cast<int32_t>(index);
    polygon->surface = static_cast<uint16_t>(desc.surface);  // keeps the bits of 0 or negative numbers
    if (desc.corners.empty()) return true;
    polygon->corners = NewArray<HostPolygonVertex>(desc.corners.size());
    if (!polygon->corners) return false;
    polygon->cornerCount = static_cast<int32_t>(desc.corners.size());
    for (size_t k = 0; k < desc.corners.size(); ++k) {
        auto* corner = NewRecord<HostPolygonVertex>();
        if (!corner) return false;
        polygon->corners[k] = corner;
        corner->point = geometry->points[desc.corners[k]];
        corner->position = static_cast<uint16_t>(k);
    }
    return true;
}

bool BuildPolygons(HostGeometry* geometry, const std::vector<PolygonDesc>& polygons) {
    if (polygons.empty()) return true;
    geometry->polygons = NewArray<HostPolygon>(polygons.size());
    if (!geometry->polygons) return false;
    geometry->polygonCount = static_cast<int32_t>(polygons.size());
    geometry->polygonCount2 = geometry->polygonCount;
    for (size_t i = 0; i < polygons.size(); ++i) {
        if (!BuildPolygon(geometry, polygons[i], i)) return false;
    }
    return true;
}

// A surface as the host models it: its settings, two owned blocks and one node
// in its data list.
bool BuildSurface(HostGeometry* geometry, const SurfaceDesc& desc) {
    HostSurface* surface = detail::AppendSurface(geometry, desc.name.c_str());
    if (!surface) return false;
    for (int c = 0; c < 3; ++c) {
        surface->colour[c] = desc.colour[c];
        surface->colourF[c] = desc.colour[c] / 255.0f;
    }
    surface->level = desc.level;
    surface->shininess = desc.shininess;
    surface->transparency = desc.transparency;
    surface->flags = desc.smooth ? 0x04 : 0;
    surface->block1488 = Alloc(1, kSurfaceBlockBytes);
    surface->block1552 = Alloc(1, kSurfaceBlockBytes);
    surface->dataList.head = Alloc(1, kSurfaceListNodeBytes);
    surface->dataList.count = surface->dataList.head ? 1 : 0;
    return surface->block1488 && surface->block1552 && surface->dataList.head;
}

bool BuildSurfaces(HostGeometry* geometry, const std::vector<SurfaceDesc>& surfaces) {
    for (const SurfaceDesc& desc : surfaces) {
        if (!BuildSurface(geometry, desc)) return false;
    }
    if (surfaces.empty()) return true;
    geometry->surfaceArray = NewArray<HostSurface>(surfaces.size());
    if (!geometry->surfaceArray) return false;
    size_t i = 0;
    for (HostSurface* surface = geometry->surfaceList; surface; surface = surface->next) {
        geometry->surfaceArray[i++] = surface;
    }
    return true;
}

// Fills the map's point and polygon entries (one of each per corner with a UV)
// and its point index, where the last entry of a point wins.
bool FillUVEntries(HostGeometry* geometry, HostUVMap* map, const UVMapDesc& desc) {
    size_t entries = 0;
    for (const auto& uvs : desc.polygonUVs) entries += uvs.size();
    if (entries == 0) return true;
    map->pointEntries = static_cast<UVMapPointEntry*>(Alloc(entries, sizeof(UVMapPointEntry)));
    map->polygonEntries = static_cast<UVMapPolygonEntry*>(Alloc(entries, sizeof(UVMapPolygonEntry)));
    map->pointIndex = NewArray<UVMapPointEntry>(geometry->pointCount);
    if (!map->pointEntries || !map->polygonEntries || !map->pointIndex) return false;
    for (size_t p = 0; p < desc.polygonUVs.size(); ++p) {
        HostPolygon* polygon = geometry->polygons[p];
        for (size_t k = 0; k < desc.polygonUVs[p].size(); ++k) {
            const auto [u, v] = desc.polygonUVs[p][k];
            HostPoint* point = polygon->corners[k]->point;
            UVMapPointEntry& pointEntry = map->pointEntries[map->pointEntryCount++];
            pointEntry = {u, v, point};
            map->polygonEntries[map->polygonEntryCount++] = {u, v, point, polygon};
            map->pointIndex[point->index] = &pointEntry;
        }
    }
    return true;
}

bool BuildUVMaps(HostGeometry* geometry, const std::vector<UVMapDesc>& maps) {
    if (maps.empty()) return true;
    geometry->uvMaps = NewArray<HostUVMap>(maps.size());
    if (!geometry->uvMaps) return false;
    for (size_t i = 0; i < maps.size(); ++i) {
        auto* map = NewRecord<HostUVMap>();
        if (!map) return false;
        geometry->uvMaps[i] = map;
        geometry->uvMapCount = static_cast<int32_t>(i + 1);
        map->name = detail::CopyText(maps[i].name.c_str());
        if (!map->name || !FillUVEntries(geometry, map, maps[i])) return false;
        if (!detail::CreateUVPolygons(geometry, static_cast<int32_t>(i))) return false;
    }
    return true;
}

bool BuildGeometry(HostGeometry* geometry, const ObjectDesc& desc) {
    if (!BuildPoints(geometry, desc.points) || !BuildPolygons(geometry, desc.polygons)) return false;
    if (!BuildSurfaces(geometry, desc.surfaces) || !BuildUVMaps(geometry, desc.uvMaps)) return false;
    detail::ComputeBoundingBox(geometry->points, geometry->pointCount, &geometry->box);
    return detail::CreateEdgeList(geometry) && detail::CreateNormals(geometry);
}

}  // namespace

// Null for a desc whose corners or UV lists do not fit its points and
// polygons, and when the host runs out of memory (nothing is left allocated).
HostObject* BuildObject(const ObjectDesc& desc) {
    if (!DescIsValid(desc)) return nullptr;
    detail::ZoneScope zone;  // the object's blocks can be released together
    auto* object = NewRecord<HostObject>();
    if (!object) return nullptr;
    object->name = detail::CopyText(desc.name.c_str());
    object->block120 = Alloc(1, kObjectBlock120Bytes);
    object->geometry = NewRecord<HostGeometry>();
    if (!object->name || !object->block120 || !object->geometry || !BuildGeometry(object->geometry, desc)) {
        detail::FreeObjectEverything(object);
        return nullptr;
    }
    return object;
}

}  // namespace standin
