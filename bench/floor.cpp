// tamlorn-bench-floor FILE OBJECT_BYTES: this machine's floor for loading FILE.
// It reads the file whole, splits its lines and converts every number a loader
// has to convert (OBJ: the v, vt and f statements; DXF: every group code and
// the values of the coordinate and integer groups; a binary file: every 32-bit
// word is summed), then first-touches OBJECT_BYTES bytes of fresh memory in
// huge pages: the least a loader writes for the finished object. Prints
// "seconds=S read=R parse=P touch=T peak_rss_kb=K checksum=C".
#include <sys/mman.h>
#include <sys/resource.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr uint64_t kPageBytes = 4096;
constexpr uint64_t kHugePageBytes = uint64_t{2} << 20;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Fresh memory that asks for huge pages; the caller never frees it (the process ends).
char* FreshMemory(uint64_t bytes) {
    void* memory = mmap(nullptr, bytes + kHugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    madvise(memory, bytes + kHugePageBytes, MADV_HUGEPAGE);
    return static_cast<char*>(memory);
}

bool ReadWhole(const char* path, char** text, uint64_t* size) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::fseek(file, 0, SEEK_END);
    *size = static_cast<uint64_t>(std::ftell(file));
    std::fseek(file, 0, SEEK_SET);
    *text = FreshMemory(*size + 1);
    const bool read = *text && std::fread(*text, 1, *size, file) == *size;
    std::fclose(file);
    return read;
}

const char* SkipSpaces(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p;
}

// Converts the numbers of one line from `p` on: reals, or integers split by
// slashes; answers their sum (so that nothing is optimised away).
template <typename Number>
double ConvertAll(const char* p, const char* end) {
    double sum = 0;
    for (p = SkipSpaces(p, end); p < end; p = SkipSpaces(p, end)) {
        Number value{};
        const auto result = std::from_chars(p, end, value);
        if (result.ec != std::errc()) {
            ++p;
            continue;
        }
        sum += static_cast<double>(value);
        p = result.ptr;
        if (p < end && *p == '/') ++p;
    }
    return sum;
}

double ParseObj(const char* text, const char* end) {
    double sum = 0;
    for (const char* line = text; line < end;) {
        const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (!stop) stop = end;
        const std::string_view head(line, static_cast<size_t>(std::min<ptrdiff_t>(stop - line, 3)));
        if (head.starts_with("v ")) sum += ConvertAll<double>(line + 2, stop);
        if (head.starts_with("vt ")) sum += ConvertAll<double>(line + 3, stop);
        if (head.starts_with("f ")) sum += ConvertAll<int64_t>(line + 2, stop);
        line = stop + 1;
    }
    return sum;
}

double ParseDxf(const char* text, const char* end) {
    double sum = 0;
    int64_t code = 0;
    bool codeLine = true;
    for (const char* line = text; line < end; codeLine = !codeLine) {
        const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (!stop) stop = end;
        if (codeLine) {
            std::from_chars(SkipSpaces(line, stop), stop, code);
        } else if (code >= 10 && code < 60) {
            sum += ConvertAll<double>(line, stop);
        } else if (code >= 60 && code < 80) {
            sum += ConvertAll<int64_t>(line, stop);
        }
        line = stop + 1;
    }
    return sum;
}

double SumWords(const char* text, uint64_t size) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i + 4 <= size; i += 4) {
        uint32_t word = 0;
        std::memcpy(&word, text + i, 4);
        sum += word;
    }
    return static_cast<double>(sum);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE OBJECT_BYTES\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const uint64_t objectBytes = std::strtoull(argv[2], nullptr, 10);
    const auto start = Clock::now();
    char* text = nullptr;
    uint64_t size = 0;
    if (!ReadWhole(path.c_str(), &text, &size)) {
        std::fprintf(stderr, "tamlorn-bench-floor: cannot read %s\n", path.c_str());
        return 1;
    }
    const double read = SecondsSince(start);
    const auto parseStart = Clock::now();
    const std::string extension = path.substr(path.find_last_of('.') + 1);
    const double checksum = extension == "obj"   ? ParseObj(text, text + size)
                            : extension == "dxf" ? ParseDxf(text, text + size)
                                                 : SumWords(text, size);
    const double parse = SecondsSince(parseStart);
    const auto touchStart = Clock::now();
    char* object = objectBytes ? FreshMemory(objectBytes) : nullptr;
    for (uint64_t i = 0; object && i < objectBytes; i += kPageBytes) object[i] = 1;
    const double touch = SecondsSince(touchStart);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.4f read=%.4f parse=%.4f touch=%.4f peak_rss_kb=%ld checksum=%g\n", SecondsSince(start), read,
                parse, touch, usage.ru_maxrss, checksum);
    return 0;
}
