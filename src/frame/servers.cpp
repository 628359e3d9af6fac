// The module's outward face: the two exported name arrays, the six init
// functions and the callbacks each init puts into its server record.
#include <cstdio>
#include <cstring>

#include "export/export_driver.h"
#include "formats/3ds/tds.h"
#include "formats/dxf/dxf.h"
#include "formats/obj/obj.h"
#include "frame/host_api.h"
#include "frame/load_glue.h"
#include "scene/scene.h"

namespace {

constexpr float kServerVersion = 1.0f;
constexpr int32_t kServerKind = 7;
constexpr uint32_t kImportServerFlags = 2;
constexpr uint32_t kExportServerFlags = 0x20000;
constexpr uint64_t kCheckBufferBytes = 1024;
constexpr uint32_t kTextCheckBytes = 1000;

using Sniffer = int32_t (*)(int32_t count, const uint8_t* head);

ServerRecord* g_records[6];
enum ServerIndex { kImportOBJ, kImport3DS, kImportDXF, kExportOBJ, kExport3DS, kExportDXF };

// Reads up to `want` bytes of the file's head into a host buffer and runs the sniffer.
int32_t CheckFile(const char* path, uint32_t want, Sniffer sniff) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    auto* buffer = static_cast<uint8_t*>(HostAlloc(kCheckBufferBytes, 1));
    if (!buffer) {
        std::fclose(file);
        HostShowOutOfMemory();
        return 0;
    }
    const auto count = static_cast<int32_t>(std::fread(buffer, 1, want, file));
    std::fclose(file);
    const int32_t accepted = sniff(count, buffer) ? 1 : 0;
    HostFree(buffer);
    return accepted;
}

// What each import server's check reads of the file's head, and its sniffer.
struct CheckTraits {
    uint32_t headBytes;
    Sniffer sniff;
};
constexpr CheckTraits kChecks[] = {{kTextCheckBytes, ObjSniff}, {kSniff3DSMinBytes, Sniff3DS}, {kTextCheckBytes, DxfSniff}};
// The export format code of each export server.
constexpr uint32_t kExportFormats[] = {kFormatOBJExport, kFormat3DS, kFormatDXF};

template <ServerIndex server>
int32_t ObjectCheck(const char* path) {
    return CheckFile(path, kChecks[server].headBytes, kChecks[server].sniff);
}

// A load callback runs its own server's check first, inside the glue.
template <ServerIndex server>
int32_t ObjectLoad(HostObject** slot, const char* path, int32_t ignored1, uint32_t pointDataSize, uint32_t loadFlags,
                   uint64_t hostValue, int32_t, uint64_t) {
    return LoadGlue(slot, path, ignored1, pointDataSize, loadFlags, hostValue, ObjectCheck<server>);
}

template <ServerIndex server>
int32_t ObjectSave(HostObject* object, const char* path, uint32_t saveFlags) {
    return ExportDriver(object, path, kExportFormats[server - kExportOBJ], saveFlags);
}

constexpr LoadCallback ObjectLoadOBJ = ObjectLoad<kImportOBJ>;
constexpr LoadCallback ObjectLoad3DS = ObjectLoad<kImport3DS>;
constexpr LoadCallback ObjectLoadDXF = ObjectLoad<kImportDXF>;
constexpr SaveCallback ObjectSaveOBJ = ObjectSave<kExportOBJ>;
constexpr SaveCallback ObjectSave3DS = ObjectSave<kExport3DS>;
constexpr SaveCallback ObjectSaveDXF = ObjectSave<kExportDXF>;

// Releases what the builder attached to the geometry: the surface list and the
// surface pointer array.
void ObjectFreeSurfaces(HostObject* object) {
    HostGeometry* geometry = object->geometry;
    HostSurface* surface = geometry->surfaceList;
    while (surface) {
        HostSurface* next = surface->next;
        void** owned[] = {reinterpret_cast<void**>(&surface->name), &surface->block1488, &surface->block1552};
        for (void** block : owned) {
            if (*block) {
                HostFree(*block);
                *block = nullptr;
            }
        }
        g_HostApi.fxDataInstanceFreeAll(surface);
        g_HostApi.ClearList(&surface->dataList);
        HostFree(surface);
        surface = next;
    }
    if (geometry->surfaceArray) {
        HostFree(geometry->surfaceArray);
        geometry->surfaceArray = nullptr;
    }
}

template <ServerIndex server>
int32_t Unregister() {
    return g_HostApi.RemoveFileExtensions(g_records[server]);
}

struct ServerTraits {
    const char* extension;
    const char* description;
    const char* lookupName;
    void* callback;
};

const ServerTraits kServers[6] = {
    {"obj", "Wavefront Object", "ObjectLoadOBJ", reinterpret_cast<void*>(ObjectLoadOBJ)},
    {"3ds", "3D Studio Object", "ObjectLoad3DS", reinterpret_cast<void*>(ObjectLoad3DS)},
    {"dxf", "DXF Object", "ObjectLoadDXF", reinterpret_cast<void*>(ObjectLoadDXF)},
    {"obj", "Wavefront Object", "ObjectSaveOBJ", reinterpret_cast<void*>(ObjectSaveOBJ)},
    {"3ds", "3D Studio Object", "ObjectSave3DS", reinterpret_cast<void*>(ObjectSave3DS)},
    {"dxf", "DXF Object", "ObjectSaveDXF", reinterpret_cast<void*>(ObjectSaveDXF)},
};

// One lookup callback per server: the server's own callback for its exact name.
template <ServerIndex server>
void* LookupName(const char* name) {
    return std::strcmp(name, kServers[server].lookupName) == 0 ? kServers[server].callback : nullptr;
}

// The steps every init shares: bind the host, fill the record, register the extension.
template <ServerIndex server>
int32_t InitServer(HostCore* core, ServerRecord* record) {
    const ServerTraits& traits = kServers[server];
    g_records[server] = record;
    HostApiBind(core);
    g_HostApi.RemoveFileExtensions = reinterpret_cast<RemoveFileExtensionsFn>(core->lookup("RemoveFileExtensions"));
    g_HostApi.AddFileExtension = reinterpret_cast<AddFileExtensionFn>(core->lookup("AddFileExtension"));
    g_NamingPrefs = record->namingPrefs;

    constexpr bool isImport = server <= kImportDXF;
    record->version = kServerVersion;
    record->kind = kServerKind;
    record->flags = isImport ? kImportServerFlags : kExportServerFlags;
    if constexpr (isImport) {
        record->check = ObjectCheck<server>;
        record->load = reinterpret_cast<LoadCallback>(traits.callback);
        record->free = ObjectFreeSurfaces;
    } else {
        record->save = reinterpret_cast<SaveCallback>(traits.callback);
    }
    record->unregister = Unregister<server>;
    record->lookup = LookupName<server>;

    g_HostApi.AddFileExtension(record, traits.extension, traits.description);
    return std::snprintf(record->description, sizeof record->description, "%s", traits.description);
}

}  // namespace

extern "C" {

TAMLORN_EXPORT const char* FileImportServers[] = {"ObjectInitWavefront", "ObjectInit3DS", "ObjectInitDXF", nullptr};
TAMLORN_EXPORT const char* FileExportServers[] = {"ObjectInitSaveWavefront", "ObjectInitSave3DS",
                                                  "ObjectInitSaveDXF", nullptr};

TAMLORN_EXPORT int32_t ObjectInitWavefront(HostCore* core, ServerRecord* record) {
    return InitServer<kImportOBJ>(core, record);
}
TAMLORN_EXPORT int32_t ObjectInit3DS(HostCore* core, ServerRecord* record) {
    return InitServer<kImport3DS>(core, record);
}
TAMLORN_EXPORT int32_t ObjectInitDXF(HostCore* core, ServerRecord* record) {
    return InitServer<kImportDXF>(core, record);
}
TAMLORN_EXPORT int32_t ObjectInitSaveWavefront(HostCore* core, ServerRecord* record) {
    return InitServer<kExportOBJ>(core, record);
}
TAMLORN_EXPORT int32_t ObjectInitSave3DS(HostCore* core, ServerRecord* record) {
    return InitServer<kExport3DS>(core, record);
}
TAMLORN_EXPORT int32_t ObjectInitSaveDXF(HostCore* core, ServerRecord* record) {
    return InitServer<kExportDXF>(core, record);
}

}  // extern "C"

#if defined(_WIN32)
#include <windows.h>

// The process-attach entry only switches off thread notifications.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
#endif
