// The export driver: copies a host object into the scene and hands it to the
// writer of the chosen format.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

constexpr int32_t kExportNameBytes = 512;  // the object name buffer, NUL included

// One writable format: its export format code (kFormat3DS, kFormatDXF or
// kFormatOBJExport) and its writer, which answers 1 when it wrote the file.
struct ExportFormat {
    uint8_t format;
    int32_t (*write)(HostObject* object, const char* path, const char* name);
};

// The writers, wired by the servers.
struct ExportPipeline {
    const ExportFormat* const* formats;
    int32_t formatCount;
};

// The writer's result (1 = file written), or 0. The host object is only read.
int32_t ExportDriver(const ExportPipeline& pipeline, HostObject* object, const char* path, uint32_t format,
                     uint32_t saveFlags);

// The scene from the host object (the driver's steps, for tests):
// non-zero on success, 0 when a record cannot be stored or the host's records are incomplete.
int32_t ExtractPoints(HostObject* object, uint32_t saveFlags);
int32_t ExtractSurfaces(HostObject* object);
int32_t ExtractPolygons(HostObject* object);
// The object name from the output path into `name` (kExportNameBytes): the
// file name without its known extensions. Answers 1.
int32_t ExportNameFromPath(const char* path, char* name);
