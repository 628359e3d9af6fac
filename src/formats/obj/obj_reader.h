// Wavefront OBJ reader internals: the text loader, the number and index
// readers, the group-name table and the surface naming that ObjRead builds on.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "scene/scene.h"

// ---- Limits ----------------------------------------------------------------------

constexpr int32_t kObjLineBufferBytes = 15008;     // a statement, continuation lines joined in
constexpr int32_t kObjNameBufferBytes = 256;       // a "g" line copy, the material, the group line
constexpr int32_t kObjGroupNameChars = 30;         // group names and the group pick are cut to this
constexpr int32_t kObjGroupNameBytes = kObjGroupNameChars + 1;
constexpr int32_t kObjGroupNameLimit = 2046;       // distinct group names; one more fails the read
constexpr int32_t kObjSurfaceLimit = 2048;         // surfaces; one more fails the read
constexpr int32_t kObjNumberTokenChars = 111;      // text handed to the number conversion
constexpr int32_t kObjExtensionLimit = 2045;       // bytes a piece may be extended to reach a line end
constexpr int32_t kObjExtensionSplitAfter = 100;   // past this many extension bytes a space ends the piece
constexpr int64_t kObjReferenceLimit = INT32_MAX;  // larger references saturate here (never valid)

// ---- Names -----------------------------------------------------------------------

// 1 when both NUL-terminated names have the same length and the same bytes.
int32_t NamesEqual(const char* a, const char* b);

// Fixed-size NUL-terminated name slots with an index of slot numbers kept
// sorted by name, so that a lookup costs a binary search, not a walk over
// every slot. The count of names lives with the caller.
struct NameIndex {
    char* slots;
    int32_t slotBytes;
    uint16_t* order;
};

// The slot holding `name` among the first `count` slots, or -1.
int32_t NameIndexFind(const NameIndex& index, int32_t count, const char* name);
// The slot holding `name`; a new name is stored (cut to the slot) in slot
// `count` and *added set. -1 when it is new and `limit` names are stored.
int32_t NameIndexFindOrAdd(NameIndex& index, int32_t count, int32_t limit, const char* name, bool* added);

// First pass: counts every name of a "g" line copy in the group table (names
// kept in g_Scene.SurfaceSlotCount, use counts in g_Scene.GroupUseCount).
// 0 when a name beyond kObjGroupNameLimit would be needed.
int32_t ObjRegisterGroups(const char* groupLine, NameIndex& groups);
// Second pass: the group pick of a "g" line, the name on it with the smallest
// use count (the first on ties). `pick` holds kObjGroupNameBytes, `scratch`
// kObjNameBufferBytes. 0 when a name on the line is not in the table.
int32_t ObjPickGroup(const char* groupLine, char* pick, char* scratch, const NameIndex& groups);

// ---- Numbers and indices ---------------------------------------------------------

// Parses up to three numbers after a keyword, each as strtod reads its token
// (cut to kObjNumberTokenChars), stored as 32-bit floats; stops at a LF or
// NUL. Missing values are 0. Returns where the reading stopped: never past
// the LF or NUL.
const char* ObjParseTriple(const char* text, float* values);
// An optionally signed decimal integer at `p` (digits only up to `end`),
// saturated at +-kObjReferenceLimit; 0 when there are no digits. `p` moves past it.
inline int64_t ObjParseReference(const char*& p, const char* end) {
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    int64_t value = 0;
    for (; p != end; ++p) {
        const auto digit = static_cast<uint32_t>(*p - '0');
        if (digit > 9) break;
        if (value < kObjReferenceLimit) value = value * 10 + digit;
    }
    if (value > kObjReferenceLimit) value = kObjReferenceLimit;
    return negative ? -value : value;
}

static_assert(std::endian::native == std::endian::little, "a word's first byte is its lowest");

// ObjParseReference for a reference that starts with a digit at `p`, with at
// least 8 bytes before `end`: a run of up to 7 digits is found and converted
// as one word, with no branch per digit; a longer run is read digit by digit.
inline int64_t ObjParseDigitWord(const char*& p, const char* end) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    // Per byte c - '0'; a borrow reaches only the bytes after a non-digit.
    const uint64_t digits = word - 0x3030303030303030u;
    // The high bit of each byte that is not 0 to 9.
    const uint64_t others = ((digits + 0x7676767676767676u) | digits) & 0x8080808080808080u;
    if (others == 0) return ObjParseReference(p, end);
    const int count = std::countr_zero(others) / 8;  // 1 to 7: the first byte is a digit
    // The digits to the top of the word, below them zeros; then pairs, fours and eights combined.
    uint64_t value = digits << (64 - 8 * count);
    value = (value * 10 + (value >> 8)) & 0x00FF00FF00FF00FFu;
    value = (value * 100 + (value >> 16)) & 0x0000FFFF0000FFFFu;
    value = (value * 10000 + (value >> 32)) & 0xFFFFFFFFu;
    p += count;
    return static_cast<int64_t>(value);
}

// ---- Text ------------------------------------------------------------------------

// Loads the file into TextBlocks from the current block on, which is the last allocated one
// (block 0 when a read starts).
int32_t ObjLoadText(const char* path, uint32_t fileSize, uint32_t* loaded);

// What the passes learn of each loaded text block.
constexpr uint32_t kObjNoOtherLine = UINT32_MAX;
struct ObjBlockNote {
    bool hasBackslash;   // set by the loader: a line of a block without one does not continue
    uint32_t firstOther;  // set by the first pass: where its first line that is not a "v" line
                          // starts, or kObjNoOtherLine
};
extern ObjBlockNote g_ObjBlockNotes[kMaxTextBlocks];
