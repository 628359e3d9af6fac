// The DXF reader's own parts: the group-pair cursor over the double-buffered
// text blocks, value conversion, and the entity and polyline readers.
#pragma once

#include <cstdint>
#include <initializer_list>

constexpr int32_t kDxfLineBytes = 512;      // a code or value line, NUL included
constexpr int32_t kDxfBlockSlack = 8;       // zero bytes past each text block: a word read at its NUL stays inside
constexpr int32_t kDxfCircleSegments = 12;  // points in a circle or arc ring
constexpr int32_t kDxfPoleListPoints = 4000;  // border points kept per pole list

// Results of the group readers.
constexpr int32_t kDxfEndOfDrawing = 0;   // DxfReadValue met (0, "EOF")
constexpr int32_t kDxfRead = 1;
constexpr int32_t kDxfReadError = 5;      // DxfReadCode: no code line
constexpr int32_t kDxfSectionError = 10;  // a read error inside a section
constexpr int32_t kDxfSceneFailure = 0;   // the scene refused a point or element
constexpr int32_t kDxfEntityGroup = 1;    // DxfReadEntityGroup: a group of the entity
constexpr int32_t kDxfNextEntity = 2;     // DxfReadEntityGroup: a code-0 group, now current

// Every line is scanned once, as it is read: its end tells where the next
// line starts.
struct DxfCursor {
    const char* line;  // the line read next
    char value[kDxfLineBytes];
    int32_t valueLength;
    int32_t code;
};

// The value of a group as the readers are handed it: NUL-terminated, with its length.
struct DxfValue {
    const char* text;
    int32_t length;
};

// The current group is (code, text), the value compared exactly.
bool DxfIsGroup(const DxfCursor& cursor, int32_t code, const char* text);

int32_t DxfReadCode(DxfCursor& cursor);
int32_t DxfReadValue(DxfCursor& cursor);
// DxfReadCode and DxfReadValue of one group: kDxfEntityGroup, kDxfNextEntity
// or kDxfSectionError.
int32_t DxfReadEntityGroup(DxfCursor& cursor);

// Reads the groups of the entity whose code-0 group is current, handing each
// (code, DxfValue) to `take`, up to the next code-0 group, which is then current.
// 1, or kDxfSectionError.
template <typename Take>
int32_t DxfReadGroups(DxfCursor& cursor, Take&& take) {
    int32_t result = kDxfEntityGroup;
    while ((result = DxfReadEntityGroup(cursor)) == kDxfEntityGroup)
        take(cursor.code, DxfValue{cursor.value, cursor.valueLength});
    return result == kDxfNextEntity ? kDxfRead : result;
}

inline int32_t DxfSkipToNextEntity(DxfCursor& cursor) {
    return DxfReadGroups(cursor, [](int32_t, DxfValue) {});
}

int32_t DxfSkipSection(DxfCursor& cursor);
int32_t DxfHasEofMarker(const char* path);

// The whole value line is the number token: its value as strtod reads it in
// the "C" locale (TextNumberRead), as a 32-bit float; no number reads as 0.
float DxfValueFloat(DxfValue value);
float DxfValueFloat(const char* text);
// Out-of-range integers saturate at the i32 limits.
int32_t DxfValueInt(const char* text);

// ---- Entity reading ----------------------------------------------------------------

struct DxfPoleList {
    float (*points)[3];  // kDxfPoleListPoints entries
    int32_t count;
};

// The reading state of one "BLOCKS" or "ENTITIES" section.
struct DxfSection {
    DxfCursor* cursor;
    char layer[kDxfLineBytes];        // the last layer name read in this section
    char surfaceLayer[kDxfLineBytes];  // the layer whose surface is `surface`
    char lookupName[kDxfLineBytes];    // the copy SceneFindOrAddSurface may rewrite
    bool surfaceKnown;
    uint16_t surfaceSlotCount;  // SurfaceSlotCount when `surface` was looked up
    uint16_t surface;
    int32_t vertexKind;  // carries over between vertices and polylines
    DxfPoleList poles[2];
};

int32_t DxfReadEntities(DxfCursor& cursor);
void DxfTakeLayer(DxfSection& section, DxfValue value);
// The surface of the section's current layer.
uint16_t DxfLayerSurface(DxfSection& section);
// Appends the DXF point (x, y, z) as the scene point (x, z, y).
bool DxfAddPoint(const float xyz[3]);
// One element over the first n entries of FaceIndexScratch.
bool DxfAddStagedElement(int32_t n, uint16_t surface);
bool DxfAddElement(uint16_t surface, std::initializer_list<uint32_t> corners);
// Entered at (0, "POLYLINE"); 1, kDxfSectionError or kDxfSceneFailure.
int32_t DxfReadPolyline(DxfSection& section);
