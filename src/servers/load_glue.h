// The body shared by the three load callbacks: checks the file again, runs the
// import driver and finishes the loaded object on the host side.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

int32_t LoadGlue(HostObject** slot, const char* path, int32_t ignored, uint32_t pointDataSize, uint32_t loadFlags,
                 uint64_t hostValue, CheckCallback check);
