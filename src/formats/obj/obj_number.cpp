// Number tokens of the OBJ reader: the values after a keyword, cut to the
// token length the reader hands to the shared conversion.
#include "formats/obj/obj_reader.h"
#include "scene/text_number.h"

void ObjParseTriple(const char* text, float* values) {
    for (int32_t k = 0; k < 3; ++k) {
        while (*text == ' ') ++text;
        const char* token = text;
        while (text - token < kObjNumberTokenChars && *text != ' ' && *text != '\r' && *text != '\n' && *text != 0)
            ++text;
        values[k] = TextNumberFloat(token, text);
    }
}
