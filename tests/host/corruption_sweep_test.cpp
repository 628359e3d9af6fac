// Every corpus file with single bytes changed at random places: each copy
// loads a whole object or is refused, shows no message and leaves no host or
// module block behind. Under the sanitizers no read leaves its buffer.
#include <random>

#include "host_support.h"
#include "standin_check.h"

namespace {

using namespace host_support;

// Copies per file: as many as kBytesPerFile bytes of loading allow, within
// [kFewest, kMost], so that the large files are sampled more thinly.
constexpr size_t kBytesPerFile = 6'000'000;
constexpr size_t kFewest = 8;
constexpr size_t kMost = 150;
// Half the changes write one of the bytes the readers decide on.
constexpr char kTelling[] = {'\n', '\r', ' ', '\0', '-', '+', '.', '/', '\\', '0', '7', 'e', 'v', 'f', 'g'};

class CorruptionSweep : public ModuleTest {
protected:
    void Sweep(const std::string& format, const std::string& skip) {
        std::mt19937 random(7);
        int32_t loaded = 0, copies = 0;
        for (const fs::path& path : CorpusFiles(format, skip)) {
            const std::string whole = ReadFile(path);
            if (whole.empty()) continue;
            const size_t count = std::clamp(kBytesPerFile / whole.size(), kFewest, kMost);
            for (size_t i = 0; i < count; ++i, ++copies) {
                std::string damaged = whole;
                const size_t at = random() % damaged.size();
                const uint32_t pick = random();
                damaged[at] = pick % 2 ? kTelling[pick / 2 % std::size(kTelling)] : static_cast<char>(pick >> 8);
                const int32_t result = Load(Write("damaged." + format, damaged), kLoadNewObject, format.c_str());
                const std::string problem = object_ ? standin::ObjectProblem(*object_) : "";
                const bool answeredWhole = (result == 0 && !object_) || (result == 1 && object_ && problem.empty());
                loaded += result == 1;
                const bool clean = standin::Messages().empty() && DestroyLoaded();
                if (!answeredWhole || !clean) {
                    ADD_FAILURE() << path.filename() << " byte " << at << " made " << int(uint8_t(damaged[at]))
                                  << ": answered " << result << " " << problem;
                    return;
                }
            }
        }
        RecordProperty("copies", copies);
        EXPECT_GT(loaded, 0);
    }
};

TEST_F(CorruptionSweep, ObjFiles) { Sweep("obj", ".mtl"); }
TEST_F(CorruptionSweep, DxfFiles) { Sweep("dxf", ""); }
TEST_F(CorruptionSweep, TdsFiles) { Sweep("3ds", ".txt"); }

}  // namespace
