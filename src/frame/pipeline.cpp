#include "frame/pipeline.h"

#include "build/build.h"
#include "formats/3ds/tds.h"
#include "formats/dxf/dxf.h"
#include "formats/obj/obj.h"
#include "scene/scene.h"

namespace {
const ImportFormat kFormats[] = {
    {kFormat3DS, Sniff3DS, Read3DS},
    {kFormatOBJ, ObjSniff, ObjRead},
    {kFormatDXF, DxfSniff, DxfReadFile},
};
}  // namespace

const ImportPipeline kImportPipeline = {kFormats, 3, {BuildPoints, BuildPolygons, BuildUVMaps}};
