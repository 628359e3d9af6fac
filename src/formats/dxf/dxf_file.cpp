// Reading a DXF file: the two text blocks, the walk over its sections, and
// the finish (validation, welding, surface compaction).
#include <cstring>

#include "builder/builder.h"
#include "formats/dxf/dxf.h"
#include "formats/dxf/dxf_internal.h"
#include "frame/module_heap.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kDxfTextBlocks = 2;

bool AllocateTextBlocks() {
    g_Scene.TextBlockIndex = 0;
    g_Scene.TextBlockLast = 0;
    for (int32_t k = 0; k < kDxfTextBlocks; ++k) {
        g_Scene.TextBlocks[k] = static_cast<uint8_t*>(ModuleAlloc(kTextBlockBytes + kDxfBlockSlack));
        if (!g_Scene.TextBlocks[k]) return false;
        g_Scene.TextBlocksOwned = true;
        g_Scene.TextBlockLast = k;
    }
    g_Scene.TextBlockCursor = g_Scene.TextBlocks[0];
    return true;
}

// The current group names a section (or, when its code is not 2, does not):
// entities of "BLOCKS" and "ENTITIES" are read, everything up to "ENDSEC" is
// passed over.
bool ReadSection(DxfCursor& cursor) {
    const bool withEntities = cursor.code == 2 &&
                              (std::strcmp(cursor.value, "BLOCKS") == 0 || std::strcmp(cursor.value, "ENTITIES") == 0);
    if (withEntities && DxfReadEntities(cursor) != kDxfOk) return false;
    return DxfSkipSection(cursor) == kDxfOk;
}

// True at the end of the drawing, false on a read error or a scene failure.
bool WalkSections(DxfCursor& cursor) {
    for (;;) {  // the walk ends at "EOF" or an error: past the end of the file every line reads as empty
        if (DxfReadCode(cursor) != kDxfOk) return false;
        const int32_t code = cursor.code;
        if (DxfReadValue(cursor) == kDxfEndOfDrawing) return true;
        if (code != 0 || std::strcmp(cursor.value, "SECTION") != 0) continue;
        if (DxfReadCode(cursor) != kDxfOk) return false;
        DxfReadValue(cursor);
        if (!ReadSection(cursor)) return false;
    }
}

// Opens the file into the first block: false when it is empty, has no "EOF"
// near its end, cannot be opened or yields no data.
bool OpenInput(const char* path) {
    uint32_t size = 0;
    if (!FileSizeOf(path, &size) || size == 0 || !DxfHasEofMarker(path) || !DxfInputOpen(path)) return false;
    if (TextBlockLoad()) return true;
    DxfInputClose();
    return false;
}

int32_t FinishScene() {
    SceneFreeTextBlocks();
    DxfInputClose();
    if (g_Scene.PointCount < 1 || !SceneValidate()) return 0;
    WeldPoints();  // without its work storage the scene stays unwelded, which is still correct
    SceneCompactSurfaces();
    return 1;
}

}  // namespace

int32_t DxfReadFile(const char* path) {
    if (!AllocateTextBlocks() || !OpenInput(path)) return 0;
    DxfCursor cursor{};
    cursor.line = reinterpret_cast<const char*>(g_Scene.TextBlocks[0]);
    // A first block of one line holds no group pair: nothing is read.
    if (TextNextLine(cursor.line) && !WalkSections(cursor)) {
        DxfInputClose();
        return 0;
    }
    return FinishScene();
}
