// The load glue: runs the import and finishes the loaded object on the host
// side (names, flags, bounding box, surfaces, edge list and normals).
#include "servers/load_glue.h"

#include <algorithm>
#include <cstring>

#include "frame/host_api.h"
#include "servers/format_table.h"

namespace {

constexpr int32_t kNameWorkBytes = 512;
constexpr uint32_t kLoadedFlags = 0x1 | 0x2;

// A load that failed after it made the object itself destroys it.
void DestroyNewObject(HostObject** slot) {
    HostObject* object = *slot;
    void** blocks[] = {reinterpret_cast<void**>(&object->name), reinterpret_cast<void**>(&object->path),
                       reinterpret_cast<void**>(&object->fileName), reinterpret_cast<void**>(&object->geometry)};
    for (void** block : blocks) {
        if (*block) {
            HostFree(*block);
            *block = nullptr;
        }
    }
    HostFree(object);
    *slot = nullptr;
}

// The file-name part: after the last backslash, slash or colon found scanning
// from the last character back to the second; the whole text when none.
const char* FileNamePart(const char* text) {
    const size_t length = std::strlen(text);
    for (size_t i = length; i-- > 1;) {  // an empty or one-character text has no separator to find
        const char c = text[i];
        if (c == '\\' || c == '/' || c == ':') return text + i + 1;
    }
    return text;
}

// Surfaces beyond a kept surface list fall back to surface 1.
void ClampSurfaceNumbers(HostGeometry* geometry) {
    for (int32_t i = 0; i < geometry->polygonCount; ++i) {
        HostPolygon* polygon = geometry->polygons[i];
        if (static_cast<int32_t>(polygon->surface) > geometry->surfaceCount) polygon->surface = 1;
    }
}

// One entry per surface, in list order.
int32_t BuildSurfaceArray(HostGeometry* geometry, uint32_t loadFlags) {
    const uint64_t bytes = static_cast<uint64_t>(geometry->surfaceCount) * sizeof(HostSurface*);
    HostSurface** array = nullptr;
    if ((loadFlags & kLoadKeepSurfaces) && geometry->surfaceArray) {
        array = static_cast<HostSurface**>(HostRealloc(geometry->surfaceArray, bytes));
        // A failed resize keeps the old array alive: release it before a new one is made.
        if (!array) HostFree(geometry->surfaceArray);
        geometry->surfaceArray = array;
    }
    if (!array) {
        if (geometry->surfaceCount <= 0) {
            geometry->surfaceArray = nullptr;
            return 0;
        }
        array = static_cast<HostSurface**>(HostAlloc(static_cast<uint64_t>(geometry->surfaceCount), sizeof(HostSurface*)));
        if (!array) {
            HostShowOutOfMemory();
            return 0;
        }
        geometry->surfaceArray = array;
    }
    int32_t i = 0;
    for (HostSurface* surface = geometry->surfaceList; surface && i < geometry->surfaceCount; surface = surface->next) {
        array[i++] = surface;
    }
    return 1;
}

void NameObject(HostObject* object, const char* nameSource, uint32_t loadFlags) {
    char work[kNameWorkBytes] = {};
    const char* fileName = FileNamePart(nameSource);
    // A longer file name is cut to the work buffer.
    std::memcpy(work, fileName, std::min(std::strlen(fileName), static_cast<size_t>(kNameWorkBytes - 1)));
    g_HostApi.StripExtension(work);
    if (g_NamingPrefs && g_NamingPrefs->legalNames == 1) {
        g_HostApi.FX_StringMakeLegalName(work);
    } else {
        g_HostApi.SpacesToUnderScores(work);
    }
    if (!(loadFlags & kLoadKeepName)) g_HostApi.FX_ObjectRename(object, work);
    g_HostApi.FX_ObjectRenameFile(object, fileName);
}

}  // namespace

int32_t LoadGlue(HostObject** slot, const char* path, int32_t ignored, uint32_t pointDataSize, uint32_t loadFlags,
                 uint64_t hostValue, CheckCallback check) {
    char nameBuffer[kPathBufferBytes] = {};
    if (!check(path)) return 0;
    const bool hadObject = *slot != nullptr;
    const ImportResult imported =
        ImportDriver(kImportPipeline, slot, path, hostValue, ignored, pointDataSize, loadFlags, nameBuffer);
    // The file was read and found valid, but no flag asked for an object: the
    // slot is left as it was and the load answers success.
    if (imported == kImportNoObject) return 1;
    if (imported == kImportFailed) {
        if (!hadObject && *slot) DestroyNewObject(slot);
        return 0;
    }

    HostObject* object = *slot;
    HostGeometry* geometry = object->geometry;
    object->loaded = 1;
    const char* nameSource = (loadFlags & kLoadNameFromOldObject) ? nameBuffer : path;
    g_HostApi.FX_ObjectRenamePath(object, nameSource);
    object->flags |= kLoadedFlags;
    object->hostValue = hostValue;
    NameObject(object, nameSource, loadFlags);
    if (loadFlags & (kLoadNewObject | kLoadPointsOnly)) g_HostApi.FX_ExclusiveAllocate(object);
    g_HostApi.FX_BoundingBoxGet(reinterpret_cast<void* const*>(geometry->points), geometry->pointCount,
                                &geometry->box);
    if (loadFlags & kLoadPointsOnly) return 1;

    if (loadFlags & kLoadKeepSurfaces) ClampSurfaceNumbers(geometry);
    if (geometry->surfaceCount == 0) g_HostApi.FX_SurfaceCreate(object, "Default");
    if (!BuildSurfaceArray(geometry, loadFlags)) {
        // A load that answers 0 leaves no object of its own making behind:
        // its geometry is released by the host and the object destroyed.
        if (!hadObject) {
            g_HostApi.FX_FreeObjectGeometryOnly(slot);
            DestroyNewObject(slot);
        }
        return 0;
    }
    g_HostApi.FX_EdgeListCreate(object);
    g_HostApi.FX_NormalInit(object, 0);
    return 1;
}
