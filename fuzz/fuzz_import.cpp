// fuzz-obj, fuzz-3ds, fuzz-dxf: the input is a file handed to the import
// server of TAMLORN_FUZZ_EXTENSION, loaded as a new object through its load
// callback, checked and destroyed.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LoadModuleOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const standin::Server& server = fuzz::ServerFor(true, TAMLORN_FUZZ_EXTENSION);
    const int64_t hostBlocks = standin::LiveBlocks();
    fuzz::LoadAndCheck(server, fuzz::WriteInput(data, size));
    fuzz::RequireNothingLeft(hostBlocks);
    return 0;
}
