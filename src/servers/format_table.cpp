#include "servers/format_table.h"

#include "builder/builder.h"
#include "formats/3ds/tds.h"
#include "formats/dxf/dxf.h"
#include "formats/obj/obj.h"
#include "scene/scene.h"

const FileFormat kFileFormats[kFileFormatCount] = {
    {"obj", "Wavefront Object", kTextSampleBytes, "ObjectLoadOBJ", "ObjectSaveOBJ", kFormatOBJExport,
     {kFormatOBJ, ObjSniff, ObjRead}},
    {"3ds", "3D Studio Object", kSniff3DSMinBytes, "ObjectLoad3DS", "ObjectSave3DS", kFormat3DS,
     {kFormat3DS, Sniff3DS, Read3DS}},
    {"dxf", "DXF Object", kTextSampleBytes, "ObjectLoadDXF", "ObjectSaveDXF", kFormatDXF,
     {kFormatDXF, DxfSniff, DxfReadFile}},
};

namespace {
const ImportFormat* const kDetectionOrder[] = {&kFileFormats[kFile3DS].import, &kFileFormats[kFileOBJ].import,
                                               &kFileFormats[kFileDXF].import};
}  // namespace

const ImportPipeline kImportPipeline = {kDetectionOrder, kFileFormatCount, {BuildPoints, BuildPolygons, BuildUVMaps}};
