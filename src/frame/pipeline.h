// The import pipeline as the module wires it: the formats in detection order
// (3D Studio, OBJ, DXF) and the builder steps.
#pragma once

#include "scene/import_driver.h"

extern const ImportPipeline kImportPipeline;
