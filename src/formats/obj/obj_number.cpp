// Number tokens of the OBJ reader: the values after a keyword, cut to the
// token length the reader hands to the shared conversion.
#include "formats/obj/obj_reader.h"
#include "scene/text_number.h"

namespace {

bool EndsToken(char c) { return c == ' ' || c == '\r' || c == '\n' || c == 0; }

}  // namespace

const char* ObjParseTriple(const char* text, float* values) {
    for (int32_t k = 0; k < 3; ++k) {
        while (*text == ' ') ++text;
        double plain = 0.0;
        const char* stop = TextNumberReadPlain(text, &plain);
        if (stop && EndsToken(*stop)) {
            values[k] = NarrowToFloat(plain);
            text = stop;
            continue;
        }
        const char* token = text;
        while (text - token < kObjNumberTokenChars && !EndsToken(*text))
            ++text;
        values[k] = TextNumberFloat(token, text);
    }
    return text;
}
