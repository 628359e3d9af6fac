// 3D Studio: sniffer and chunk reader.
#pragma once

#include <cstdint>

constexpr int32_t kSniff3DSMinBytes = 18;

// Chunk ids: every chunk starts with a u16 id and a u32 length that counts
// its 6 header bytes.
constexpr uint16_t kTdsMainChunk = 0x4D4D;
constexpr uint16_t kTdsEditorChunk = 0x3D3D;
constexpr uint16_t kTdsKeyframerChunk = 0xB000;
constexpr uint16_t kTdsNamedObjectChunk = 0x4000;
constexpr uint16_t kTdsMeshChunk = 0x4100;
constexpr uint16_t kTdsPointListChunk = 0x4110;
constexpr uint16_t kTdsFaceListChunk = 0x4120;
constexpr uint16_t kTdsFaceMaterialChunk = 0x4130;
constexpr uint16_t kTdsSmoothingChunk = 0x4150;
constexpr uint16_t kTdsMaterialChunk = 0xAFFF;
constexpr uint16_t kTdsMaterialNameChunk = 0xA000;
constexpr uint16_t kTdsDiffuseChunk = 0xA020;
constexpr uint16_t kTdsShininessChunk = 0xA040;
constexpr uint16_t kTdsShininessStrengthChunk = 0xA041;
constexpr uint16_t kTdsTransparencyChunk = 0xA050;
constexpr uint16_t kTdsShadingChunk = 0xA100;
constexpr uint16_t kTdsColour24Chunk = 0x0011;
constexpr uint16_t kTdsIntPercentChunk = 0x0030;
constexpr uint16_t kTdsFloatPercentChunk = 0x0031;

// The file held in memory and the read position, read front to back as a
// sequential file is. `pos` never passes `size`. Once a read comes up short
// (or a length cannot be followed) the walk has ended: `pos` stands at the
// end, `ended` is set and every later read comes up short too.
struct TdsFile {
    const uint8_t* bytes;
    uint32_t size;
    uint32_t pos;
    bool ended;
};

int32_t Sniff3DS(int32_t count, const uint8_t* head);
// 1 = the scene holds the file's geometry, 0 = failure.
int32_t Read3DS(const char* path);

// The reader's parts, each entered just after its chunk's header with the
// content length the header gives (length - 6). They read on from there with
// a byte counter of their own, so a careless length or count moves where the
// file is read next, as it would in a file. 1 = read (or the walk ended),
// 0 = the scene is full or out of memory.
int32_t Read3DSNamedObject(int32_t length, TdsFile& file);
int32_t Read3DSMesh(int32_t length, TdsFile& file, uint16_t objectSurface);
int32_t Read3DSMaterial(int32_t length, TdsFile& file);
// `slot` is the 0-based surface slot; -1 reads the colour without keeping it.
int32_t Read3DSColour(int32_t length, TdsFile& file, int32_t slot);
// The last percentage sub-chunk scaled to 0..255; 0 when there is none.
uint16_t Read3DSPercentage(int32_t length, TdsFile& file);
