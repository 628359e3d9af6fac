// The DXF group-pair cursor: code and value lines read from two text blocks
// used in turn, so that the line being read stays valid while the next block
// is loaded; a value line is one number token for the shared conversion.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/dxf/dxf_internal.h"
#include "scene/import_driver.h"
#include "scene/scene.h"
#include "scene/text_number.h"

namespace {

constexpr int32_t kEofTailBytes = 100;  // the end of the file searched for "EOF"

// The C blanks: space, tab, LF, vertical tab, form feed, CR. In a loaded
// block only the space is left of them.
inline bool IsBlank(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t'; }

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

inline const char* SkipBlanks(const char* p, const char* end) {
    while (p != end && IsBlank(*p)) ++p;
    return p;
}

// An optionally signed decimal integer at p (up to `end`), saturating at the
// i32 limits: where it ends, or null when there are no digits.
inline const char* ReadInteger(const char* p, const char* end, int32_t* value) {
    constexpr int64_t kLimit = int64_t{1} << 31;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* digits = p;
    int64_t magnitude = 0;
    for (; p != end && IsDigit(*p); ++p)
        if (magnitude < kLimit) magnitude = magnitude * 10 + (*p - '0');
    magnitude = std::min(magnitude, kLimit);
    *value = static_cast<int32_t>(negative ? -magnitude : std::min<int64_t>(magnitude, INT32_MAX));
    return p != digits ? p : nullptr;
}

// Moves the cursor one line on, loading the other block when this one is used up.
void StepLine(DxfCursor& cursor) {
    DxfCursorAt(cursor, cursor.next);
    if (cursor.next) return;
    g_Scene.TextBlockIndex = 1 - g_Scene.TextBlockIndex;
    TextBlockLoad();  // at the end of the file the block stays all zero: an empty line
    cursor.next = reinterpret_cast<const char*>(g_Scene.TextBlocks[g_Scene.TextBlockIndex]);
}

// The end of the current line as the reader sees it: the last line of a text
// without a final LF reads as empty. Lines longer than kDxfLineBytes - 1 are
// cut: long texts of entities that are passed over (notes, extended data)
// must not fail the drawing.
const char* SeenEnd(const DxfCursor& cursor) {
    if (*cursor.currentEnd != '\n') return cursor.current;
    return std::min(cursor.currentEnd, cursor.current + (kDxfLineBytes - 1));
}

// A code line holds one integer between blanks; anything else means the group
// pairs are out of step, so the line is a read error (not code 0).
bool ParseCode(const char* p, const char* end, int32_t* code) {
    int32_t value = 0;
    const char* stop = ReadInteger(SkipBlanks(p, end), end, &value);
    if (!stop || SkipBlanks(stop, end) != end) return false;
    *code = value;
    return true;
}

// The value line without its trailing blanks (a line of blanks keeps one).
void CopyValue(DxfCursor& cursor) {
    auto length = static_cast<size_t>(SeenEnd(cursor) - cursor.current);
    while (length > 1 && cursor.current[length - 1] == ' ') --length;
    std::memcpy(cursor.value, cursor.current, length);
    cursor.value[length] = '\0';
}

}  // namespace

float DxfValueFloat(const char* text) { return TextNumberFloat(text, text + std::strlen(text)); }

int32_t DxfValueInt(const char* text) {
    const char* end = text + std::strlen(text);
    int32_t value = 0;
    ReadInteger(SkipBlanks(text, end), end, &value);
    return value;
}

void DxfCursorAt(DxfCursor& cursor, const char* line) {
    cursor.current = line;
    cursor.currentEnd = TextLineEnd(line);
    cursor.next = TextNextLine(cursor.currentEnd);
}

bool DxfIsGroup(const DxfCursor& cursor, int32_t code, const char* text) {
    return cursor.code == code && std::strcmp(cursor.value, text) == 0;
}

int32_t DxfReadCode(DxfCursor& cursor) {
    if (!ParseCode(cursor.current, SeenEnd(cursor), &cursor.code)) return kDxfReadError;
    StepLine(cursor);
    return kDxfRead;
}

int32_t DxfReadValue(DxfCursor& cursor) {
    CopyValue(cursor);
    if (cursor.code == 0 && std::strncmp(cursor.value, "EOF", 3) == 0) return kDxfEndOfDrawing;
    StepLine(cursor);
    return kDxfRead;
}

int32_t DxfReadEntityGroup(DxfCursor& cursor) {
    if (DxfReadCode(cursor) != kDxfRead) return kDxfSectionError;
    DxfReadValue(cursor);
    return cursor.code == 0 ? kDxfNextEntity : kDxfEntityGroup;
}

int32_t DxfSkipSection(DxfCursor& cursor) {
    while (!DxfIsGroup(cursor, 0, "ENDSEC")) {
        if (DxfReadCode(cursor) != kDxfRead) return kDxfSectionError;
        DxfReadValue(cursor);
    }
    return kDxfRead;
}

// Read in byte mode so that the tail offset counts bytes on every platform.
int32_t DxfHasEofMarker(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    if (std::fseek(file, -kEofTailBytes, SEEK_END) != 0) std::fseek(file, 0, SEEK_SET);  // shorter file: all of it
    char tail[kEofTailBytes];
    const auto count = static_cast<int32_t>(std::fread(tail, 1, sizeof tail, file));
    std::fclose(file);
    auto is = [&](int32_t i, char letter) { return tail[i] == letter || tail[i] == letter + ('a' - 'A'); };
    for (int32_t i = count - 1; i >= 2; --i) {
        if (is(i, 'F') && is(i - 1, 'O') && is(i - 2, 'E')) return 1;
    }
    return 0;
}
