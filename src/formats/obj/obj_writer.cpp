#include "formats/obj/obj_writer.h"

#include <cstdio>
#include <ctime>

#include "scene/output_file.h"
#include "scene/scene.h"

namespace {

constexpr uint32_t kNoSurfaceYet = 0xFFFFFFFFu;
constexpr int32_t kDateTextBytes = 64;

// The local time as the C library's standard date text ("Www Mmm dd hh:mm:ss yyyy"
// and LF), with English names whatever the locale.
void OutputHeader() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (const std::tm* found = std::localtime(&now)) local = *found;
    char date[kDateTextBytes];
    std::snprintf(date, sizeof date, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[(local.tm_wday % 7 + 7) % 7],
                  kMonths[(local.tm_mon % 12 + 12) % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    OutputText("# ");
    OutputText(date);
    OutputText("#\n#\n\n");
}

void OutputUV(float u, float v) {
    OutputText("vt ");
    OutputFixed(u);
    OutputText(" ");
    OutputFixed(v);
    OutputText("\n");
}

// The first UV map of the object, or null when it has none.
const HostUVMap* FirstUVMap(const HostGeometry& geometry) {
    return geometry.uvMapCount >= 1 && geometry.uvMaps ? geometry.uvMaps[0] : nullptr;
}

// The per-polygon UV items of entry k and how many items it holds: as many
// as host polygon k has corners.
const HostUVCorner* PolygonUVItems(const HostGeometry& geometry, const HostUVMap& map, int32_t k, int32_t* held) {
    if (!map.polygonUV || k >= geometry.polygonCount || !map.polygonUV[k]) return nullptr;
    const HostPolygon* polygon = geometry.polygons ? geometry.polygons[k] : nullptr;
    *held = polygon ? polygon->cornerCount : 0;
    return map.polygonUV[k];
}

// The "vt" lines of the k-th face, one per corner in corner order. Entry k
// of the map's per-polygon data belongs to host polygon k, which is not this
// face when shorter polygons came before it; corners past the items that
// entry holds get 0, 0, as a point without a UV does.
void OutputFaceUVs(const HostGeometry& geometry, const HostUVMap& map, int32_t k, int32_t n, const uint32_t* points) {
    int32_t held = 0;
    if (const HostUVCorner* items = PolygonUVItems(geometry, map, k, &held)) {
        for (int32_t c = 0; c < n; ++c) c < held ? OutputUV(items[c].u, items[c].v) : OutputUV(0, 0);
        return;
    }
    if (map.pointEntryCount <= 0) return;
    for (int32_t c = 0; c < n; ++c) {
        const bool indexed = map.pointIndex && points[c] < static_cast<uint32_t>(geometry.pointCount);
        const UVMapPointEntry* entry = indexed ? map.pointIndex[points[c]] : nullptr;
        entry ? OutputUV(entry->u, entry->v) : OutputUV(0, 0);
    }
}

// "usemtl" when the surface word differs from the last one written.
void OutputSurfaceSwitch(uint32_t surface, uint32_t* last) {
    if (surface == *last) return;
    OutputText("usemtl ");
    OutputText(SceneSurfaceName(surface));
    OutputText("\n");
    *last = surface;
}

void OutputPoints() {
    StreamWalker w = WalkerBegin(g_Scene.PointStream);
    for (int32_t i = 0; i < g_Scene.PointCount; ++i) {
        const auto* p = reinterpret_cast<const float*>(WalkerRecord(w, kPointRecordBytes));
        OutputText("v ");
        OutputFixed(p[0]);
        OutputText(" ");
        OutputFixed(p[1]);
        OutputText(" ");
        OutputFixed(p[2] * -1.0);
        OutputText("\n");
    }
    OutputText("# ");
    OutputInt(g_Scene.PointCount);
    OutputText(" vertices\n\n# 0 texture vertices\n\n# 0 normals\n\n");
}

void OutputFaces(const HostGeometry& geometry, uint32_t* lastSurface) {
    const HostUVMap* map = FirstUVMap(geometry);
    int32_t k = 0;
    SceneForEachRecord(g_Scene.PolygonStream, g_Scene.PolygonCount, [&](int32_t n, const uint32_t* points,
                                                                         uint32_t surface) {
        OutputSurfaceSwitch(surface, lastSurface);
        if (map) OutputFaceUVs(geometry, *map, k, n, points);
        OutputText("f");
        for (int32_t c = n - 1; c >= 0; --c) {
            OutputText(" ");
            OutputInt(points[c] + 1);
            if (map) {
                OutputText("/");
                OutputInt(c - n);
            }
        }
        OutputText("\n");
        ++k;
    });
}

void OutputLinesAndDots(uint32_t* lastSurface) {
    SceneForEachRecord(g_Scene.LineStream, g_Scene.LineCount, [&](int32_t, const uint32_t* points, uint32_t surface) {
        OutputSurfaceSwitch(surface, lastSurface);
        OutputText("l ");
        OutputInt(points[1] + 1);
        OutputText(" ");
        OutputInt(points[0] + 1);
        OutputText("\n");
    });
    SceneForEachRecord(g_Scene.DotStream, g_Scene.DotCount, [&](int32_t, const uint32_t* points, uint32_t surface) {
        OutputSurfaceSwitch(surface, lastSurface);
        OutputText("p ");
        OutputInt(points[0] + 1);
        OutputText("\n");
    });
}

}  // namespace

int32_t ObjWrite(HostObject* object, const char* path, const char* groupName) {
    SceneEnsureSurface();
    SceneBlanksToUnderscores();
    if (!OutputOpen(path, "wb")) return 0;
    OutputHeader();
    OutputText("g ");
    OutputText(groupName);
    OutputText("\n");
    OutputPoints();
    uint32_t lastSurface = kNoSurfaceYet;
    OutputFaces(*object->geometry, &lastSurface);
    OutputLinesAndDots(&lastSurface);
    OutputText("# ");
    OutputInt(static_cast<int64_t>(g_Scene.PolygonCount) + g_Scene.LineCount + g_Scene.DotCount);
    OutputText(" elements\n");
    OutputClose();
    return 1;
}
