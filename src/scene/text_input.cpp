// The text input shared by the OBJ and DXF readers: the file size, the DXF
// input file with its block loader, and the line routines that walk a block.
#include <cassert>
#include <cstring>

#include "frame/file_open.h"
#include "frame/stream_position.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

constexpr uint8_t kLF = '\n';
constexpr uint8_t kCR = '\r';
// A completed line must leave room for its LF and the block's terminating NUL.
constexpr int32_t kBlockTextLimit = kTextBlockBytes - 2;

constexpr int32_t kSanitiseRun = 64;  // bytes per run of a fixed count, which compilers vectorise

// Branch-free so that the fixed-count runs become vector code.
void SanitiseBytes(uint8_t* text, int32_t length, uint8_t crReplacement) {
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        const bool keep = static_cast<uint8_t>(c - 0x20) <= 0x7E - 0x20 || c == kLF;
        const uint8_t kept = keep ? c : ' ';
        text[i] = c == kCR ? crReplacement : kept;
    }
}

// Reads bytes until the piece ends with `terminator`. A line that would run
// past the block is cut: the rest of it is read and dropped, so that the next
// block starts on a new line and the blocks stay NUL-terminated.
int32_t CompleteLine(uint8_t* block, int32_t n, uint8_t terminator) {
    FILE* file = g_Scene.DxfInputFile;
    while (block[n - 1] != terminator) {
        const int c = std::fgetc(file);
        if (c == EOF) break;
        if (n < kBlockTextLimit) {
            block[n++] = static_cast<uint8_t>(c);
        } else if (c == terminator) {
            block[n++] = terminator;
        }
    }
    return n;
}

}  // namespace

int32_t FileSizeOf(const char* path, uint32_t* size) {
    FILE* file = FileOpenToRead(path, "r");
    if (!file) return 0;
    const int64_t end = StreamSeek(file, 0, SEEK_END) == 0 ? StreamTell(file) : -1;
    std::fclose(file);
    // Files of 4 GiB and more do not fit the 32-bit size; they are refused
    // rather than read with a wrapped size.
    *size = (end > 0 && end <= int64_t{UINT32_MAX}) ? static_cast<uint32_t>(end) : 0;
    return *size != 0;
}

int32_t DxfInputOpen(const char* path) {
    g_Scene.DxfInputFile = FileOpenToRead(path, "rb");
    return g_Scene.DxfInputFile != nullptr;
}

void DxfInputClose() {
    if (g_Scene.DxfInputFile) std::fclose(g_Scene.DxfInputFile);
    g_Scene.DxfInputFile = nullptr;
}

int32_t TextBlockLoad() {
    uint8_t* block = g_Scene.TextBlocks[g_Scene.TextBlockIndex];
    g_Scene.TextBlockCursor = block;
    auto n = static_cast<int32_t>(std::fread(block, 1, kTextPieceBytes, g_Scene.DxfInputFile));
    if (n > 0) {
        n = CompleteLine(block, n, g_Scene.LineEndStyle == kLineEndCR ? kCR : kLF);
        TextSanitise(block, n, g_Scene.LineEndStyle);
    }
    std::memset(block + n, 0, static_cast<size_t>(kTextBlockBytes - n));
    return n > 0;
}

void TextSanitise(uint8_t* text, int32_t length, int32_t lineEndStyle) {
    // With CR line ends every CR becomes the LF that ends its line; a last
    // line without its CR keeps all of its characters.
    const uint8_t crReplacement = lineEndStyle == kLineEndCR ? kLF : ' ';
    int32_t i = 0;
    for (; i + kSanitiseRun <= length; i += kSanitiseRun) SanitiseBytes(text + i, kSanitiseRun, crReplacement);
    SanitiseBytes(text + i, length - i, crReplacement);
}

const char* TextNextLine(const char* p) {
    p = TextLineEnd(p);
    if (*p != kLF) return nullptr;
    ++p;
    if (*p == 0) return nullptr;
    if (g_Scene.DetectedFormat == kFormatDXF) return p;
    while (*p == kLF) ++p;
    return *p == 0 ? nullptr : p;
}

void TextCopyLine(const char* src, char* dst, int32_t dstBytes) {
    assert(dstBytes > 0);
    const char* end = std::strchr(src, kLF);
    if (!end) {
        dst[0] = 0;  // the last line of a text without a final LF reads as empty
        return;
    }
    // A line longer than the destination is cut to fit it.
    size_t length = static_cast<size_t>(end - src);
    if (length > static_cast<size_t>(dstBytes - 1)) length = static_cast<size_t>(dstBytes - 1);
    std::memcpy(dst, src, length);
    dst[length] = 0;
}
