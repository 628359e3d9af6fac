// ASCII DXF: sniffer and reader. Binary DXF is recognised and refused.
#pragma once

#include <cstdint>

int32_t DxfSniff(int32_t count, const uint8_t* head);
int32_t DxfReadFile(const char* path);
