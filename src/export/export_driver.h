// The export driver: copies a host object into the scene and hands it to the
// writer of the chosen format.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

// The writer's result (1 = file written), or 0. `format`: kFormat3DS,
// kFormatDXF or kFormatOBJExport.
int32_t ExportDriver(HostObject* object, const char* path, uint32_t format, uint32_t saveFlags);
