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

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

// Reads an optional sign; true when it was '-'.
bool TakeSign(const char** p) {
    const char c = **p;
    if (c == '+' || c == '-') ++*p;
    return c == '-';
}

// Digits from *p, saturating at 2^31; *p moves past them. False when there are none.
bool TakeDigits(const char** p, int64_t* magnitude) {
    constexpr int64_t kLimit = int64_t{1} << 31;
    const char* start = *p;
    int64_t value = 0;
    for (; IsDigit(**p); ++*p) value = std::min(value * 10 + (**p - '0'), kLimit);
    *magnitude = value;
    return *p != start;
}

int32_t SaturatedInt(bool negative, int64_t magnitude) {
    const int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}

// Moves the cursor one line on, loading the other block when this one is used up.
void StepLine(DxfCursor& cursor) {
    cursor.current = cursor.next;
    cursor.next = TextNextLine(cursor.next);
    if (cursor.next) return;
    g_Scene.TextBlockIndex = 1 - g_Scene.TextBlockIndex;
    TextBlockLoad();  // at the end of the file the block stays all zero: an empty line
    cursor.next = reinterpret_cast<const char*>(g_Scene.TextBlocks[g_Scene.TextBlockIndex]);
}

// A code line holds one integer between blanks; anything else means the group
// pairs are out of step, so the line is a read error (not code 0).
bool ParseCode(const char* text, int32_t* code) {
    const char* p = SkipBlanks(text);
    const bool negative = TakeSign(&p);
    int64_t magnitude = 0;
    if (!TakeDigits(&p, &magnitude)) return false;
    if (*SkipBlanks(p) != '\0') return false;
    *code = SaturatedInt(negative, magnitude);
    return true;
}

}  // namespace

float DxfValueFloat(const char* text) { return TextNumberFloat(text, text + std::strlen(text)); }

int32_t DxfValueInt(const char* text) {
    const char* p = SkipBlanks(text);
    const bool negative = TakeSign(&p);
    int64_t magnitude = 0;
    TakeDigits(&p, &magnitude);
    return SaturatedInt(negative, magnitude);
}

bool DxfIsGroup(const DxfCursor& cursor, int32_t code, const char* text) {
    return cursor.code == code && std::strcmp(cursor.value, text) == 0;
}

void DxfTrimValue(char* text) {
    size_t length = std::strlen(text);
    while (length > 1 && text[length - 1] == ' ') --length;
    text[length] = '\0';
}

// Lines longer than kDxfLineBytes - 1 are cut: long texts of entities that are
// passed over (notes, extended data) must not fail the drawing.
int32_t DxfReadCode(DxfCursor& cursor) {
    TextCopyLine(cursor.current, cursor.codeText, kDxfLineBytes);
    if (cursor.codeText[0] == '\0' || !ParseCode(cursor.codeText, &cursor.code)) return kDxfReadError;
    StepLine(cursor);
    return kDxfRead;
}

int32_t DxfReadValue(DxfCursor& cursor) {
    TextCopyLine(cursor.current, cursor.value, kDxfLineBytes);
    DxfTrimValue(cursor.value);
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
