// The one table of the three file formats: what each server registers with the
// host and what the import pipeline runs for it.
#pragma once

#include <cstdint>

#include "export/export_driver.h"
#include "scene/import_driver.h"

struct FileFormat {
    const char* extension;    // registered with the host, e.g. "obj"
    const char* description;  // "Wavefront Object"
    uint32_t checkBytes;      // bytes of the file's head the check callback reads
    const char* loadName;     // the name-lookup names of the load and save callbacks
    const char* saveName;
    ImportFormat import;      // detection code, sniffer and reader
    ExportFormat save;        // export format code and writer
};

// In server order: OBJ, 3D Studio, DXF.
enum FileFormatIndex : int32_t { kFileOBJ, kFile3DS, kFileDXF, kFileFormatCount };
extern const FileFormat kFileFormats[kFileFormatCount];

// The formats in detection order (3D Studio, OBJ, DXF) and the builder steps.
extern const ImportPipeline kImportPipeline;
// The writers, by export format code.
extern const ExportPipeline kExportPipeline;
