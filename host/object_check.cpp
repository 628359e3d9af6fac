// The rules every loaded object keeps (standin_check.h).
#include <string>

#include "standin_check.h"

namespace standin {
namespace {

constexpr int32_t kMaxElementCorners = 4000;

std::string At(const char* what, int64_t i) { return std::string(what) + " " + std::to_string(i) + ": "; }

bool IsPointOf(const HostGeometry& g, const HostPoint* point) {
    return point && point->index >= 0 && point->index < g.pointCount && g.points[point->index] == point;
}

bool IsPolygonOf(const HostGeometry& g, const HostPolygon* polygon) {
    return polygon && polygon->index >= 0 && polygon->index < g.polygonCount && g.polygons[polygon->index] == polygon;
}

std::string PointsProblem(const HostGeometry& g) {
    if (g.pointCount < 1) return "no points";
    if (!g.points) return "no point array";
    for (int32_t i = 0; i < g.pointCount; ++i) {
        if (!g.points[i]) return At("point", i) + "missing";
        if (g.points[i]->index != i) return At("point", i) + "index " + std::to_string(g.points[i]->index);
    }
    return {};
}

std::string PolygonProblem(const HostGeometry& g, int32_t i) {
    const HostPolygon* polygon = g.polygons[i];
    if (!polygon) return At("polygon", i) + "missing";
    if (polygon->index != i) return At("polygon", i) + "index " + std::to_string(polygon->index);
    if (polygon->cornerCount < 1 || polygon->cornerCount > kMaxElementCorners)
        return At("polygon", i) + std::to_string(polygon->cornerCount) + " corners";
    if (!polygon->corners) return At("polygon", i) + "no corner array";
    for (int32_t k = 0; k < polygon->cornerCount; ++k) {
        const HostPolygonVertex* corner = polygon->corners[k];
        if (!corner || corner->position != k) return At("polygon", i) + At("corner", k) + "missing or misplaced";
        if (!IsPointOf(g, corner->point)) return At("polygon", i) + At("corner", k) + "not on a point of the object";
    }
    if (polygon->surface < 1 || polygon->surface > g.surfaceCount)
        return At("polygon", i) + "surface " + std::to_string(polygon->surface);
    return {};
}

std::string SurfacesProblem(const HostGeometry& g) {
    if (g.surfaceCount < 1) return "no surfaces";
    if (!g.surfaceArray) return "no surface array";
    int32_t listed = 0;
    for (const HostSurface* s = g.surfaceList; s; s = s->next, ++listed) {
        if (listed >= g.surfaceCount) return "more surfaces listed than counted";
        if (g.surfaceArray[listed] != s) return At("surface", listed) + "not in the array's place";
        if (!s->name) return At("surface", listed) + "no name";
    }
    if (listed != g.surfaceCount) return "fewer surfaces listed than counted";
    return {};
}

std::string UVMapProblem(const HostGeometry& g, int32_t m) {
    const HostUVMap* map = g.uvMaps[m];
    if (!map || !map->name) return At("UV map", m) + "missing or unnamed";
    if (map->pointEntryCount < 0 || (map->pointEntryCount > 0 && !map->pointEntries))
        return At("UV map", m) + "point entries";
    for (int32_t e = 0; e < map->pointEntryCount; ++e)
        if (!IsPointOf(g, map->pointEntries[e].point)) return At("UV map", m) + At("point entry", e) + "foreign point";
    if (map->polygonEntryCount < 0 || (map->polygonEntryCount > 0 && !map->polygonEntries))
        return At("UV map", m) + "polygon entries";
    for (int32_t e = 0; e < map->polygonEntryCount; ++e) {
        const UVMapPolygonEntry& entry = map->polygonEntries[e];
        if (!IsPointOf(g, entry.point) || !IsPolygonOf(g, entry.polygon))
            return At("UV map", m) + At("polygon entry", e) + "foreign point or polygon";
    }
    return {};
}

}  // namespace

std::string ObjectProblem(const HostObject& object, bool pointsOnly) {
    if (!object.geometry) return "no geometry";
    const HostGeometry& g = *object.geometry;
    if (std::string problem = PointsProblem(g); !problem.empty()) return problem;
    if (g.polygonCount != g.polygonCount2) return "polygon counts differ";
    if (g.polygonCount < 0 || (g.polygonCount > 0 && !g.polygons)) return "polygon array";
    if (pointsOnly) return g.polygonCount == 0 && g.surfaceCount == 0 ? std::string() : "polygons or surfaces";
    if (std::string problem = SurfacesProblem(g); !problem.empty()) return problem;
    for (int32_t i = 0; i < g.polygonCount; ++i)
        if (std::string problem = PolygonProblem(g, i); !problem.empty()) return problem;
    if (g.uvMapCount < 0 || (g.uvMapCount > 0 && !g.uvMaps)) return "UV map array";
    for (int32_t m = 0; m < g.uvMapCount; ++m)
        if (std::string problem = UVMapProblem(g, m); !problem.empty()) return problem;
    return {};
}

}  // namespace standin
