#include "scene/output_file.h"

#include "frame/file_open.h"
#include "frame/stream_position.h"

OutputFile g_Output;

int32_t OutputOpen(const char* path, const char* mode) {
    g_Output.file = FileOpenToWrite(path, mode);
    g_Output.flushed = 0;
    g_Output.used = 0;
    return g_Output.file != nullptr;
}

void OutputFlush() {
    std::fwrite(g_Output.buffer, 1, static_cast<size_t>(g_Output.used), g_Output.file);
    g_Output.flushed += g_Output.used;
    g_Output.used = 0;
}

void OutputClose() {
    OutputFlush();
    std::fclose(g_Output.file);
    g_Output.file = nullptr;
}

void OutputBytes(const void* bytes, size_t count) {
    if (count > static_cast<size_t>(kOutputBufferBytes - g_Output.used)) {
        OutputFlush();
        if (count > static_cast<size_t>(kOutputBufferBytes)) {
            std::fwrite(bytes, 1, count, g_Output.file);
            g_Output.flushed += static_cast<int64_t>(count);
            return;
        }
    }
    std::memcpy(g_Output.buffer + g_Output.used, bytes, count);
    g_Output.used += static_cast<int32_t>(count);
}

void OutputPatch(int64_t position, const void* bytes, size_t count) {
    const int64_t inBuffer = position - g_Output.flushed;
    if (inBuffer >= 0) {
        std::memcpy(g_Output.buffer + inBuffer, bytes, count);
        return;
    }
    // Already in the file: go back, write, and return to the end.
    OutputFlush();
    StreamSeek(g_Output.file, position, SEEK_SET);
    std::fwrite(bytes, 1, count, g_Output.file);
    StreamSeek(g_Output.file, 0, SEEK_END);
}
