// The module's own heap: every allocation of module storage (the scene, text
// blocks, scratch) goes through this one pair so that a test build can make the
// Nth allocation fail.
#pragma once

#include <cstdint>

// A zero-filled block of `bytes` bytes, or null when none can be had.
void* ModuleAlloc(uint64_t bytes);
// Releases a block from ModuleAlloc; null is ignored.
void ModuleFree(void* block);

// Asks the C runtime to hand its free heap memory back to the system (after an
// export, which may have held hundreds of megabytes).
void ModuleHeapTrim();

// Test hooks. After ModuleHeapFailAt(n) with n >= 1 the nth allocation from
// now fails (once), after ModuleHeapFailFrom(n) it fails and so does every
// later one; n = 0 switches failing off.
void ModuleHeapFailAt(int64_t n);
void ModuleHeapFailFrom(int64_t n);
// Allocations made since the start of the process, and blocks not yet freed.
int64_t ModuleHeapAllocCount();
int64_t ModuleHeapLiveBlocks();
