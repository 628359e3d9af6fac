// The import driver: recognises the file by content, runs the matching reader
// into the scene, prepares the host object and runs the builder steps.
#include "scene/import_driver.h"

#include <algorithm>
#include <cstring>

#include "frame/file_open.h"
#include "frame/host_api.h"
#include "scene/scene.h"

namespace {

bool FileOpens(const char* path) {
    FILE* file = FileOpenToRead(path, "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// Reads up to `bytes` bytes of the file's head; the count read.
int32_t ReadHead(const char* path, uint8_t* buffer, uint32_t bytes) {
    FILE* file = FileOpenToRead(path, "rb");
    if (!file) return 0;
    const int32_t count = FileReadHead(file, buffer, bytes);
    std::fclose(file);
    return count;
}

// Sniffs in the pipeline's fixed order (3D Studio, OBJ, DXF); the first that
// accepts decides. The 3D Studio sniffer sees the 18-byte header sample with
// the count of the text sample, as the host's own detection does.
const ImportFormat* DetectFormat(const ImportPipeline& pipeline, const char* path) {
    uint8_t header[kHeaderSampleBytes] = {};
    uint8_t text[kTextSampleBytes + 1] = {};  // one more byte keeps the sample NUL-terminated
    ReadHead(path, header, kHeaderSampleBytes);
    const int32_t count = ReadHead(path, text, kTextSampleBytes);

    g_Scene.DetectedFormat = kFormatUnknown;
    for (int32_t i = 0; i < pipeline.formatCount; ++i) {
        const ImportFormat& format = *pipeline.formats[i];
        const uint8_t* sample = format.format == kFormat3DS ? header : text;
        if (format.sniff(count, sample)) {
            g_Scene.DetectedFormat = format.format;
            return &format;
        }
    }
    return nullptr;
}

// Copies a name into a kPathBufferBytes buffer, cut to fit.
void CopyName(char* dst, const char* src) {
    const size_t length = std::min(std::strlen(src), static_cast<size_t>(kPathBufferBytes - 1));
    std::memcpy(dst, src, length);
    dst[length] = 0;
}

bool GeometryIsEmpty(const HostGeometry* geometry) {
    return !geometry || (!geometry->points && !geometry->polygons && !geometry->surfaceList && !geometry->uvMaps);
}

enum Prepared { kPrepareFailed, kPrepareBuild, kPrepareNoObject };

// Gives the load its object: a new one, or the slot's with its geometry freed.
Prepared PrepareObject(HostObject** slot, uint32_t loadFlags, char* nameBuffer) {
    if (loadFlags & (kLoadNewObject | kLoadPointsOnly)) {
        if (!*slot) {
            g_HostApi.FX_ObjectAdd(slot, 0);
            return *slot ? kPrepareBuild : kPrepareFailed;
        }
        // An object already in the slot is built into only while its geometry is
        // empty: its points, polygons and surfaces are neither leaked nor overwritten.
        return GeometryIsEmpty((*slot)->geometry) ? kPrepareBuild : kPrepareFailed;
    }
    if (!(loadFlags & kLoadReplaceGeometry) || !*slot) return kPrepareNoObject;

    HostObject* object = *slot;
    if (object->name) CopyName(nameBuffer, object->name);
    g_HostApi.NotifyModes(0, object, 11, 0x80000000u);
    g_HostApi.NotifyObject(0, object, 11, 0x80000000u);
    if (object->block120) {
        HostFree(object->block120);
        object->block120 = nullptr;
    }
    if (loadFlags & kLoadKeepSurfaces) {
        g_HostApi.FX_FreeObjectGeometryOnlyKeepSurfaces(slot);
    } else {
        g_HostApi.FX_FreeObjectGeometryOnly(slot);
    }
    return kPrepareBuild;
}

// Runs the builder steps. A step that ran out of host memory fails the load:
// the geometry built so far is released with the host's own function, so no
// host block is left behind and the glue can discard a new object.
ImportResult BuildObject(const ImportBuilder& builder, HostObject** slot, uint32_t pointDataSize, uint32_t loadFlags) {
    HostObject* object = *slot;
    HostGeometry* geometry = object->geometry;
    geometry->pointCount = g_Scene.PointCount;
    bool outOfMemory = builder.buildPoints(g_Scene.PointCount, geometry, pointDataSize).outOfMemory;
    if (!(loadFlags & kLoadPointsOnly) && !outOfMemory) {
        const uint8_t format = g_Scene.DetectedFormat;
        outOfMemory = builder.buildPolygons(g_Scene.PolygonCount, g_Scene.LineCount, g_Scene.DotCount, object,
                                            &geometry->polygons, 0, 0, format, loadFlags).outOfMemory ||
                      builder.buildUVMaps(g_Scene.PolygonCount, g_Scene.LineCount, g_Scene.DotCount, object,
                                          &geometry->polygons, 0, 0, format).outOfMemory;
    }
    if (!outOfMemory) return kImportBuilt;
    if (loadFlags & kLoadKeepSurfaces) {
        g_HostApi.FX_FreeObjectGeometryOnlyKeepSurfaces(slot);
    } else {
        g_HostApi.FX_FreeObjectGeometryOnly(slot);
    }
    return kImportFailed;
}

ImportResult ReadAndBuild(const ImportPipeline& pipeline, HostObject** slot, const char* path, uint32_t pointDataSize,
                     uint32_t loadFlags, char* nameBuffer) {
    uint32_t size = 0;
    if (!FileSizeOf(path, &size)) return kImportFailed;
    const ImportFormat* format = DetectFormat(pipeline, path);
    if (g_Scene.BinaryDxfSeen || !format) {
        g_Scene.BinaryDxfSeen = false;
        return kImportFailed;
    }
    const int32_t read = format->read(path);
    DxfInputClose();  // a reader that stopped early may leave its input open
    if (!read) return kImportFailed;

    CopyName(nameBuffer, path);
    const Prepared prepared = PrepareObject(slot, loadFlags, nameBuffer);
    if (prepared != kPrepareBuild) return prepared == kPrepareNoObject ? kImportNoObject : kImportFailed;

    HostObject* object = *slot;
    if (!object->geometry) {
        object->geometry = static_cast<HostGeometry*>(HostAlloc(1, kHostGeometrySize));
        if (!object->geometry) {
            HostShowOutOfMemory();
            return kImportFailed;
        }
    }
    return BuildObject(pipeline.builder, slot, pointDataSize, loadFlags);
}

}  // namespace

int32_t FileReadHead(FILE* file, uint8_t* buffer, uint32_t bytes) {
    return static_cast<int32_t>(std::fread(buffer, 1, bytes, file));
}

ImportResult ImportDriver(const ImportPipeline& pipeline, HostObject** slot, const char* path, uint64_t, int32_t,
                     uint32_t pointDataSize, uint32_t loadFlags, char* nameBuffer) {
    SceneReset();
    // A path that does not fit the driver's copy is refused rather than cut to another file's name.
    if (std::strlen(path) >= static_cast<size_t>(kPathBufferBytes)) return kImportFailed;
    if (!FileOpens(path)) return kImportFailed;
    if (!SceneAllocateFirstChunks()) return kImportFailed;

    char pathCopy[kPathBufferBytes];
    CopyName(pathCopy, path);
    const ImportResult result = ReadAndBuild(pipeline, slot, pathCopy, pointDataSize, loadFlags, nameBuffer);
    SceneFree();
    return result;
}
