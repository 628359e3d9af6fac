#include "formats/dxf/dxf_writer.h"

#include "scene/output_file.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kCountWidth = 6;  // counts are printed with "%6d"
constexpr int32_t kLayerColour = 0;

// The group code lines of the corners 1 to 4 (codes 10 to 13, 20 to 23, 30 to 33), "%3d" wide.
constexpr const char* kCornerCodes[4][3] = {
    {" 10\n", " 20\n", " 30\n"}, {" 11\n", " 21\n", " 31\n"}, {" 12\n", " 22\n", " 32\n"}, {" 13\n", " 23\n", " 33\n"}};

void OutputLine(const char* text) {
    OutputText(text);
    OutputText("\n");
}

void OutputCount(int32_t value) {
    OutputInt(value, kCountWidth);
    OutputText("\n");
}

// Scene point (x, y, z) as DXF corner (x, z, y).
void OutputCorner(int32_t corner, uint32_t point) {
    const float* p = ScenePointAt(static_cast<int32_t>(point));
    const float values[3] = {p[0], p[2], p[1]};
    for (int32_t axis = 0; axis < 3; ++axis) {
        OutputText(kCornerCodes[corner][axis]);
        OutputFixed(values[axis]);
        OutputText("\n");
    }
}

void OutputEntityStart(const char* kind, uint32_t surface) {
    OutputText("  0\n");
    OutputLine(kind);
    OutputText("  8\n");
    OutputLine(SceneSurfaceName(surface));
}

void OutputTables() {
    OutputText("  0\nSECTION\n  2\nHEADER\n  0\nENDSEC\n");
    OutputText("  0\nSECTION\n  2\nTABLES\n  0\nTABLE\n  2\nLAYER\n 70\n");
    OutputCount(g_Scene.SurfaceCount);
    for (int32_t i = 0; i < g_Scene.SurfaceCount; ++i) {
        OutputText("  0\nLAYER\n  2\n");
        OutputLine(g_Scene.SurfaceNames[i]);
        OutputText(" 70\n    64\n 62\n");
        OutputCount(kLayerColour);
        OutputText("  6\nCONTINUOUS\n");
    }
    OutputText("  0\nENDTAB\n  0\nENDSEC\n");
    OutputText("  0\nSECTION\n  2\nBLOCKS\n  0\nENDSEC\n");
}

void OutputEntities() {
    OutputText("  0\nSECTION\n  2\nENTITIES\n");
    SceneForEachRecord(g_Scene.PolygonStream, g_Scene.PolygonCount, [](int32_t, const uint32_t* p, uint32_t surface) {
        OutputEntityStart("3DFACE", surface);
        const uint32_t corners[4] = {p[0], p[1], p[2], p[2]};
        for (int32_t k = 0; k < 4; ++k) OutputCorner(k, corners[k]);
    });
    SceneForEachRecord(g_Scene.LineStream, g_Scene.LineCount, [](int32_t, const uint32_t* p, uint32_t surface) {
        OutputEntityStart("LINE", surface);
        OutputCorner(0, p[0]);
        OutputCorner(1, p[1]);
    });
    SceneForEachRecord(g_Scene.DotStream, g_Scene.DotCount, [](int32_t, const uint32_t* p, uint32_t surface) {
        OutputEntityStart("POINT", surface);
        OutputCorner(0, p[0]);
    });
    OutputText("  0\nENDSEC\n  0\nEOF\n");
}

}  // namespace

int32_t DxfWriteFile(const char* path, const char*) {
    SceneEnsureSurface();
    SceneBlanksToUnderscores();
    // Text mode: each line ends as the platform's text files do (LF here, CR LF on Windows).
    if (!OutputOpen(path, "w")) return 0;
    OutputTables();
    OutputEntities();
    OutputClose();
    return 1;
}
