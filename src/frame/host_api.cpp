#include "frame/host_api.h"

#include <cstring>

HostCore* g_HostCore = nullptr;
HostApi g_HostApi = {};
HostNamingPrefs* g_NamingPrefs = nullptr;

namespace {

template <typename Fn>
void Bind(Fn& entry, const char* name) {
    entry = reinterpret_cast<Fn>(g_HostCore->lookup(name));
}

}  // namespace

void HostApiBind(HostCore* core) {
    g_HostCore = core;
    HostApi& api = g_HostApi;
    Bind(api.AddFileExtension, "AddFileExtension");
    Bind(api.RemoveFileExtensions, "RemoveFileExtensions");
    Bind(api.fxDataInstanceFreeAll, "fxDataInstanceFreeAll");
    Bind(api.ClearList, "ClearList");
    Bind(api.FX_ObjectAdd, "FX_ObjectAdd");
    Bind(api.NotifyModes, "NotifyModes");
    Bind(api.NotifyObject, "NotifyObject");
    Bind(api.FX_FreeObjectGeometryOnly, "FX_FreeObjectGeometryOnly");
    Bind(api.FX_FreeObjectGeometryOnlyKeepSurfaces, "FX_FreeObjectGeometryOnlyKeepSurfaces");
    Bind(api.FX_ObjectRenamePath, "FX_ObjectRenamePath");
    Bind(api.StripExtension, "StripExtension");
    Bind(api.FX_StringMakeLegalName, "FX_StringMakeLegalName");
    Bind(api.SpacesToUnderScores, "SpacesToUnderScores");
    Bind(api.FX_ObjectRename, "FX_ObjectRename");
    Bind(api.FX_ObjectRenameFile, "FX_ObjectRenameFile");
    Bind(api.FX_ExclusiveAllocate, "FX_ExclusiveAllocate");
    Bind(api.FX_BoundingBoxGet, "FX_BoundingBoxGet");
    Bind(api.FX_SurfaceCreate, "FX_SurfaceCreate");
    Bind(api.FX_EdgeListCreate, "FX_EdgeListCreate");
    Bind(api.FX_NormalInit, "FX_NormalInit");
    Bind(api.FX_SurfaceSetDefault, "FX_SurfaceSetDefault");
    Bind(api.FX_GeometrySetType, "FX_GeometrySetType");
    Bind(api.CreateDCUVPolys, "CreateDCUVPolys");
    Bind(api.ms, "ms");
}

void HostShowOutOfMemory() {
    g_HostApi.ms->message("There isn't enough memory available", "to perform this operation!");
}

char* HostCopyText(const char* text) {
    const uint64_t bytes = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(HostAlloc(bytes, 1));
    if (!copy) {
        HostShowOutOfMemory();
        return nullptr;
    }
    std::memcpy(copy, text, bytes);
    return copy;
}
