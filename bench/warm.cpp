// tamlorn-bench-warm MB: touches MB megabytes of fresh memory and gives them
// back. On a virtual machine the guest hands free memory back to the
// hypervisor a few seconds after it is freed, and the next program to touch it
// pays many times the cost of a page fault; run right before a timed program,
// this gives every program alike memory the hypervisor still backs.
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    constexpr uint64_t kPageBytes = 4096;
    constexpr uint64_t kMaxMegabytes = uint64_t{1} << 16;  // no more than 64 GiB, whatever is asked
    const uint64_t megabytes = argc == 2 ? std::strtoull(argv[1], nullptr, 10) : 0;
    if (megabytes == 0 || megabytes > kMaxMegabytes) {
        std::fprintf(stderr, "usage: tamlorn-bench-warm MB (1 to %llu)\n", static_cast<unsigned long long>(kMaxMegabytes));
        return 2;
    }
    const uint64_t bytes = megabytes << 20;
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 1;
    madvise(memory, bytes, MADV_HUGEPAGE);
    auto* bytesAt = static_cast<volatile char*>(memory);
    for (uint64_t offset = 0; offset < bytes; offset += kPageBytes) bytesAt[offset] = 1;
    munmap(memory, bytes);
    return 0;
}
