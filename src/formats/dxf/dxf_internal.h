// The DXF reader's own parts: the group-pair cursor over the double-buffered
// text blocks, value conversion, and the entity and polyline readers.
#pragma once

#include <cstdint>
#include <initializer_list>

constexpr int32_t kDxfLineBytes = 512;      // a code or value line, NUL included
constexpr int32_t kDxfBlockSlack = 8;       // zero bytes past each text block: a word read at its NUL stays inside
constexpr int32_t kDxfCircleSegments = 12;  // points in a circle or arc ring
constexpr int32_t kDxfPoleListPoints = 4000;  // border points kept per pole list

// What the group, section and entity readers answer. The two read-error
// codes are the reader's own; DxfReadFile answers only 1 or 0.
enum DxfResult : int32_t {
    kDxfSceneFailure = 0,   // the scene refused a point or element, or a work list could not be had
    kDxfOk = 1,
    kDxfReadError = 5,      // DxfReadCode: no code line
    kDxfSectionError = 10,  // a read error inside a section
};
// What DxfReadValue answers.
enum DxfValueRead : int32_t {
    kDxfEndOfDrawing = 0,  // the group (0, "EOF"): the cursor stays on it
    kDxfValueRead = 1,
};
// What DxfReadEntityGroup answers.
enum DxfGroupRead : int32_t {
    kDxfGroupOfEntity,    // a group of the entity being read
    kDxfGroupNextEntity,  // a code-0 group, now current
    kDxfGroupError,       // a read error
};

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

// kDxfOk or kDxfReadError.
DxfResult DxfReadCode(DxfCursor& cursor);
DxfValueRead DxfReadValue(DxfCursor& cursor);
// DxfReadCode and DxfReadValue of one group.
DxfGroupRead DxfReadEntityGroup(DxfCursor& cursor);

// Reads the groups of the entity whose code-0 group is current, handing each
// (code, DxfValue) to `take`, up to the next code-0 group, which is then current.
// kDxfOk or kDxfSectionError.
template <typename Take>
DxfResult DxfReadGroups(DxfCursor& cursor, Take&& take) {
    DxfGroupRead read;
    while ((read = DxfReadEntityGroup(cursor)) == kDxfGroupOfEntity)
        take(cursor.code, DxfValue{cursor.value, cursor.valueLength});
    return read == kDxfGroupNextEntity ? kDxfOk : kDxfSectionError;
}

inline DxfResult DxfSkipToNextEntity(DxfCursor& cursor) {
    return DxfReadGroups(cursor, [](int32_t, DxfValue) {});
}

// kDxfOk at (0, "ENDSEC"), or kDxfSectionError.
DxfResult DxfSkipSection(DxfCursor& cursor);
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

// kDxfOk at (0, "ENDSEC"), kDxfSectionError or kDxfSceneFailure.
DxfResult DxfReadEntities(DxfCursor& cursor);
void DxfTakeLayer(DxfSection& section, DxfValue value);
// The surface of the section's current layer.
uint16_t DxfLayerSurface(DxfSection& section);
// Appends the DXF point (x, y, z) as the scene point (x, z, y).
bool DxfAddPoint(const float xyz[3]);
// One element over the first n entries of FaceIndexScratch.
bool DxfAddStagedElement(int32_t n, uint16_t surface);
bool DxfAddElement(uint16_t surface, std::initializer_list<uint32_t> corners);
// Entered at (0, "POLYLINE"); kDxfOk, kDxfSectionError or kDxfSceneFailure.
DxfResult DxfReadPolyline(DxfSection& section);
