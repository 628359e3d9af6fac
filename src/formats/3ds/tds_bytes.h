// Little-endian numbers as 3D Studio files store them, read from bytes in memory.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t TdsU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t TdsU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline float TdsF32(const uint8_t* p) {
    const uint32_t bits = TdsU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
