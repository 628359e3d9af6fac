#include "frame/module_heap.h"

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "frame/host_interface.h"

namespace {
int64_t g_failAt = 0;  // countdown to the failing allocation, 0 = none
int64_t g_allocCount = 0;
int64_t g_liveBlocks = 0;
}  // namespace

void* ModuleAlloc(uint64_t bytes) {
    ++g_allocCount;
    if (g_failAt > 0 && --g_failAt == 0) return nullptr;
    void* block = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (block) ++g_liveBlocks;
    return block;
}

void ModuleFree(void* block) {
    if (!block) return;
    --g_liveBlocks;
    std::free(block);
}

// glibc keeps freed memory for reuse unless asked; other C runtimes return
// large blocks to the system by themselves.
void ModuleHeapTrim() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void ModuleHeapFailAt(int64_t n) { g_failAt = n < 0 ? 0 : n; }
int64_t ModuleHeapAllocCount() { return g_allocCount; }
int64_t ModuleHeapLiveBlocks() { return g_liveBlocks; }

// Exported only by the test flavour of the library (its linker script names it).
extern "C" TAMLORN_EXPORT void TamlornTestHeapFailAt(int64_t n) { ModuleHeapFailAt(n); }
extern "C" TAMLORN_EXPORT int64_t TamlornTestHeapLiveBlocks() { return ModuleHeapLiveBlocks(); }
