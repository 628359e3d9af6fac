#include "servers/format_table.h"

#include "builder/builder.h"
#include "formats/3ds/tds.h"
#include "formats/3ds/tds_writer.h"
#include "formats/dxf/dxf.h"
#include "formats/dxf/dxf_writer.h"
#include "formats/obj/obj.h"
#include "formats/obj/obj_writer.h"
#include "scene/scene.h"

namespace {
// The writers that do not use the object take the driver's arguments all the same.
int32_t Write3DSObject(HostObject*, const char* path, const char* name) { return Write3DS(path, name); }
int32_t DxfWriteObject(HostObject*, const char* path, const char* name) { return DxfWriteFile(path, name); }
}  // namespace

const FileFormat kFileFormats[kFileFormatCount] = {
    {"obj", "Wavefront Object", kTextSampleBytes, "ObjectLoadOBJ", "ObjectSaveOBJ",
     {kFormatOBJ, ObjSniff, ObjRead}, {kFormatOBJExport, ObjWrite}},
    {"3ds", "3D Studio Object", kSniff3DSMinBytes, "ObjectLoad3DS", "ObjectSave3DS",
     {kFormat3DS, Sniff3DS, Read3DS}, {kFormat3DS, Write3DSObject}},
    {"dxf", "DXF Object", kTextSampleBytes, "ObjectLoadDXF", "ObjectSaveDXF",
     {kFormatDXF, DxfSniff, DxfReadFile}, {kFormatDXF, DxfWriteObject}},
};

namespace {
const ImportFormat* const kDetectionOrder[] = {&kFileFormats[kFile3DS].import, &kFileFormats[kFileOBJ].import,
                                               &kFileFormats[kFileDXF].import};
}  // namespace

const ImportPipeline kImportPipeline = {kDetectionOrder, kFileFormatCount, {BuildPoints, BuildPolygons, BuildUVMaps}};

namespace {
const ExportFormat* const kWriters[] = {&kFileFormats[kFileOBJ].save, &kFileFormats[kFile3DS].save,
                                       &kFileFormats[kFileDXF].save};
}  // namespace

const ExportPipeline kExportPipeline = {kWriters, kFileFormatCount};
