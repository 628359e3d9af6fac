#include "export/export_driver.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "export/triangulate.h"
#include "frame/module_heap.h"
#include "frame/narrowing.h"
#include "scene/scene.h"

namespace {

constexpr uint8_t kSmoothShadingFlag = 0x04;
// A host position as a scene coordinate. Finite values beyond the float range
// become the largest float of their sign; NaN and the infinities stay what they are.
float ToSceneCoordinate(double value) {
    const double kept = std::isfinite(value) ? std::clamp(value, -double{FLT_MAX}, double{FLT_MAX}) : value;
    return NarrowToFloat(kept);
}

// A host surface value truncated toward zero into 0..255, the range shininess
// and transparency are kept in: NaN and values below it give 0, values above it 255.
uint16_t ToSurfaceValue(float value) { return TruncateSaturating<uint8_t>(value); }

// The scene surface of a host polygon. A number that names no copied surface
// (0, negative, or beyond the surfaces) becomes surface 1, as the host itself
// shows such polygons.
uint32_t SceneSurfaceOf(const HostPolygon& polygon) {
    const int32_t number = static_cast<int16_t>(polygon.surface);
    return number >= 1 && number <= g_Scene.SurfaceCount ? static_cast<uint32_t>(number) : 1u;
}

// The polygon's point indices into FaceIndexScratch: false when a corner or its point is missing.
bool GatherCorners(const HostPolygon& polygon, int32_t n) {
    if (!polygon.corners) return false;
    for (int32_t k = 0; k < n; ++k) {
        const HostPolygonVertex* corner = polygon.corners[k];
        if (!corner || !corner->point) return false;
        g_Scene.FaceIndexScratch[k] = static_cast<uint32_t>(corner->point->index);
    }
    return true;
}

bool IsDotAt(const char* name, int32_t at) { return at >= 0 && name[at] == '.'; }

// Whether the `count` characters at `text` are `lower` ignoring the case of ASCII letters.
bool MatchesIgnoringCase(const char* text, const char* lower, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

bool IsKnownExtension(const char* text) {
    for (const char* extension : {"dxf", "lwo", "lwb", "obj", "3ds"}) {
        if (MatchesIgnoringCase(text, extension, 3)) return true;
    }
    return false;
}

// The length of `name` once its known extensions are cut, pass after pass.
int32_t LengthWithoutExtensions(const char* name, int32_t length) {
    for (;;) {
        bool cut = false;
        if (IsDotAt(name, length - 3) && MatchesIgnoringCase(name + length - 2, "lw", 2)) {
            length -= 3;
            cut = true;
        }
        if (IsDotAt(name, length - 4) && (cut || IsKnownExtension(name + length - 3))) {
            length -= 4;
            cut = true;
        }
        if (IsDotAt(name, length - 5)) {
            if (!cut && !MatchesIgnoringCase(name + length - 4, "lwob", 4)) return length;
            length -= 5;
        } else if (!cut) {
            return length;
        }
    }
}

// Everything after the start of the scene: its memory released and handed back to the system.
int32_t FinishExport(int32_t result) {
    SceneFree();
    ModuleHeapTrim();
    return result;
}

// The scene filled from the object, checked, cut into triangles for 3D Studio and DXF, and compacted.
bool FillScene(HostObject* object, uint32_t format, uint32_t saveFlags) {
    const HostGeometry& geometry = *object->geometry;
    if (!ExtractPoints(object, saveFlags)) return false;
    if (geometry.surfaceCount < 1 || !geometry.surfaceArray || !ExtractSurfaces(object)) return false;
    if (!ExtractPolygons(object)) return false;
    // The triangulation reads the points its polygons name, so the indices are
    // checked before it rather than after; the triangles only reuse them.
    if (!SceneValidate()) return false;
    if ((format == kFormat3DS || format == kFormatDXF) && !TriangulateScene()) return false;
    SceneCompactSurfaces();
    return true;
}

const ExportFormat* FindWriter(const ExportPipeline& pipeline, uint32_t format) {
    for (int32_t i = 0; i < pipeline.formatCount; ++i) {
        if (pipeline.formats[i]->format == format) return pipeline.formats[i];
    }
    return nullptr;
}

}  // namespace

int32_t ExtractPoints(HostObject* object, uint32_t saveFlags) {
    const HostGeometry& geometry = *object->geometry;
    if (geometry.pointCount > 0 && !geometry.points) return 0;
    const bool thirdTriple = (saveFlags & kSaveUseThirdPosition) != 0;
    for (int32_t i = 0; i < geometry.pointCount; ++i) {
        const HostPoint* point = geometry.points[i];
        if (!point) return 0;
        const double* p = thirdTriple ? point->position2 : point->position1;
        if (!SceneAddPoint(ToSceneCoordinate(p[0]), ToSceneCoordinate(p[1]), ToSceneCoordinate(p[2]))) return 0;
    }
    return 1;
}

int32_t ExtractSurfaces(HostObject* object) {
    const HostGeometry& geometry = *object->geometry;
    ImportScene& s = g_Scene;
    // Surfaces past the table's size are not copied; polygons naming them get surface 1.
    const int32_t count = std::min(geometry.surfaceCount, kSurfaceSlots);
    for (int32_t j = 0; j < count; ++j) {
        const HostSurface* surface = geometry.surfaceArray[j];
        if (!surface) return 0;
        const int32_t slot = s.SurfaceCount;
        // A name longer than a slot holds keeps its first kSurfaceNameBytes - 1 characters.
        const size_t length = surface->name ? strnlen(surface->name, kSurfaceNameBytes - 1) : 0;
        if (length) std::memcpy(s.SurfaceNames[slot], surface->name, length);
        s.SurfaceNames[slot][length] = '\0';
        std::memcpy(s.SurfaceColours[slot], surface->colour, sizeof s.SurfaceColours[slot]);
        s.SurfaceShininess[slot] = ToSurfaceValue(surface->shininess);
        s.SurfaceTransparency[slot] = ToSurfaceValue(surface->transparency);
        s.SurfaceSmooth[slot] = (surface->flags & kSmoothShadingFlag) ? 1 : 0;
        ++s.SurfaceSlotCount;
        ++s.SurfaceCount;
    }
    return 1;
}

int32_t ExtractPolygons(HostObject* object) {
    const HostGeometry& geometry = *object->geometry;
    if (geometry.polygonCount > 0 && !geometry.polygons) return 0;
    for (int32_t i = 0; i < geometry.polygonCount; ++i) {
        const HostPolygon* polygon = geometry.polygons[i];
        if (!polygon) return 0;
        const int32_t n = polygon->cornerCount;
        if (n <= 0) continue;  // a polygon without corners is dropped
        // More corners than an element may have: the save is refused rather
        // than the polygon dropped or cut apart.
        if (n > kMaxCorners) return 0;
        if (!GatherCorners(*polygon, n)) return 0;
        if (!SceneAddElement(n, SceneSurfaceOf(*polygon), g_Scene.FaceIndexScratch, nullptr)) return 0;
    }
    return 1;
}

int32_t ExportNameFromPath(const char* path, char* name) {
    const size_t pathLength = std::strlen(path);
    size_t start = 0;
    for (size_t i = pathLength; i-- > 1;) {
        if (path[i] == '\\' || path[i] == ':') {
            start = i + 1;
            break;
        }
    }
    // The extensions are cut where the file name stands in the path, so no
    // work buffer bounds it; the result keeps at most kExportNameBytes - 1 characters.
    const auto fileLength = static_cast<int32_t>(std::min<size_t>(pathLength - start, INT32_MAX));
    const int32_t length = std::min(LengthWithoutExtensions(path + start, fileLength), kExportNameBytes - 1);
    std::memcpy(name, path + start, static_cast<size_t>(length));
    name[length] = '\0';
    return 1;
}

int32_t ExportDriver(const ExportPipeline& pipeline, HostObject* object, const char* path, uint32_t format,
                     uint32_t saveFlags) {
    if (!object || !object->geometry || !path) return 0;
    SceneReset();
    if (!SceneAllocateFirstChunks()) {
        ModuleHeapTrim();
        return 0;
    }
    if (!FillScene(object, format, saveFlags)) return FinishExport(0);
    char name[kExportNameBytes] = {};
    ExportNameFromPath(path, name);
    const ExportFormat* writer = FindWriter(pipeline, format);
    return FinishExport(writer ? writer->write(object, path, name) : 0);
}
