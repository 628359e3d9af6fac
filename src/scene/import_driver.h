// The import driver: the single path from a file to a host object, and the
// text-input routines shared by the OBJ and DXF readers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "frame/host_interface.h"

constexpr int32_t kPathBufferBytes = 1024;  // the driver's path copy and name buffer
constexpr int32_t kTextSampleBytes = 1000;  // bytes the sniffers see
constexpr int32_t kHeaderSampleBytes = 18;  // the 3D Studio header sample

// One readable format: its sniffer (byte count, sample) and its reader (path).
struct ImportFormat {
    uint8_t format;  // kFormat3DS, kFormatOBJ or kFormatDXF
    int32_t (*sniff)(int32_t count, const uint8_t* sample);
    int32_t (*read)(const char* path);
};

// What a builder step answers: the number of records it made (0 when there
// was nothing to make, or when it stopped), and whether it stopped because
// host memory ran out; the out-of-memory message has been shown then, and what
// was made stays attached to the geometry with counts that match.
struct BuildResult {
    int32_t made;
    bool outOfMemory;
};

// The builder steps the driver runs once the reader has filled the scene.
struct ImportBuilder {
    BuildResult (*buildPoints)(int32_t count, HostGeometry* geometry, uint32_t pointDataSize);
    BuildResult (*buildPolygons)(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                             HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra,
                             uint8_t format, uint32_t loadFlags);
    BuildResult (*buildUVMaps)(int32_t polygons, int32_t lines, int32_t dots, HostObject* object,
                           HostPolygon*** polygonsField, int32_t polygonExtra, int32_t cornerExtra,
                           uint8_t format);
};

// The formats in detection order and the builder, wired by the servers.
struct ImportPipeline {
    const ImportFormat* const* formats;
    int32_t formatCount;
    ImportBuilder builder;
};

// What the import driver answers.
enum ImportResult : int32_t {
    kImportFailed = 0,
    kImportBuilt = 1,     // the object in the slot holds the file's geometry
    kImportNoObject = 2,  // the file was read and validated, but no load flag asked for an object: the slot is as it was
};

// `nameBuffer` holds kPathBufferBytes bytes.
ImportResult ImportDriver(const ImportPipeline& pipeline, HostObject** slot, const char* path, uint64_t hostValue,
                          int32_t ignored, uint32_t pointDataSize, uint32_t loadFlags, char* nameBuffer);

// Reads up to `bytes` bytes from the start of the open `file`; the count read.
int32_t FileReadHead(FILE* file, uint8_t* buffer, uint32_t bytes);

// 1 when the file opens and its size is not 0.
int32_t FileSizeOf(const char* path, uint32_t* size);

int32_t DxfInputOpen(const char* path);
void DxfInputClose();
// Fills TextBlocks[TextBlockIndex] from DxfInputFile: 1 when data was read.
int32_t TextBlockLoad();
// Makes a loaded piece plain text: a CR becomes the LF that ends its line when
// `lineEndStyle` is kLineEndCR, else a space; every other byte that is neither
// LF nor printable ASCII (0x20..0x7E) becomes a space.
void TextSanitise(uint8_t* text, int32_t length, int32_t lineEndStyle);
// The end of the line at `p`: its LF, or the NUL that ends the block's text.
inline const char* TextLineEnd(const char* p) {
    while (*p != '\n' && *p != '\0') ++p;
    return p;
}
// The next line start after `p` in the same block, or null at the end of its text.
const char* TextNextLine(const char* p);
// Copies the line at `src` (up to its LF) into `dst` of `dstBytes` bytes.
void TextCopyLine(const char* src, char* dst, int32_t dstBytes);
