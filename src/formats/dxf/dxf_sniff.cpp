// Recognising ASCII DXF from the first bytes of a file: the line-end style, at
// least eleven non-blank lines, and a (0, "SECTION") (2, name) start within
// the first ten lines. Binary DXF is recognised by its sentinel and refused.
#include <algorithm>
#include <cstring>

#include "formats/dxf/dxf.h"
#include "scene/import_driver.h"
#include "scene/scene.h"

namespace {

constexpr char kBinarySentinel[] = "AutoCAD Binary DXF";
constexpr int32_t kBinarySentinelBytes = 18;
constexpr int32_t kBinaryMinSample = 21;   // shorter samples are never taken for binary DXF
constexpr int32_t kFirstLineLimit = 50;    // the first line end lies within these bytes
constexpr int32_t kTailReserve = 5;        // ... and before the sample's last five bytes
constexpr int32_t kNulScreenLast = 49;     // bytes 0..49 must not be NUL
constexpr int32_t kNulScreenReserve = 6;
constexpr int32_t kMinLineBreaks = 11;
constexpr int32_t kSniffTokens = 10;
constexpr int32_t kSectionFound = 4;

bool HasEarlyNul(const char* sample, int32_t count) {
    const int32_t last = std::max(0, std::min(kNulScreenLast, count - kNulScreenReserve));
    return std::memchr(sample, '\0', static_cast<size_t>(last) + 1) != nullptr;
}

bool FindLineEndStyle(const char* sample, int32_t count, int32_t* style) {
    const int32_t limit = std::min(kFirstLineLimit, count - kTailReserve);
    for (int32_t i = 0; i < limit; ++i) {
        if (sample[i] == '\n') {
            *style = i > 0 && sample[i - 1] == '\r' ? kLineEndCRLF : kLineEndLF;
            return true;
        }
        if (sample[i] == '\r') {
            *style = sample[i + 1] == '\n' ? kLineEndCRLF : kLineEndCR;
            return true;
        }
    }
    return false;
}

// Blank lines (LF followed by LF, blanks or CR) do not count.
int32_t CountLineBreaks(const char* sample, int32_t count) {
    int32_t breaks = 0;
    for (int32_t i = 0; i < count;) {
        if (sample[i++] != '\n') continue;
        ++breaks;
        while (i < count && (sample[i] == '\n' || sample[i] == ' ' || sample[i] == '\r')) ++i;
    }
    return breaks;
}

bool IsSniffBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool TokenIs(const char* token, size_t length, const char* text) {
    return length == std::strlen(text) && std::memcmp(token, text, length) == 0;
}

int32_t NextState(int32_t state, const char* token, size_t length) {
    switch (state) {
        case 0: return TokenIs(token, length, "0") ? 1 : 0;
        case 1: return TokenIs(token, length, "SECTION") ? 2 : 1;
        case 2: return TokenIs(token, length, "2") ? 3 : 2;
        case 3:
            for (const char* name : {"ENTITIES", "HEADER", "TABLE", "BLOCK"}) {
                if (TokenIs(token, length, name)) return kSectionFound;
            }
            return 3;
        default: return state;
    }
}

// Walks up to ten line tokens (the rest of a line after its leading blanks).
bool StartsWithSection(const char* sample) {
    const char* p = sample;
    int32_t state = 0;
    for (int32_t t = 0; t < kSniffTokens; ++t) {
        while (IsSniffBlank(*p)) ++p;
        if (*p == '\0') return false;
        const char* lineEnd = std::strchr(p, '\n');
        if (!lineEnd) break;  // a line the sample cuts off matches nothing, nor do the tokens after it
        size_t length = static_cast<size_t>(lineEnd - p);
        if (length > 0 && p[length - 1] == '\r') --length;
        state = NextState(state, p, length);
        p = lineEnd;
    }
    return state == kSectionFound;
}

}  // namespace

// The caller's sample is left as it is: CR-only text is turned into LF text in
// a copy of it.
int32_t DxfSniff(int32_t count, const uint8_t* head) {
    g_Scene.LineEndStyle = kLineEndLF;
    const int32_t n = head ? std::clamp(count, 0, kTextSampleBytes) : 0;
    if (n >= kBinaryMinSample && std::memcmp(head, kBinarySentinel, kBinarySentinelBytes) == 0) {
        g_Scene.BinaryDxfSeen = true;
        return 0;
    }
    char sample[kTextSampleBytes + 1];
    if (n > 0) std::memcpy(sample, head, static_cast<size_t>(n));
    sample[n] = '\0';
    int32_t style = kLineEndLF;
    if (HasEarlyNul(sample, n) || !FindLineEndStyle(sample, n, &style)) return 0;
    g_Scene.LineEndStyle = style;
    if (style == kLineEndCR) std::replace(sample, sample + n, '\r', '\n');
    if (CountLineBreaks(sample, n) < kMinLineBreaks) return 0;
    return StartsWithSection(sample) ? 1 : 0;
}
