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

// A bounded view of the file held in memory: a part reads bytes pos..end-1 only.
struct TdsCursor {
    const uint8_t* bytes;
    uint32_t pos;
    uint32_t end;
};

int32_t Sniff3DS(int32_t count, const uint8_t* head);
// 1 = the scene holds the file's geometry, 0 = failure.
int32_t Read3DS(const char* path);

// The reader's parts, each given the content of its chunk (the bytes after
// the 6-byte header, cut at the enclosing chunk's end). 1 = read, 0 = the scene
// is full or out of memory.
int32_t Read3DSNamedObject(TdsCursor object);
int32_t Read3DSMesh(TdsCursor mesh, uint16_t objectSurface);
int32_t Read3DSMaterial(TdsCursor material);
int32_t Read3DSColour(TdsCursor colour, int32_t slot);
// The last percentage sub-chunk scaled to 0..255; 0 when there is none.
uint16_t Read3DSPercentage(TdsCursor percentage);
