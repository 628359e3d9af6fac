// Recognising an OBJ file from its first bytes, and its line-end style.
#include <algorithm>
#include <cstring>

#include "formats/obj/obj.h"
#include "scene/scene.h"

namespace {

constexpr int32_t kSniffTailBytes = 5;       // the last bytes of the head are never looked at
constexpr int32_t kSniffTextBytes = 50;      // no zero byte may stand among these
constexpr int32_t kSniffLineEndBytes = 100;  // the first line end is looked for among these
constexpr int32_t kSniffLines = 30;          // line starts looked at for a "v" statement

void DetectLineEnd(const uint8_t* head, int32_t limit) {
    for (int32_t i = 0; i < limit; ++i) {
        if (head[i] == '\n') {
            g_Scene.LineEndStyle = kLineEndLF;
            return;
        }
        if (head[i] == '\r') {
            g_Scene.LineEndStyle = head[i + 1] == '\n' ? kLineEndCRLF : kLineEndCR;
            return;
        }
    }
}

bool IsVertexLine(const uint8_t* line) {
    const uint8_t c = line[2];
    return line[0] == 'v' && line[1] == ' ' && (c == '-' || c == '.' || c == ' ' || (c >= '0' && c <= '9'));
}

// Looks at line starts (from LF to LF) below `limit` for a "v" statement; a
// zero byte ends the text.
bool HasVertexLine(const uint8_t* head, int32_t limit) {
    const auto* zero = static_cast<const uint8_t*>(std::memchr(head, 0, static_cast<size_t>(limit)));
    if (zero) limit = static_cast<int32_t>(zero - head);
    int32_t start = 0;
    for (int32_t line = 0; line < kSniffLines && start < limit; ++line) {
        if (IsVertexLine(head + start)) return true;
        const auto* end = static_cast<const uint8_t*>(std::memchr(head + start, '\n', static_cast<size_t>(limit - start)));
        if (!end) return false;
        start = static_cast<int32_t>(end - head) + 1;
    }
    return false;
}

}  // namespace

int32_t ObjSniff(int32_t count, const uint8_t* head) {
    // Heads of 5 bytes or fewer leave nothing to look at (the bounds would go negative).
    const int32_t usable = std::max(count - kSniffTailBytes, 0);
    if (std::memchr(head, 0, static_cast<size_t>(std::min(usable, kSniffTextBytes)))) return 0;
    DetectLineEnd(head, std::min(usable, kSniffLineEndBytes));
    return HasVertexLine(head, usable) ? 1 : 0;
}
