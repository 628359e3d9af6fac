// The DXF group-pair cursor: code and value lines read from two text blocks
// used in turn, so that the line being read stays valid while the next block
// is loaded; a value line is one number token for the shared conversion.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "formats/dxf/dxf_internal.h"
#include "frame/file_open.h"
#include "scene/import_driver.h"
#include "scene/scene.h"
#include "scene/text_number.h"

namespace {

constexpr int32_t kEofTailBytes = 100;  // the end of the file searched for "EOF"
constexpr int32_t kWordBytes = 8;
constexpr uint64_t kEachByte = 0x0101010101010101ull;
static_assert(std::endian::native == std::endian::little, "words are read with their first byte lowest");

// The C blanks: space, tab, LF, vertical tab, form feed, CR. In a loaded
// block the space is the only one left inside a line.
inline bool IsBlank(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t'; }

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

inline const char* SkipSpaces(const char* p) {
    while (*p == ' ') ++p;
    return p;
}

// An optionally signed decimal integer at p, saturating at the i32 limits;
// any other character ends it, and no digits give 0.
inline void ReadInteger(const char* p, int32_t* value) {
    constexpr int64_t kLimit = int64_t{1} << 31;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int64_t magnitude = 0;
    for (; IsDigit(*p); ++p)
        if (magnitude < kLimit) magnitude = magnitude * 10 + (*p - '0');
    magnitude = std::min(magnitude, kLimit);
    *value = static_cast<int32_t>(negative ? -magnitude : std::min<int64_t>(magnitude, INT32_MAX));
}

// Moves the cursor past the line that ends at `end` (its LF, or the NUL that
// ends the block's text), loading the other block when this one is used up.
void StepPast(DxfCursor& cursor, const char* end) {
    if (*end == '\n' && end[1] != '\0') {
        cursor.line = end + 1;
        return;
    }
    g_Scene.TextBlockIndex = 1 - g_Scene.TextBlockIndex;
    TextBlockLoad();  // at the end of the file the block stays all zero: an empty line
    cursor.line = reinterpret_cast<const char*>(g_Scene.TextBlocks[g_Scene.TextBlockIndex]);
}

inline bool IsCodeCharacter(char c) { return c == ' ' || c == '+' || c == '-' || IsDigit(c); }

// A code line is read by its leading integer: blanks, an optional sign and
// digits, where no digits (a line of blanks, a lone sign) give 0; the digits,
// signs and blanks after it are passed over. Where the reading of the text at
// p stopped: at the first character that is none of those.
const char* ReadCodeText(const char* p, int32_t* code) {
    ReadInteger(SkipSpaces(p), code);
    while (IsCodeCharacter(*p)) ++p;
    return p;
}

// Every line is read as its copy cut to kDxfLineBytes - 1 characters, and the
// last line of a text without a final LF as empty: long texts of entities that
// are passed over (notes, extended data) must not fail the drawing. A short
// code line is read in place, in one pass that also finds its LF; any other
// line is read through that copy. The line's end, or null when the code text
// is empty or holds another character (a letter, a point): we keep such a
// line a read error rather than code 0, since the group pairs are out of step.
const char* ReadCodeLine(const char* line, int32_t* code) {
    int32_t value = 0;
    const char* stop = ReadCodeText(line, &value);
    if (stop == line || *stop != '\n' || stop - line >= kDxfLineBytes) {
        char copy[kDxfLineBytes];
        TextCopyLine(line, copy, kDxfLineBytes);
        stop = ReadCodeText(copy, &value);
        if (stop == copy || *stop != '\0') return nullptr;
        stop = TextLineEnd(line);
    }
    *code = value;
    return stop;
}

// Marks the zero bytes of `word` (their high bits); the lowest mark is exact.
inline uint64_t ZeroBytes(uint64_t word) { return (word - kEachByte) & ~word & (0x80 * kEachByte); }

// Copies whole words of `line` to `value` while no LF or NUL stands in them
// and the value has room: the index of the first LF or NUL, or where the
// words stopped. A word may reach past the block's NUL into its slack.
int32_t CopyWords(const char* line, char* value) {
    int32_t length = 0;
    for (; length + kWordBytes < kDxfLineBytes; length += kWordBytes) {
        uint64_t word = 0;
        std::memcpy(&word, line + length, kWordBytes);
        std::memcpy(value + length, &word, kWordBytes);
        const uint64_t stops = ZeroBytes(word) | ZeroBytes(word ^ ('\n' * kEachByte));
        if (stops != 0) return length + std::countr_zero(stops) / 8;
    }
    return length;
}

// The value line, cut and read as ReadCodeLine says, without its trailing
// blanks (a line of blanks keeps one). Copied as it is scanned, a word at a
// time: values are short, and a general copy of a few bytes costs more than
// the scan itself. Returns the line's end.
const char* CopyValueLine(DxfCursor& cursor) {
    const char* line = cursor.line;
    char* value = cursor.value;
    int32_t length = CopyWords(line, value);
    for (; length < kDxfLineBytes - 1 && line[length] != '\n' && line[length] != '\0'; ++length)
        value[length] = line[length];
    const char* end = TextLineEnd(line + length);
    if (*end != '\n') length = 0;
    while (length > 1 && value[length - 1] == ' ') --length;
    value[length] = '\0';
    cursor.valueLength = length;
    return end;
}

}  // namespace

float DxfValueFloat(DxfValue value) { return TextNumberFloat(value.text, value.text + value.length); }

float DxfValueFloat(const char* text) { return DxfValueFloat(DxfValue{text, static_cast<int32_t>(std::strlen(text))}); }

int32_t DxfValueInt(const char* text) {
    while (IsBlank(*text)) ++text;
    int32_t value = 0;
    ReadInteger(text, &value);
    return value;
}

bool DxfIsGroup(const DxfCursor& cursor, int32_t code, const char* text) {
    return cursor.code == code && std::strcmp(cursor.value, text) == 0;
}

DxfResult DxfReadCode(DxfCursor& cursor) {
    const char* end = ReadCodeLine(cursor.line, &cursor.code);
    if (!end) return kDxfReadError;
    StepPast(cursor, end);
    return kDxfOk;
}

DxfValueRead DxfReadValue(DxfCursor& cursor) {
    const char* end = CopyValueLine(cursor);
    if (cursor.code == 0 && std::strncmp(cursor.value, "EOF", 3) == 0) return kDxfEndOfDrawing;
    StepPast(cursor, end);
    return kDxfValueRead;
}

DxfGroupRead DxfReadEntityGroup(DxfCursor& cursor) {
    if (DxfReadCode(cursor) != kDxfOk) return kDxfGroupError;
    DxfReadValue(cursor);
    return cursor.code == 0 ? kDxfGroupNextEntity : kDxfGroupOfEntity;
}

DxfResult DxfSkipSection(DxfCursor& cursor) {
    while (!DxfIsGroup(cursor, 0, "ENDSEC")) {
        if (DxfReadCode(cursor) != kDxfOk) return kDxfSectionError;
        DxfReadValue(cursor);
    }
    return kDxfOk;
}

// Read in byte mode so that the tail offset counts bytes on every platform.
int32_t DxfHasEofMarker(const char* path) {
    FILE* file = FileOpenToRead(path, "rb");
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
