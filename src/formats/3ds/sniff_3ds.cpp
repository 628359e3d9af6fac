#include <cstring>

#include "formats/3ds/tds.h"

namespace {
constexpr uint16_t kMainChunkId = 0x4D4D;
constexpr uint16_t kEditorChunkId = 0x3D3D;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

// A 3D Studio file starts with the main chunk, and the editor section follows
// the 10-byte version chunk at offset 16.
int32_t Sniff3DS(int32_t count, const uint8_t* head) {
    return count >= kSniff3DSMinBytes && ReadU16(head) == kMainChunkId && ReadU16(head + 16) == kEditorChunkId;
}
