// The module's outward face: the two exported name arrays, the six init
// functions and the callbacks each init puts into its server record.
#include <cstdio>
#include <cstring>

#include "export/export_driver.h"
#include "frame/file_open.h"
#include "frame/host_api.h"
#include "scene/import_driver.h"
#include "servers/format_table.h"
#include "servers/load_glue.h"

namespace {

constexpr float kServerVersion = 1.0f;
constexpr int32_t kServerKind = 7;
constexpr uint32_t kImportServerFlags = 2;
constexpr uint32_t kExportServerFlags = 0x20000;
constexpr uint64_t kCheckBufferBytes = 1024;

// The six servers: three import servers, then three export servers, each
// serving the format of the same place in kFileFormats.
enum ServerIndex : int32_t { kImportOBJ, kImport3DS, kImportDXF, kExportOBJ, kExport3DS, kExportDXF, kServerCount };
constexpr bool IsImport(ServerIndex server) { return server < kExportOBJ; }
constexpr const FileFormat& FormatOf(ServerIndex server) { return kFileFormats[static_cast<int32_t>(server) % kFileFormatCount]; }

ServerRecord* g_records[kServerCount];

template <ServerIndex server>
int32_t ObjectCheck(const char* path) {
    const FileFormat& format = FormatOf(server);
    FILE* file = FileOpenToRead(path, "rb");
    if (!file) return 0;
    auto* buffer = static_cast<uint8_t*>(HostAlloc(kCheckBufferBytes, 1));
    if (!buffer) {
        std::fclose(file);
        HostShowOutOfMemory();
        return 0;
    }
    const int32_t count = FileReadHead(file, buffer, format.checkBytes);
    std::fclose(file);
    const int32_t accepted = format.import.sniff(count, buffer) ? 1 : 0;
    HostFree(buffer);
    return accepted;
}

// A load callback runs its own server's check first, inside the glue.
template <ServerIndex server>
int32_t ObjectLoad(HostObject** slot, const char* path, int32_t ignored1, uint32_t pointDataSize, uint32_t loadFlags,
                   uint64_t hostValue, int32_t, uint64_t) {
    return LoadGlue(slot, path, ignored1, pointDataSize, loadFlags, hostValue, ObjectCheck<server>);
}

template <ServerIndex server>
int32_t ObjectSave(HostObject* object, const char* path, uint32_t saveFlags) {
    return ExportDriver(kExportPipeline, object, path, FormatOf(server).save.format, saveFlags);
}

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

// One lookup callback per server: the server's own callback for its exact name.
template <ServerIndex server>
void* LookupName(const char* name) {
    const FileFormat& format = FormatOf(server);
    if constexpr (IsImport(server)) {
        return std::strcmp(name, format.loadName) == 0 ? reinterpret_cast<void*>(ObjectLoad<server>) : nullptr;
    } else {
        return std::strcmp(name, format.saveName) == 0 ? reinterpret_cast<void*>(ObjectSave<server>) : nullptr;
    }
}

// The steps every init shares: bind the host, fill the record, register the extension.
template <ServerIndex server>
int32_t InitServer(HostCore* core, ServerRecord* record) {
    const FileFormat& format = FormatOf(server);
    g_records[server] = record;
    HostApiBind(core);
    g_HostApi.RemoveFileExtensions = reinterpret_cast<RemoveFileExtensionsFn>(core->lookup("RemoveFileExtensions"));
    g_HostApi.AddFileExtension = reinterpret_cast<AddFileExtensionFn>(core->lookup("AddFileExtension"));
    g_NamingPrefs = record->namingPrefs;

    record->version = kServerVersion;
    record->kind = kServerKind;
    record->flags = IsImport(server) ? kImportServerFlags : kExportServerFlags;
    if constexpr (IsImport(server)) {
        record->check = ObjectCheck<server>;
        record->load = ObjectLoad<server>;
        record->free = ObjectFreeSurfaces;
    } else {
        record->save = ObjectSave<server>;
    }
    record->unregister = Unregister<server>;
    record->lookup = LookupName<server>;

    g_HostApi.AddFileExtension(record, format.extension, format.description);
    return std::snprintf(record->description, sizeof record->description, "%s", format.description);
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
