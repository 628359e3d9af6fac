#include "formats/3ds/tds.h"
#include "formats/3ds/tds_bytes.h"

// A 3D Studio file starts with the main chunk, and the editor section follows
// the 10-byte version chunk at offset 16.
int32_t Sniff3DS(int32_t count, const uint8_t* head) {
    return count >= kSniff3DSMinBytes && TdsU16(head) == kTdsMainChunk && TdsU16(head + 16) == kTdsEditorChunk;
}
