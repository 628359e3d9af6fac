// Wavefront OBJ writer: the export scene as OBJ text, one group, a material
// switch wherever the surface changes, texture coordinates from the object's
// first UV map.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

// 1 when the file was written, 0 when it cannot be created.
int32_t ObjWrite(HostObject* object, const char* path, const char* groupName);
