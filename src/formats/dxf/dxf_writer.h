// DXF writer: the export scene (triangles, lines, dots) as ASCII DXF, one layer per surface.
#pragma once

#include <cstdint>

// 1 after the file has been written and closed, 0 when it cannot be created.
// The name is not used.
int32_t DxfWriteFile(const char* path, const char* name);
