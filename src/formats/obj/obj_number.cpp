// Number tokens of the OBJ reader: the values after a keyword, cut to the
// token length the reader hands to the shared conversion, and the index count.
#include "formats/obj/obj_reader.h"
#include "scene/text_number.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void ObjParseTriple(const char* text, float* values) {
    for (int32_t k = 0; k < 3; ++k) {
        while (*text == ' ') ++text;
        const char* token = text;
        while (text - token < kObjNumberTokenChars && *text != ' ' && *text != '\r' && *text != '\n' && *text != 0)
            ++text;
        values[k] = TextNumberFloat(token, text);
    }
}

int32_t ObjCountIndices(const char* begin, const char* end) {
    int32_t count = 0;
    for (const char* p = begin; p + 1 < end; ++p)
        if (*p == ' ' && IsDigit(p[1])) ++count;
    return count;
}
