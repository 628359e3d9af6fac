// The module, loading a file as the host does, saving through an export
// server, and one conversion from end to end.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <unordered_map>

#include "convert.h"
#include "standin_host.h"

namespace convert {

const std::array<Format, 3> kFormats = {{
    {"3ds", "3D Studio"},
    {"obj", "Wavefront OBJ"},
    {"dxf", "DXF"},
}};

const Format* FormatNamed(std::string_view name) {
    for (const Format& format : kFormats) {
        if (name.size() != 3) break;
        bool same = true;
        for (size_t i = 0; i < 3; ++i) {
            same = same && std::tolower(static_cast<unsigned char>(name[i])) == format.extension[i];
        }
        if (same) return &format;
    }
    return nullptr;
}

const Format* FormatOfPath(const fs::path& path) {
    const std::string extension = path.extension().string();
    return extension.size() == 4 && extension[0] == '.' ? FormatNamed(std::string_view(extension).substr(1)) : nullptr;
}

int Report(const Outcome& outcome) {
    if (outcome.file.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, outcome.reason.c_str());
    } else {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, outcome.file.c_str(), outcome.reason.c_str());
    }
    return outcome.code;
}

void Note(const std::string& file, const std::string& text) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), text.c_str());
}

// ---- The module and its objects ------------------------------------------------------------

namespace {
uint64_t g_memoryLimit = 0;
}  // namespace

// The converter keeps no log of host calls: files can hold millions of polygons.
ModuleSession::ModuleSession(const std::string& path, uint64_t memoryLimit) {
    standin::SetCallLogging(false);
    standin::SetMemoryLimit(memoryLimit);
    g_memoryLimit = memoryLimit;
    loaded_ = standin::LoadModule(path, &error_);
}

ModuleSession::~ModuleSession() {
    if (loaded_) standin::UnloadModule();
}

LoadedObject::~LoadedObject() { standin::DestroyObject(object_); }

namespace {

// What the module showed through the host's message box, as one text; the
// box is emptied.
std::string TakeModuleMessages() {
    std::string text;
    for (const auto& [line1, line2] : standin::Messages()) text += (text.empty() ? "" : "; ") + line1 + " " + line2;
    standin::ClearMessages();
    return text;
}

std::string LoadFailure(const Format& format, const std::string& said) {
    if (!said.empty()) return std::string("recognised as ") + format.title + ", but the host ran out of memory (" + said + ")";
    return std::string("recognised as ") + format.title + ", but it is damaged or holds nothing the module reads";
}

// The import server whose check accepts `local` (a path in the working
// folder), in the module's detection order; null when none does.
const standin::Server* ServerFor(const std::string& local, const Format** format) {
    for (const Format& candidate : kFormats) {
        const standin::Server* server = standin::FindServer(true, candidate.extension);
        if (server && standin::CheckFile(*server, local)) {
            *format = &candidate;
            return server;
        }
    }
    return nullptr;
}

}  // namespace

// The module is handed a short path from the file's own folder: it takes
// paths below 1024 bytes only, and names the object after the file anyway.
Outcome LoadInput(const std::string& path, const std::string& shownAs, LoadedObject& object, const Format** format,
                  uint32_t loadFlags) {
    bool binaryDxf = false;
    Outcome inspected = InspectInput(path, &binaryDxf);
    if (!inspected.ok()) return {inspected.code, shownAs, inspected.reason};
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    const WorkingFolder inside(absolute.parent_path());
    if (error || !inside.entered()) return {kExitUnreadable, shownAs, "its folder cannot be entered"};
    const std::string local = absolute.filename().string();
    const standin::Server* server = ServerFor(local, format);
    if (!server) {
        return {kExitNotRecognised, shownAs,
                binaryDxf ? "binary DXF is not supported (only ASCII DXF is read)"
                          : "not a file of any of the three formats (Wavefront OBJ, 3D Studio, ASCII DXF)"};
    }
    const int32_t loaded = standin::LoadFile(*server, object.slot(), local, loadFlags);
    const std::string said = TakeModuleMessages();
    // Past the limit the module may still finish with part of the object: it is not taken.
    if (standin::MemoryLimitReached()) {
        return {kExitLoadFailed, shownAs,
                "the memory limit of " + std::to_string(g_memoryLimit >> 20) + " MB was reached (--max-memory raises it)"};
    }
    if (!loaded || (loadFlags != 0 && !object.get())) return {kExitLoadFailed, shownAs, LoadFailure(**format, said)};
    if (!said.empty()) Note(shownAs, "loaded, but the module said: " + said);
    return Outcome::Done();
}

namespace {

// Limits of the module that the converter can see coming from the object.
constexpr int64_t kMaxCorners = 4000;
constexpr int64_t k3DSPointLimit = 65532;
constexpr int64_t k3DSMeshTriangles = 65535;

// Why a save the module answered 0 for most likely failed, from what the object holds.
std::string LikelySaveFailure(const Format& to, const HostObject& object) {
    const HostGeometry* geometry = object.geometry;
    if (!geometry) return "the object has no geometry";
    if (geometry->surfaceCount < 1 || !geometry->surfaceArray) return "the object has no surfaces";
    std::unordered_map<int32_t, int64_t> trianglesPerSurface;
    int64_t triangles = 0;
    for (int32_t i = 0; i < geometry->polygonCount && geometry->polygons; ++i) {
        const HostPolygon* polygon = geometry->polygons[i];
        if (polygon->cornerCount > kMaxCorners) return "a polygon has more than 4000 corners";
        if (polygon->cornerCount < 3) continue;
        triangles += polygon->cornerCount - 2;
        trianglesPerSurface[polygon->surface] += polygon->cornerCount - 2;
    }
    if (std::string_view(to.extension) != "3ds") return "the module could not write it (out of memory, or a damaged object)";
    if (geometry->pointCount >= k3DSPointLimit) {
        return "a 3D Studio file allows at most 65531 points in all, and the object has " +
               std::to_string(geometry->pointCount);
    }
    if (triangles == 0) return "the object has no faces, and 3D Studio stores triangles only";
    for (const auto& [surface, count] : trianglesPerSurface) {
        if (count > k3DSMeshTriangles) {
            return "surface " + std::to_string(surface) + " has " + std::to_string(count) +
                   " triangles, and 3D Studio allows at most 65535 per surface";
        }
    }
    return "the object's faces have no area, and 3D Studio stores triangles only (or memory ran out)";
}

// Saves the object as `fileName` in `folder`: the module names the object
// after the path it is given, and a short relative one gives the file's own name.
Outcome SaveInto(const HostObject& object, const Format& to, const fs::path& folder, const std::string& fileName,
                 const std::string& shownAs) {
    const standin::Server* server = standin::FindServer(false, to.extension);
    if (!server) return {kExitSaveFailed, shownAs, std::string("the module has no export server for ") + to.title};
    int32_t saved = 0;
    {
        const WorkingFolder inside(folder);
        if (!inside.entered()) return {kExitSaveFailed, shownAs, "its folder cannot be entered"};
        saved = standin::SaveObject(*server, const_cast<HostObject*>(&object), fileName, 0);
    }
    const std::string said = TakeModuleMessages();
    if (!saved) return {kExitSaveFailed, shownAs, said.empty() ? LikelySaveFailure(to, object) : said};
    return Outcome::Done();
}

// Test hook: the file this variable names replaces the written one before
// --verify reads it back, so that a test can show a changed file caught.
void SwapBeforeVerify(const fs::path& written) {
    const char* swap = std::getenv("TAMLORN_CONVERT_TEST_SWAP_BEFORE_VERIFY");
    std::error_code error;
    if (!swap || !*swap) return;
    // Removed first: the copy_file of mingw-w64's libstdc++ 12 does not overwrite.
    fs::remove(written, error);
    fs::copy_file(swap, written, error);
}

Outcome VerifyWritten(const HostObject& original, const Format& to, const fs::path& written,
                      const std::string& shownAs) {
    SwapBeforeVerify(written);
    LoadedObject back;
    const Format* format = nullptr;
    const Outcome loaded = LoadInput(written.string(), shownAs, back, &format);
    // A DXF file without entities holds no point, and no point does not load:
    // it is compared as the empty object it stands for.
    if (loaded.code == kExitLoadFailed && std::string_view(to.extension) == "dxf" && !standin::MemoryLimitReached()) {
        static const HostObject kEmpty{};
        return Verify(original, kEmpty, to, shownAs);
    }
    if (!loaded.ok()) return {kExitVerifyFailed, shownAs, "the written file does not load again: " + loaded.reason};
    if (format != &to) {
        return {kExitVerifyFailed, shownAs, std::string("the written file reads as ") + format->title};
    }
    return Verify(original, *back.get(), to, shownAs);
}

// Standard input, kept in a private folder as a file the module can open.
class StagedInput {
public:
    explicit StagedInput(const std::string& input) : input_(input) {}

    Outcome Stage(const Options& options) {
        if (input_ != "-") return Outcome::Done();
        folder_.emplace(fs::temp_directory_path());
        if (folder_->path().empty()) return {kExitUnreadable, kShownAs, "no temporary folder: " + folder_->error()};
        const std::string name = options.name.empty() ? "stdin" : options.name;
        staged_ = folder_->File(name + "." + (options.from ? options.from->extension : "input"));
        std::string error;
        if (!CopyStandardInput(staged_, &error)) return {kExitUnreadable, kShownAs, error};
        return Outcome::Done();
    }

    std::string path() const { return input_ == "-" ? staged_.string() : input_; }
    std::string shownAs() const { return input_ == "-" ? kShownAs : input_; }

private:
    static constexpr const char* kShownAs = "standard input";
    std::string input_;
    std::optional<PrivateFolder> folder_;
    fs::path staged_;
};

// The object's name in the output: --name, else the output's own, else the input's.
std::string OutputStem(const Options& options, const std::string& input, const std::string& output) {
    if (!options.name.empty()) return options.name;
    if (output != "-") return fs::path(output).stem().string();
    return input == "-" ? "object" : fs::path(input).stem().string();
}

Outcome CheckOutput(const std::string& input, const std::string& output) {
    if (output == "-") return Outcome::Done();
    if (input != "-" && SameFile(input, output)) return {kExitSaveFailed, output, "is the input file, which is never written"};
    std::error_code error;
    if (fs::is_directory(output, error)) return {kExitSaveFailed, output, "is a directory"};
    return Outcome::Done();
}

Outcome Preview(const Options& options, const std::string& input, const HostObject& object) {
    if (options.preview.empty()) return Outcome::Done();
    if (input != "-" && SameFile(input, options.preview)) {
        return {kExitSaveFailed, options.preview, "is the input file, which is never written"};
    }
    std::string error;
    if (!WritePreview(object, options.preview, options.width, options.height, &error)) {
        return {kExitSaveFailed, options.preview, error};
    }
    return Outcome::Done();
}

}  // namespace

Outcome ConvertOne(const Options& options, const std::string& input, const std::string& output, ReportEntry& entry) {
    const Format* to = output == "-" ? options.to : FormatOfPath(output);
    if (!to) return {kExitUsage, output, "OUTPUT must end in .obj, .3ds or .dxf"};
    if (Outcome checked = CheckOutput(input, output); !checked.ok()) return checked;
    StagedInput source(input);
    if (Outcome staged = source.Stage(options); !staged.ok()) return staged;
    LoadedObject object;
    if (Outcome loaded = LoadInput(source.path(), source.shownAs(), object, &entry.format); !loaded.ok()) return loaded;
    if (options.from && entry.format != options.from) {
        return {kExitNotRecognised, source.shownAs(),
                std::string("holds ") + entry.format->title + ", not " + options.from->title + " as --from says"};
    }
    entry.points = object.get()->geometry ? object.get()->geometry->pointCount : 0;
    entry.polygons = object.get()->geometry ? object.get()->geometry->polygonCount : 0;

    const std::string shownAs = output == "-" ? "standard output" : output;
    const fs::path parent = output == "-" ? fs::temp_directory_path() : fs::path(output).parent_path();
    const PrivateFolder folder(parent.empty() ? fs::path(".") : parent);
    if (folder.path().empty()) return {kExitSaveFailed, shownAs, "its folder cannot be written: " + folder.error()};
    const std::string fileName = OutputStem(options, input, output) + "." + to->extension;
    const fs::path written = folder.File(fileName);
    if (Outcome saved = SaveInto(*object.get(), *to, folder.path(), fileName, shownAs); !saved.ok()) return saved;
    if (options.verify) {
        if (Outcome verified = VerifyWritten(*object.get(), *to, written, shownAs); !verified.ok()) return verified;
    }
    std::string error;
    if (output == "-") {
        if (!CopyToStandardOutput(written, &error)) return {kExitSaveFailed, shownAs, error};
    } else {
        std::error_code renameError;
        fs::rename(written, output, renameError);
        if (renameError) return {kExitSaveFailed, output, "cannot be put in place: " + renameError.message()};
    }
    const std::string notKept = NotKept(*object.get(), *to);
    if (!options.quiet && !notKept.empty()) Note(shownAs, notKept);
    return Preview(options, input, *object.get());
}

Outcome LoadAndUse(const Options& options, const std::string& input, const ObjectUse& use) {
    StagedInput source(input);
    if (Outcome staged = source.Stage(options); !staged.ok()) return staged;
    LoadedObject object;
    const Format* format = nullptr;
    if (Outcome loaded = LoadInput(source.path(), source.shownAs(), object, &format); !loaded.ok()) return loaded;
    return use(*object.get(), *format);
}

Outcome CheckOne(const Options& options, const std::string& input, const Format** format) {
    StagedInput source(input);
    if (Outcome staged = source.Stage(options); !staged.ok()) return staged;
    LoadedObject nothing;
    return LoadInput(source.path(), source.shownAs(), nothing, format, 0);
}

Outcome PreviewOne(const Options& options, const std::string& input) {
    return LoadAndUse(options, input, [&](const HostObject& object, const Format&) { return Preview(options, input, object); });
}

}  // namespace convert
