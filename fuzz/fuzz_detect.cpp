// fuzz-detect: a file of unknown kind, as the host meets it. The same bytes go
// to the check callback of all three import servers and to the converter's
// choice of server (the first in the module's detection order, 3D Studio, OBJ,
// DXF, whose check accepts), which then loads it. A server whose check refuses
// the file must refuse to load it too, touching nothing.
#include "fuzz_support.h"

namespace {

constexpr const char* kDetectionOrder[] = {"3ds", "obj", "dxf"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LoadModuleOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int64_t hostBlocks = standin::LiveBlocks();
    const std::string& path = fuzz::WriteInput(data, size);
    const standin::Server* chosen = nullptr;
    for (const char* extension : kDetectionOrder) {
        const standin::Server& server = fuzz::ServerFor(true, extension);
        const int32_t accepted = standin::CheckFile(server, path);
        fuzz::Require(accepted == 0 || accepted == 1, "a check answered " + std::to_string(accepted));
        if (accepted && !chosen) chosen = &server;
        if (!accepted) fuzz::Require(fuzz::LoadAndCheck(server, path) == 0, "a load passed a refusing check");
    }
    fuzz::RequireNothingLeft(hostBlocks);
    if (chosen) fuzz::LoadAndCheck(*chosen, path);
    fuzz::RequireNothingLeft(hostBlocks);
    return 0;
}
