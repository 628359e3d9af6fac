// 3D Studio: sniffer and chunk reader.
#pragma once

#include <cstdint>

constexpr int32_t kSniff3DSMinBytes = 18;

int32_t Sniff3DS(int32_t count, const uint8_t* head);
int32_t Read3DS(const char* path);
