// Loading an OBJ file into text blocks: large pieces read straight into the
// blocks, each extended to a line end so that no statement is split between
// two blocks, and sanitised to LF, printable ASCII and spaces.
#include <cassert>
#include <cstdio>
#include <cstring>

#include "formats/obj/obj_reader.h"
#include "frame/file_open.h"
#include "frame/module_heap.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

ObjBlockNote g_ObjBlockNotes[kMaxTextBlocks];

namespace {

// Reads on until the piece ends with `terminator`; the piece also ends at a
// space once more than kObjExtensionSplitAfter bytes were added (the next piece
// continues the line). Returns the bytes read from the file.
uint64_t ExtendPiece(FILE* file, uint8_t* block, int32_t* length, uint8_t terminator) {
    int32_t n = *length;
    uint64_t consumed = 0;
    int32_t appended = 0;
    while (block[n - 1] != terminator && !(appended > kObjExtensionSplitAfter && block[n - 1] == ' ')) {
        int c = std::fgetc(file);
        if (c == EOF) break;
        ++consumed;
        if (appended == kObjExtensionLimit - 1) {
            // A run this long without a space is cut: its bytes up to the next space or line end are dropped.
            while (c != EOF && c != terminator && c != ' ') {
                c = std::fgetc(file);
                consumed += c != EOF;
            }
            if (c == EOF) break;
        }
        block[n++] = static_cast<uint8_t>(c);
        ++appended;
    }
    *length = n;
    return consumed;
}

// Fills the current block with the next piece of the file; the bytes read
// from the file (0 at its end).
uint64_t LoadPiece(FILE* file) {
    uint8_t* block = g_Scene.TextBlockCursor;
    bool& hasBackslash = g_ObjBlockNotes[g_Scene.TextBlockLast].hasBackslash;
    hasBackslash = false;
    int32_t length = static_cast<int32_t>(std::fread(block, 1, kTextPieceBytes, file));
    if (length == 0) return 0;
    uint64_t consumed = static_cast<uint64_t>(length);
    if (g_Scene.DetectedFormat == kFormatOBJ) {
        const uint8_t terminator = g_Scene.LineEndStyle == kLineEndCR ? '\r' : '\n';
        consumed += ExtendPiece(file, block, &length, terminator);
    }
    const bool continues = block[length - 1] == ' ';
    TextSanitise(block, length, g_Scene.LineEndStyle);
    hasBackslash = continues || std::memchr(block, '\\', static_cast<size_t>(length));
    if (continues) {
        block[length] = '\\';
        block[length + 1] = '\n';
    }
    return consumed;
}

int32_t AddTextBlock() {
    if (g_Scene.TextBlockLast + 1 >= kMaxTextBlocks) return 0;
    auto* block = static_cast<uint8_t*>(ModuleAlloc(kTextBlockBytes));
    if (!block) return 0;
    ++g_Scene.TextBlockLast;
    g_Scene.TextBlocks[g_Scene.TextBlockLast] = block;
    g_Scene.TextBlockCursor = block;
    return 1;
}

}  // namespace

int32_t ObjLoadText(const char* path, uint32_t fileSize, uint32_t* loaded) {
    assert(g_Scene.TextBlocks[g_Scene.TextBlockLast] && g_Scene.TextBlockCursor == g_Scene.TextBlocks[g_Scene.TextBlockLast]);
    FILE* file = FileOpenToRead(path, "rb");
    if (!file) return 0;
    uint64_t total = 0;
    int32_t ok = 1;
    for (;;) {
        const uint64_t consumed = LoadPiece(file);
        total += consumed;
        if (consumed == 0 || total >= fileSize) break;
        if (!AddTextBlock()) {
            ok = 0;
            break;
        }
    }
    // A file longer than the size taken before (it grew, or its size does not
    // fit 32 bits) fails rather than being read in part.
    if (ok && std::fgetc(file) != EOF) ok = 0;
    std::fclose(file);
    *loaded = total < UINT32_MAX ? static_cast<uint32_t>(total) : UINT32_MAX;
    return ok;
}
