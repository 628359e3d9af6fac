// Wavefront OBJ: sniffer and two-pass reader.
#pragma once

#include <cstdint>

int32_t ObjSniff(int32_t count, const uint8_t* head);
int32_t ObjRead(const char* path);
