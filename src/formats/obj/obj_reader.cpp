// The OBJ reader: loads the file into text blocks and walks them twice, in
// place. The first pass reads the points and counts the group names, the
// second reads texture points, surfaces and elements.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "formats/obj/obj.h"
#include "formats/obj/obj_reader.h"
#include "frame/module_heap.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

constexpr uint32_t kRejectedIndex = 0xFFFFFFFEu;  // out of range for every stream, and not "none"
constexpr char kDefaultMaterial[] = "default";

// The storage of one read, in one module-heap block.
struct ObjReaderStore {
    char groupNames[kSurfaceSlots][kSurfaceNameBytes];
    uint16_t groupOrder[kSurfaceSlots];
    uint16_t surfaceOrder[kSurfaceSlots];
    char lineBuffer[kObjLineBufferBytes];
};

// ---- Walking the text ------------------------------------------------------------

// A line of the walk over every line of every text block. Its end is looked
// for only when asked: a statement read to its end has found it already.
struct ObjWalk {
    int32_t block;
    const char* line;
    const char* lineEnd;  // its LF, or the NUL that ends the block's text; null until found
};

// Finds the line's end from `from`, a place in the line, with the C library's
// scans: the end may be a whole line away (TextLineEnd is for ends a few bytes off).
const char* FindLineEnd(ObjWalk& walk, const char* from) {
    const char* lf = std::strchr(from, '\n');
    walk.lineEnd = lf ? lf : from + std::strlen(from);
    return walk.lineEnd;
}

const char* LineEnd(ObjWalk& walk) { return walk.lineEnd ? walk.lineEnd : FindLineEnd(walk, walk.line); }

void WalkTo(ObjWalk& walk, const char* line) {
    walk.line = line;
    walk.lineEnd = nullptr;
}

const char* BlockText(int32_t block) { return reinterpret_cast<const char*>(g_Scene.TextBlocks[block]); }

ObjWalk WalkBlock(int32_t block) { return ObjWalk{block, BlockText(block), nullptr}; }

bool HasLineEnd(ObjWalk& walk) { return *LineEnd(walk) == '\n'; }

// The next line in the same block, else the first line of the next block;
// false after the last line of the text.
bool WalkNext(ObjWalk& walk) {
    const char* next = HasLineEnd(walk) ? TextNextLine(walk.lineEnd) : nullptr;
    if (next) {
        WalkTo(walk, next);
        return true;
    }
    if (walk.block >= g_Scene.TextBlockLast) return false;
    walk = WalkBlock(walk.block + 1);
    return true;
}

// Whether the line, as TextCopyLine gives it, holds a backslash. The whole
// line decides, also past what the line buffer keeps of it.
bool Continues(ObjWalk& walk) {
    if (!g_ObjBlockNotes[walk.block].hasBackslash || !HasLineEnd(walk)) return false;
    return std::memchr(walk.line, '\\', static_cast<size_t>(walk.lineEnd - walk.line)) != nullptr;
}

// ---- First pass ------------------------------------------------------------------

bool IsPointLine(const char* line) { return line[0] == 'v' && line[1] == ' '; }
bool IsFaceLine(const char* line) { return line[0] == 'f' && line[1] == ' '; }

int32_t FirstPassLine(ObjWalk& walk, NameIndex& groups) {
    const char* line = walk.line;
    if (IsPointLine(line)) {
        float values[3];
        // The numbers end at the line's end or a few spaces before it.
        walk.lineEnd = TextLineEnd(ObjParseTriple(line + 1, values));
        return SceneAddPoint(values[0], values[1], values[2] * -1.0f);
    }
    uint32_t& firstOther = g_ObjBlockNotes[walk.block].firstOther;
    if (firstOther == kObjNoOtherLine) firstOther = static_cast<uint32_t>(line - BlockText(walk.block));
    if (line[0] == 'g' && line[1] == ' ') {
        char copy[kObjNameBufferBytes];
        TextCopyLine(line, copy, kObjNameBufferBytes);  // longer "g" lines are cut to 255 characters
        return ObjRegisterGroups(copy, groups);
    }
    return 1;
}

// The first pass reads only lines that start with "v" or "g": after any other
// line, those up to the next such line of the block are stepped over in one
// scan. The walk then stands on an empty line at the LF before that line (or
// at the block's NUL when there is none).
void PassOtherLines(ObjWalk& walk) {
    const char* p = LineEnd(walk);
    while (*p != 0) {
        p += 1 + std::strcspn(p + 1, "vg");
        if (*p != 0 && p[-1] == '\n') {
            --p;
            break;
        }
    }
    walk.line = walk.lineEnd = p;
}

int32_t FirstPass(NameIndex& groups) {
    for (int32_t block = 0; block <= g_Scene.TextBlockLast; ++block) {
        g_ObjBlockNotes[block].firstOther = kObjNoOtherLine;
    }
    ObjWalk walk = WalkBlock(0);
    do {
        if (!FirstPassLine(walk, groups)) return 0;
        if (!IsPointLine(walk.line)) PassOtherLines(walk);
    } while (WalkNext(walk));
    return 1;
}

// ---- Second pass: statement text -------------------------------------------------

struct TextView {
    const char* begin;
    const char* end;
};

bool StartsWith(TextView text, const char* keyword, int32_t length) {
    if (text.end - text.begin < length) return false;
    for (int32_t i = 0; i < length; ++i)
        if (text.begin[i] != keyword[i]) return false;
    return true;
}

bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }

// Copies the current line and its continuation lines into `buffer` (cut to
// the buffer; the joining itself goes on), backslashes read as spaces. The
// walk ends on the last line taken. Returns the text's length.
int32_t JoinLines(ObjWalk& walk, char* buffer) {
    TextCopyLine(walk.line, buffer, kObjLineBufferBytes);
    int32_t length = static_cast<int32_t>(std::strlen(buffer));
    ObjWalk next = walk;
    bool join = WalkNext(next) && !IsLowerLetter(next.line[0]);
    while (join) {
        walk = next;
        TextCopyLine(walk.line, buffer + length, kObjLineBufferBytes - length);
        length += static_cast<int32_t>(std::strlen(buffer + length));
        join = Continues(walk) && WalkNext(next);  // a continued last line ends the joining
    }
    for (int32_t i = 0; i < length; ++i)
        if (buffer[i] == '\\') buffer[i] = ' ';
    return length;
}

// The statement text of the current line: the line itself in the block, or the
// joined copy in `buffer` when it is continued. Lines longer than the line
// buffer are cut to it; the final line without LF reads as empty.
TextView StatementText(ObjWalk& walk, char* buffer) {
    if (Continues(walk)) return TextView{buffer, buffer + JoinLines(walk, buffer)};
    if (!HasLineEnd(walk)) return TextView{walk.line, walk.line};
    const std::ptrdiff_t length = walk.lineEnd - walk.line;
    return TextView{walk.line, walk.line + (length < kObjLineBufferBytes - 1 ? length : kObjLineBufferBytes - 1)};
}

// ---- Second pass: surfaces -------------------------------------------------------

struct ReaderState {
    char material[kObjNameBufferBytes];
    char groupLine[kObjNameBufferBytes];
    char pick[kObjGroupNameBytes];
    bool surfaceStale;  // a "g" or "usemtl" came since the last element
    uint32_t surface;
    bool pointPending;
    uint32_t pendingPoint;
};

// Copies [begin, end) cut to `bytes` - 1 characters; the copied length.
int32_t CopyCut(const char* begin, const char* end, char* destination, int32_t bytes) {
    const int32_t length = end - begin < bytes - 1 ? static_cast<int32_t>(end - begin) : bytes - 1;
    std::memcpy(destination, begin, static_cast<size_t>(length));
    destination[length] = 0;
    return length;
}

// Material names are cut to 255 characters, then lose their trailing spaces.
void SetMaterial(ReaderState& state, TextView name) {
    int32_t length = CopyCut(name.begin, name.end, state.material, kObjNameBufferBytes);
    while (length > 0 && state.material[length - 1] == ' ') state.material[--length] = 0;
    state.surfaceStale = true;
}

// "material pick", or the material alone, cut to a surface name.
void ComposeSurfaceName(const ReaderState& state, char* name) {
    const char* material = state.material;
    int32_t length = CopyCut(material, material + std::strlen(material), name, kSurfaceNameBytes);
    if (state.pick[0] == 0) return;
    const char separator = ' ';
    length += CopyCut(&separator, &separator + 1, name + length, kSurfaceNameBytes - length);
    CopyCut(state.pick, state.pick + std::strlen(state.pick), name + length, kSurfaceNameBytes - length);
}

int32_t UpdateSurface(ReaderState& state, const NameIndex& groups, NameIndex& surfaces) {
    if (!ObjPickGroup(state.groupLine, state.pick, reinterpret_cast<char*>(g_Scene.WordScratch), groups)) return 0;
    char name[kSurfaceNameBytes];
    ComposeSurfaceName(state, name);
    bool added = false;
    const int32_t slot = NameIndexFindOrAdd(surfaces, g_Scene.SurfaceCount, kObjSurfaceLimit, name, &added);
    if (slot < 0) return 0;
    if (added) ++g_Scene.SurfaceCount;
    state.surface = static_cast<uint32_t>(slot) + 1;
    state.surfaceStale = false;
    state.groupLine[0] = 0;
    return 1;
}

// ---- Second pass: elements -------------------------------------------------------

enum class ElementKind { kFace, kLine, kDot };

struct ElementKeyword {
    const char* keyword;  // with its space
    int32_t length;
    ElementKind kind;
};

constexpr ElementKeyword kElementKeywords[] = {
    {"f ", 2, ElementKind::kFace}, {"fo ", 3, ElementKind::kFace}, {"bzp ", 4, ElementKind::kFace},
    {"l ", 2, ElementKind::kLine}, {"p ", 2, ElementKind::kDot},
};

const ElementKeyword* FindElementKeyword(TextView text) {
    for (const ElementKeyword& element : kElementKeywords)
        if (StartsWith(text, element.keyword, element.length)) return &element;
    return nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// File references count from 1; a point reference 0 becomes 0xFFFFFFFF, which validation rejects.
uint32_t PointIndex(int64_t reference) { return static_cast<uint32_t>(reference - 1); }

// Negative texture references count back from the UV points read so far;
// 0 and none mean no texture point. A reference before the first UV point
// stays out of range instead of wrapping.
uint32_t TextureIndex(int64_t reference) {
    if (reference < 0) reference += int64_t{g_Scene.UVPointCount} + 1;
    if (reference == 0) return kNoTexture;
    return reference > 0 ? static_cast<uint32_t>(reference - 1) : kRejectedIndex;
}

// A reference of an index token, a word at a time where it starts with a digit
// and the text before `end` holds a word.
[[gnu::always_inline]] inline int64_t ReadReference(const char*& q, const char* end) {
    if (end - q >= static_cast<std::ptrdiff_t>(sizeof(uint64_t)) && IsDigit(*q)) return ObjParseDigitWord(q, end);
    return ObjParseReference(q, end);
}

bool EndsLine(char c) { return c == '\n' || c == 0; }
bool EndsIndexToken(char c) { return c == ' ' || EndsLine(c); }

struct CornerScan {
    int32_t count;     // index tokens; past kMaxCorners they are only counted (such a statement is skipped)
    const char* stop;  // where the scan stopped
};

// Reads the index tokens of [begin, end), the places where a space is
// directly followed by a digit, into FaceIndexScratch and, with `textures`,
// FaceUVScratch, in one scan that ends at the first LF or NUL (else at
// `end` at the most) and never goes past it.
CornerScan ReadCorners(const char* begin, const char* end, bool textures) {
    int32_t corner = 0;
    const char* p = begin;
    for (; p + 1 < end && !EndsLine(*p); ++p) {
        if (p[0] != ' ' || !IsDigit(p[1])) continue;
        const char* q = p + 1;
        const int64_t point = ReadReference(q, end);
        // The texture reference follows the token's first slash (none: no texture).
        while (q < end && !EndsIndexToken(*q) && *q != '/') ++q;
        const int64_t texture = q < end && *q == '/' ? ReadReference(++q, end) : 0;
        while (q < end && !EndsIndexToken(*q)) ++q;
        if (corner < kMaxCorners) {
            g_Scene.FaceIndexScratch[corner] = PointIndex(point);
            if (textures) g_Scene.FaceUVScratch[corner] = TextureIndex(texture);
        }
        ++corner;
        p = q - 1;
    }
    return {corner, p};
}

int32_t AddLine(uint32_t surface, uint32_t from, uint32_t to) {
    const uint32_t ends[2] = {from, to};
    return SceneAddElement(2, surface, ends, nullptr);
}

bool NextLineStartsWithL(const ObjWalk& walk) {
    ObjWalk next = walk;
    return WalkNext(next) && next.line[0] == 'l';
}

// Three or more references make a polyline. Two equal references followed by
// another "l" line stand for one end of a line: two such statements in a row
// make one line. An "l" with fewer than two references is ignored.
int32_t AddLines(const ObjWalk& walk, int32_t count, ReaderState& state) {
    const uint32_t* refs = g_Scene.FaceIndexScratch;
    if (count >= 3) {
        for (int32_t i = 0; i + 1 < count; ++i)
            if (!SceneAddElement(2, state.surface, refs + i, nullptr)) return 0;
        return 1;
    }
    if (count < 2) return 1;
    if (refs[0] == refs[1] && NextLineStartsWithL(walk)) {
        if (!state.pointPending) {
            state.pointPending = true;
            state.pendingPoint = refs[0];
            return 1;
        }
        state.pointPending = false;
        return AddLine(state.surface, state.pendingPoint, refs[0]);
    }
    const uint32_t from = state.pointPending ? state.pendingPoint : refs[0];
    state.pointPending = false;
    return AddLine(state.surface, from, refs[1]);
}

int32_t AddDots(int32_t count, uint32_t surface) {
    for (int32_t i = 0; i < count; ++i)
        if (!SceneAddElement(1, surface, g_Scene.FaceIndexScratch + i, nullptr)) return 0;
    return 1;
}

// ---- Second pass -----------------------------------------------------------------

struct SecondPassTables {
    const NameIndex& groups;
    NameIndex& surfaces;
};

// An element statement of `count` index tokens, read into the scratch, on
// the surface that the "g" and "usemtl" lines before it name.
int32_t AddElement(const ObjWalk& walk, ElementKind kind, int32_t count, ReaderState& state, SecondPassTables& tables) {
    if (state.surfaceStale && !UpdateSurface(state, tables.groups, tables.surfaces)) return 0;
    if (count > kMaxCorners) {
        ++g_Scene.SkippedFaceCount;
        return 1;
    }
    switch (kind) {
        case ElementKind::kFace:
            return SceneAddElement(count, state.surface, g_Scene.FaceIndexScratch, g_Scene.FaceUVScratch);
        case ElementKind::kLine:
            return AddLines(walk, count, state);
        case ElementKind::kDot:
            return AddDots(count, state.surface);
    }
    return 0;
}

int32_t SecondPassLine(ObjWalk& walk, TextView text, ReaderState& state, SecondPassTables& tables) {
    const char* line = walk.line;
    if (line[0] == 'v' && line[1] == 't' && line[2] == ' ') {
        float values[3];
        ObjParseTriple(line + 2, values);
        return SceneAddUVPoint(values[0], values[1], values[2] * -1.0f);
    }
    if (StartsWith(text, "g ", 2)) {
        CopyCut(text.begin, text.end, state.groupLine, kObjNameBufferBytes);  // cut to 255 characters
        state.surfaceStale = true;
        return 1;
    }
    if (StartsWith(text, "usemtl ", 7)) {
        SetMaterial(state, TextView{text.begin + 7, text.end});
        return 1;
    }
    const ElementKeyword* element = FindElementKeyword(text);
    if (!element) return 1;
    // The index text starts at the space after the keyword.
    const bool face = element->kind == ElementKind::kFace;
    const int32_t count = ReadCorners(text.begin + element->length - 1, text.end, face).count;
    return AddElement(walk, element->kind, count, state, tables);
}

// Most lines are faces: an "f" line is read to its end in one scan, which
// finds the line's end on the way. A continued line or one without LF is
// then read again as any statement.
int32_t SecondPassFaceLine(ObjWalk& walk, char* lineBuffer, ReaderState& state, SecondPassTables& tables) {
    const char* blockEnd = BlockText(walk.block) + kTextBlockBytes;
    // What StatementText keeps of a longer line.
    const char* cut = walk.line + std::min<std::ptrdiff_t>(kObjLineBufferBytes - 1, blockEnd - walk.line);
    const CornerScan scan = ReadCorners(walk.line + 1, cut, true);
    walk.lineEnd = TextLineEnd(scan.stop);
    if (Continues(walk) || !HasLineEnd(walk)) {
        return SecondPassLine(walk, StatementText(walk, lineBuffer), state, tables);
    }
    return AddElement(walk, ElementKind::kFace, scan.count, state, tables);
}

// Passes over the leading "v" lines of a block the walk has just entered, and
// over whole blocks of nothing else: the second pass has nothing to do with
// them. Not in a block with a backslash, where a "v" line may join the lines
// after it. False when no line is left.
bool PassLeadingPoints(ObjWalk& walk) {
    while (walk.line == BlockText(walk.block) && !g_ObjBlockNotes[walk.block].hasBackslash) {
        const uint32_t firstOther = g_ObjBlockNotes[walk.block].firstOther;
        if (firstOther != kObjNoOtherLine) {
            if (firstOther != 0) WalkTo(walk, walk.line + firstOther);
            return true;
        }
        if (walk.block >= g_Scene.TextBlockLast) return false;
        walk = WalkBlock(walk.block + 1);
    }
    return true;
}

int32_t SecondPass(char* lineBuffer, SecondPassTables& tables) {
    ReaderState state{};
    std::memcpy(state.material, kDefaultMaterial, sizeof kDefaultMaterial);
    state.surface = 1;
    ObjWalk walk = WalkBlock(0);
    if (!PassLeadingPoints(walk)) return 1;
    do {
        const int32_t read = IsFaceLine(walk.line) ? SecondPassFaceLine(walk, lineBuffer, state, tables)
                                  : SecondPassLine(walk, StatementText(walk, lineBuffer), state, tables);
        if (!read) return 0;
    } while (WalkNext(walk) && PassLeadingPoints(walk));
    return 1;
}

// ---- The read --------------------------------------------------------------------

int32_t AllocateFirstTextBlock() {
    auto* block = static_cast<uint8_t*>(ModuleAlloc(kTextBlockBytes));
    if (!block) return 0;
    g_Scene.TextBlocks[0] = block;
    g_Scene.TextBlockCursor = block;
    g_Scene.TextBlockLast = 0;
    g_Scene.TextBlocksOwned = true;
    return 1;
}

int32_t ReadText() {
    auto* store = static_cast<ObjReaderStore*>(ModuleAlloc(sizeof(ObjReaderStore)));
    if (!store) return 0;
    NameIndex groups{store->groupNames[0], kSurfaceNameBytes, store->groupOrder};
    NameIndex surfaces{g_Scene.SurfaceNames[0], kSurfaceNameBytes, store->surfaceOrder};
    SecondPassTables tables{groups, surfaces};
    const int32_t read = FirstPass(groups) && SecondPass(store->lineBuffer, tables);
    ModuleFree(store);
    return read;
}

}  // namespace

int32_t ObjRead(const char* path) {
    if (!AllocateFirstTextBlock()) return 0;
    uint32_t size = 0;
    uint32_t loaded = 0;
    if (!FileSizeOf(path, &size) || size == 0 || !ObjLoadText(path, size, &loaded)) return 0;
    const int32_t read = ReadText();
    SceneFreeTextBlocks();
    if (!read || g_Scene.PointCount < 1 || !SceneValidate()) return 0;
    SceneCompactSurfaces();  // without its scratch memory the surfaces stay as read
    return 1;
}
