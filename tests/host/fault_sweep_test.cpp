// Every allocation (host's or module heap's; only the Nth, or the Nth on) and
// every file operation (failed or short) of each corpus file's load, of its
// saves, and of the saved files' loads, failed in turn. A load answers 0 with
// no object or 1 with a whole one; a save 0 without a file or 1 (a failed
// open gives 0, failed writes 1: the writers do not look at them); nothing
// leaks. The memory message shows once exactly when a module host allocation
// came back null or the builder's storage could not be had from the module
// heap; other module heap failures are silent.
#include <dlfcn.h>

#include <cerrno>
#include <random>
#include <set>

#include "host_support.h"
#include "standin_check.h"

namespace {

// The program exports its own stdio functions (ENABLE_EXPORTS), so the
// module's calls come here and pass through, except that the nth operation on
// the swept file fails: an open or seek fails, a read or write comes up short
// (by half or all), a character read meets the end of the file.

enum class Shortfall { kHalf, kNothing };

struct FileFaults {
    std::string path;      // the file swept
    std::set<FILE*> open;  // its streams
    int64_t count = 0;     // operations on it so far
    int64_t failAt = 0;    // 0: none fails
    bool onward = false;   // every operation after the failing one fails too
    Shortfall shortfall = Shortfall::kHalf;
};
FileFaults g_files;

bool Swept(FILE* file) { return g_files.open.count(file) != 0; }

bool FailsNow() {
    const int64_t n = ++g_files.count;
    return g_files.failAt > 0 && (n == g_files.failAt || (g_files.onward && n > g_files.failAt));
}

size_t Shortened(size_t n) { return g_files.shortfall == Shortfall::kHalf ? n / 2 : 0; }

template <typename Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

FILE* fopen(const char* path, const char* mode) {
    static const auto real = Real<FILE* (*)(const char*, const char*)>("fopen");
    if (g_files.path.empty() || g_files.path != path) return real(path, mode);
    if (FailsNow()) {
        errno = EIO;
        return nullptr;
    }
    FILE* file = real(path, mode);
    if (file) g_files.open.insert(file);
    return file;
}

int fclose(FILE* file) {
    static const auto real = Real<int (*)(FILE*)>("fclose");
    g_files.open.erase(file);
    return real(file);
}

size_t fread(void* data, size_t size, size_t n, FILE* file) {
    static const auto real = Real<size_t (*)(void*, size_t, size_t, FILE*)>("fread");
    return real(data, size, Swept(file) && FailsNow() ? Shortened(n) : n, file);
}

size_t fwrite(const void* data, size_t size, size_t n, FILE* file) {
    static const auto real = Real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    return real(data, size, Swept(file) && FailsNow() ? Shortened(n) : n, file);
}

int fgetc(FILE* file) {
    static const auto real = Real<int (*)(FILE*)>("fgetc");
    return Swept(file) && FailsNow() ? EOF : real(file);
}

int fseek(FILE* file, long offset, int whence) {
    static const auto real = Real<int (*)(FILE*, long, int)>("fseek");
    if (!Swept(file) || !FailsNow()) return real(file, offset, whence);
    errno = EIO;
    return -1;
}

long ftell(FILE* file) {
    static const auto real = Real<long (*)(FILE*)>("ftell");
    if (!Swept(file) || !FailsNow()) return real(file);
    errno = EIO;
    return -1;
}

}  // extern "C"

namespace {

using namespace host_support;

// Up to kEveryUpTo failure points are all swept; more, the first and last kEdge and kDrawn drawn ones.
constexpr int64_t kEveryUpTo = 2000;
constexpr int64_t kEdge = 500;
constexpr int64_t kDrawn = 500;
constexpr uint64_t kSeed = 13;
// The time cap, counted in work (host allocations, or bytes read) so that it
// does not depend on the machine: it thins the large files' samples and keeps
// the sweeps to about 29000 runs, two or three minutes under ASan + UBSan.
constexpr int64_t kAllocationBudget = 150'000;
constexpr int64_t kFileByteBudget = 2'000'000;

enum class Heap { kHost, kModule };
enum class Failing { kOnlyTheNth, kFromTheNthOn };

// The failure points of a sweep over `count` operations whose runs each cost
// `cost` of `budget`: every one, or the edges and a fixed draw, within it.
std::vector<int64_t> FailurePoints(int64_t count, int64_t cost, int64_t budget) {
    std::vector<int64_t> points;
    if (count <= kEveryUpTo) {
        for (int64_t n = 1; n <= count; ++n) points.push_back(n);
    } else {
        std::set<int64_t> chosen;
        for (int64_t k = 0; k < kEdge; ++k) chosen.insert({1 + k, count - k});
        std::mt19937_64 draw(kSeed);
        while (static_cast<int64_t>(chosen.size()) < 2 * kEdge + kDrawn)
            chosen.insert(1 + static_cast<int64_t>(draw() % static_cast<uint64_t>(count)));
        points.assign(chosen.begin(), chosen.end());
    }
    // Cut evenly to what the budget affords, the first and last kept.
    const auto affordable = static_cast<size_t>(std::max<int64_t>(budget / std::max<int64_t>(cost, 1), 2));
    if (points.size() <= affordable) return points;
    std::vector<int64_t> kept;
    for (size_t i = 0; i < affordable; ++i) kept.push_back(points[i * (points.size() - 1) / (affordable - 1)]);
    return kept;
}

// The module's host allocations, watched through its HostCore table: whether
// one came back null, and the module heap's count at the second (the building's start).
HostAllocFn g_hostAlloc;
HostReallocFn g_hostRealloc;
bool g_moduleGotNull;
int64_t g_moduleHostCalls;
int64_t g_heapCountAtBuild;

void* Watched(void* block) {
    g_moduleGotNull = g_moduleGotNull || !block;
    if (++g_moduleHostCalls == 2) g_heapCountAtBuild = standin::ModuleHeapAllocationCount();
    return block;
}
void* WatchedAlloc(uint64_t count, uint64_t size) { return Watched(g_hostAlloc(count, size)); }
void* WatchedRealloc(void* block, uint64_t newSize) { return Watched(g_hostRealloc(block, newSize)); }

void StartWatching() {
    g_moduleGotNull = false;
    g_moduleHostCalls = 0;
    g_heapCountAtBuild = -1;
    standin::ClearMessages();
}

void Arm(Heap heap, Failing failing, int64_t n) {
    const bool onward = failing == Failing::kFromTheNthOn;
    if (heap == Heap::kHost) {
        onward ? standin::FailAllocationsFrom(n) : standin::FailAllocationAt(n);
    } else {
        ASSERT_TRUE(onward ? standin::ModuleHeapFailFrom(n) : standin::ModuleHeapFailAt(n));
    }
}

void Disarm() {
    standin::FailAllocationAt(0);
    standin::ModuleHeapFailAt(0);
    g_files.failAt = 0;
}

int64_t Allocations(Heap heap) {
    return heap == Heap::kHost ? standin::AllocationCount() : standin::ModuleHeapAllocationCount();
}

// Counts the operations on `path` from now on, failing none.
void CountFileOperations(const fs::path& path) {
    g_files = FileFaults{};
    g_files.path = path.string();
}

void ArmFile(Failing failing, Shortfall shortfall, int64_t n) {
    g_files.count = 0;
    g_files.failAt = n;
    g_files.onward = failing == Failing::kFromTheNthOn;
    g_files.shortfall = shortfall;
}

// The module's heap failing: the message is due when the building began and
// one of its allocations failed (of `count`, `beforeBuild` came before it).
size_t MessagesOfModuleHeap(Failing failing, int64_t n, int64_t beforeBuild, int64_t count) {
    const bool built = g_moduleHostCalls >= 2;
    return built && (failing == Failing::kOnlyTheNth ? n > beforeBuild : count > beforeBuild) ? 1 : 0;
}

struct Item {
    fs::path path;
    std::string extension;  // of the import server that loads it
    bool saved;             // written by an export server: its building is swept with the corpus file's
};

const Failing kBothWays[] = {Failing::kOnlyTheNth, Failing::kFromTheNthOn};

class FaultSweep : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        HostCore* core = standin::Core();
        g_hostAlloc = core->alloc;
        g_hostRealloc = core->realloc;
        core->alloc = WatchedAlloc;
        core->realloc = WatchedRealloc;
    }
    void TearDown() override {
        Disarm();
        g_files = FileFaults{};
        standin::Core()->alloc = g_hostAlloc;
        standin::Core()->realloc = g_hostRealloc;
        RecordProperty("runs", std::to_string(runs_));
        ModuleTest::TearDown();
    }
    int32_t LoadItem(const Item& item) { return Load(item.path, kLoadNewObject, item.extension.c_str()); }
    // What is wrong with one load that should show `messages` messages ("": nothing); the object is destroyed.
    std::string LoadProblem(int32_t result, size_t messages) {
        std::string problem;
        if (result != 0 && result != 1) problem = "answered " + std::to_string(result);
        if ((result == 1) != (object_ != nullptr)) problem = "answered " + std::to_string(result) + ", slot wrong";
        if (problem.empty() && object_) problem = standin::ObjectProblem(*object_);
        const auto& shown = standin::Messages();
        if (problem.empty() && shown.size() != messages) problem = std::to_string(shown.size()) + " messages";
        if (problem.empty() && messages && result != 0) problem = "the memory message with a successful load";
        for (const auto& [line1, line2] : shown)
            if (line1 != "There isn't enough memory available" || line2 != "to perform this operation!")
                problem = "message " + line1 + " / " + line2;
        if (!g_files.open.empty()) problem = "a stream left open";
        if (!DestroyLoaded()) problem += " (blocks left)";
        return problem;
    }
    bool Report(const fs::path& path, const char* what, int64_t n, int64_t count, const std::string& problem) {
        if (problem.empty()) {
            ++runs_;
            return true;
        }
        ADD_FAILURE() << path.filename() << ": " << what << " " << n << " of " << count << " failing: " << problem;
        return false;
    }
    // Sweeps one file's loads under allocation failures; false after the first failure reported.
    bool SweepLoads(const Item& item, Heap heap, Failing failing) {
        const int64_t before = Allocations(heap), hostBefore = Allocations(Heap::kHost);
        const int64_t heapBefore = Allocations(Heap::kModule);
        StartWatching();
        LoadItem(item);
        const int64_t count = Allocations(heap) - before, work = Allocations(Heap::kHost) - hostBefore;
        const int64_t beforeBuild = g_heapCountAtBuild < 0 ? count : g_heapCountAtBuild - heapBefore;
        if (!DestroyLoaded()) return false;
        for (const int64_t n : FailurePoints(count, work, kAllocationBudget)) {
            StartWatching();
            Arm(heap, failing, n);
            const int32_t result = LoadItem(item);
            Disarm();
            const size_t messages =
                heap == Heap::kHost ? (g_moduleGotNull ? 1 : 0) : MessagesOfModuleHeap(failing, n, beforeBuild, count);
            if (!Report(item.path, "allocation", n, count, LoadProblem(result, messages))) return false;
        }
        return true;
    }
    // Sweeps the loads of one file under failing file operations.
    bool SweepFileLoads(const Item& item) {
        CountFileOperations(item.path);
        LoadItem(item);
        const int64_t count = g_files.count;
        if (!DestroyLoaded()) return false;
        if (count == 0) return Report(item.path, "file operation", 0, 0, "the module's file operations are not seen");
        const auto cost = static_cast<int64_t>(fs::file_size(item.path));
        for (const Failing failing : kBothWays)
            for (const Shortfall shortfall : {Shortfall::kHalf, Shortfall::kNothing})
                for (const int64_t n : FailurePoints(count, cost, kFileByteBudget)) {
                    standin::ClearMessages();
                    ArmFile(failing, shortfall, n);
                    const int32_t result = LoadItem(item);
                    Disarm();
                    if (!Report(item.path, "file operation", n, count, LoadProblem(result, 0))) return false;
                }
        return true;
    }
    // A saved file's building is the corpus file's: its host allocations are not swept again.
    void SweepFiles(const std::vector<Item>& items) {
        for (const Item& item : items) {
            for (const Heap heap : {Heap::kHost, Heap::kModule})
                for (const Failing failing : kBothWays)
                    if ((heap == Heap::kModule || !item.saved) && !SweepLoads(item, heap, failing)) return;
            if (!SweepFileLoads(item)) return;
        }
        EXPECT_GT(runs_, 0);
    }
    // One save of the loaded object, checked ("": as it should, given whether its file could be opened).
    std::string SaveProblem(const standin::Server& server, const fs::path& out, bool fileOpened) {
        fs::remove(out);
        standin::ClearMessages();
        const int32_t result = standin::SaveObject(server, object_, out.string(), 0);
        Disarm();
        const bool written = fs::exists(out);
        if (result != 0 && result != 1) return "answered " + std::to_string(result);
        if (written != (result == 1)) return "answered " + std::to_string(result) + (written ? " with" : " without") + " a file";
        if (!fileOpened && result != 0) return "answered 1 without its file";
        if (!standin::Messages().empty()) return "a message";
        if (standin::ModuleHeapLiveBlocks() != 0) return "module blocks left";
        if (!g_files.open.empty()) return "a stream left open";
        return "";
    }
    // Sweeps one save into `out` under module heap (a save makes no host
    // allocation) and file failures; `loadWork` is what the load cost.
    bool SweepSave(const standin::Server& server, const fs::path& out, int64_t loadWork) {
        const int64_t hostBefore = Allocations(Heap::kHost), heapBefore = Allocations(Heap::kModule);
        CountFileOperations(out);
        if (!SaveProblem(server, out, true).empty()) return Report(out, "clean save", 0, 0, "failed");
        EXPECT_EQ(Allocations(Heap::kHost), hostBefore) << out.filename() << ": a save allocated host memory";
        const int64_t count = Allocations(Heap::kModule) - heapBefore, operations = g_files.count;
        for (const Failing failing : kBothWays) {
            for (const int64_t n : FailurePoints(count, loadWork, kAllocationBudget)) {
                Arm(Heap::kModule, failing, n);
                if (!Report(out, "allocation", n, count, SaveProblem(server, out, true))) return false;
            }
            for (const int64_t n : FailurePoints(operations, loadWork, kAllocationBudget)) {
                ArmFile(failing, Shortfall::kHalf, n);
                if (!Report(out, "file operation", n, operations, SaveProblem(server, out, n != 1))) return false;
            }
        }
        g_files = FileFaults{};
        return SaveProblem(server, out, true).empty();
    }
    // The files each export server writes from `source` (each save swept when `sweep` is set).
    std::vector<Item> Saves(const Item& source, bool sweep) {
        std::vector<Item> written;
        const int64_t hostBefore = Allocations(Heap::kHost);
        if (LoadItem(source) == 1) {
            const int64_t loadWork = Allocations(Heap::kHost) - hostBefore;
            for (const char* format : {"obj", "3ds", "dxf"}) {
                const fs::path out = dir_ / (source.path.filename().string() + "." + format);
                const standin::Server& server = *standin::FindServer(false, format);
                if (sweep ? !SweepSave(server, out, loadWork) : !SaveProblem(server, out, true).empty()) break;
                if (fs::exists(out)) written.push_back({out, format, true});  // a format may hold none of the elements
            }
        }
        DestroyLoaded();
        return written;
    }
    void SweepCorpus(const std::string& format, bool savedFiles) {
        std::vector<Item> corpus, saved;
        for (const fs::path& path : CorpusFiles(format, ".txt")) corpus.push_back({path, format, false});
        for (const Item& item : corpus) {
            const std::vector<Item> written = Saves(item, !savedFiles);
            saved.insert(saved.end(), written.begin(), written.end());
        }
        SweepFiles(savedFiles ? saved : corpus);
    }
    int64_t runs_ = 0;
};

TEST_F(FaultSweep, ObjCorpus) { SweepCorpus("obj", false); }
TEST_F(FaultSweep, ObjSaved) { SweepCorpus("obj", true); }
TEST_F(FaultSweep, TdsCorpus) { SweepCorpus("3ds", false); }
TEST_F(FaultSweep, TdsSaved) { SweepCorpus("3ds", true); }
TEST_F(FaultSweep, DxfCorpus) { SweepCorpus("dxf", false); }
TEST_F(FaultSweep, DxfSaved) { SweepCorpus("dxf", true); }

}  // namespace
