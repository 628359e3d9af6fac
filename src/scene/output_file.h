// The writers' output file: bytes, text and numbers gathered in one large
// module-level buffer and handed to the file in big blocks, with the lengths
// of binary formats patched in afterwards. One file is open at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "scene/number_format.h"

constexpr int32_t kOutputBufferBytes = 1 << 18;

struct OutputFile {
    FILE* file;
    int64_t flushed;  // bytes handed to the file so far
    int32_t used;     // bytes waiting in `buffer`
    char buffer[kOutputBufferBytes];
};

extern OutputFile g_Output;

// Creates the file with the fopen `mode` ("wb", or "w" where the platform's
// text line ends are wanted): 1, or 0 when it cannot be created (also when
// the path names a FIFO, a directory or a device).
int32_t OutputOpen(const char* path, const char* mode);
// Hands the buffer to the file and closes it. Write errors are not looked at.
void OutputClose();
void OutputFlush();

inline void OutputMakeRoom(int32_t bytes) {
    if (g_Output.used + bytes > kOutputBufferBytes) OutputFlush();
}

void OutputBytes(const void* bytes, size_t count);
inline void OutputText(const char* text) { OutputBytes(text, std::strlen(text)); }

inline void OutputFixed(double value) {
    OutputMakeRoom(kFixedTextBytes);
    g_Output.used += FormatFixed6(value, g_Output.buffer + g_Output.used);
}

inline void OutputInt(int64_t value, int32_t width = 0) {
    OutputMakeRoom(kIntTextBytes);
    g_Output.used += FormatInt(value, width, g_Output.buffer + g_Output.used);
}

// The position the next byte will have in the file.
inline int64_t OutputPosition() { return g_Output.flushed + g_Output.used; }
// Overwrites `count` bytes at `position`, written earlier by one OutputBytes call.
void OutputPatch(int64_t position, const void* bytes, size_t count);
