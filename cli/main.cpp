// ostrivel-repaint: repaints image files from the command line with the
// editor's engines, for batch work, scripts and benchmarks.

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cwchar>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "cli/methods.h"
#include "picbuf/image_file.h"
#include "picbuf/picbuf.h"
#include "picbuf/run_control.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

// The JPEG quality panel's range and the Save As default.
constexpr int kQualityMinimum = 10;
constexpr int kQualityMaximum = 100;
constexpr int kQualityDefault = 85;

const char* const kUnsupported = "Image format not supported!";

// ---- platform helpers ----------------------------------------------------
// Paths are kept as UTF-8 everywhere; PathOf hands them to the core and to
// std::filesystem (wide on Windows), Utf8Of brings them back.

fs::path PathOf(const std::string& utf8) { return fs::u8path(utf8); }
std::string Utf8Of(const fs::path& path) { return path.u8string(); }

#if defined(_WIN32)
bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// The progress bar's way back to the start of an empty line: the console's
// virtual-terminal mode where it has one, else spaces over the old line.
const std::string& ClearLine() {
    static const std::string clear = [] {
        HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (GetConsoleMode(console, &mode) &&
            SetConsoleMode(console, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            return std::string("\r\033[K");
        return "\r" + std::string(79, ' ') + "\r";
    }();
    return clear;
}

// Written straight to the handle: the C library's stderr may be in use by
// the thread that is being cut short.
void WriteErrorText(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

uint64_t PhysicalMemory() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? uint64_t(status.ullTotalPhys) : 0;
}
#else
bool StderrIsTerminal() { return isatty(STDERR_FILENO); }

const std::string& ClearLine() {
    static const std::string clear = "\r\033[K";
    return clear;
}

void WriteErrorText(const std::string& text) {
    [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
}

uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
}
#endif

struct Request {
    const RepaintMethod* method = nullptr;
    std::vector<std::string> inputs;
    std::string output;        // one output file
    std::string outputFolder;  // or a folder for a batch
    std::vector<int> positions;  // of the method's options, in their order
    int quality = kQualityDefault;
    int maxMegapixels = static_cast<int>(kDefaultMaxMegapixels);
    bool quiet = false;
};

// ---- messages ------------------------------------------------------------

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: ostrivel-repaint METHOD INPUT OUTPUT [options]\n"
                 "       ostrivel-repaint METHOD INPUT... -o FOLDER [options]\n"
                 "\n"
                 "Repaints photographs (BMP, JPEG, TIFF or PNG, 8 bits per component, grey or colour)\n"
                 "with the engines of the Ostrivel editor. The output format follows OUTPUT's extension\n"
                 "(.bmp, .jpg, .jpeg, .tif, .tiff, .png); the metadata and colour profile of INPUT are\n"
                 "carried over. With -o, each input is written into FOLDER under its own file name.\n"
                 "An existing output is replaced only once the new file is complete; an input is never\n"
                 "overwritten.\n"
                 "\n"
                 "Methods:\n");
    for (const RepaintMethod& method : RepaintMethods())
        std::fprintf(out, "  %-10s %s\n", method.name.c_str(), method.summary.c_str());
    std::fprintf(out,
                 "\n"
                 "Options of every method:\n"
                 "  -o, --output-folder FOLDER  write every input into FOLDER\n"
                 "  --quality Q                 JPEG quality, %d to %d (default %d)\n"
                 "  --max-megapixels N          refuse pictures of more than N megapixels (default %d)\n"
                 "  -q, --quiet                 no progress bar\n"
                 "  -h, --help                  this text; 'ostrivel-repaint METHOD --help' lists a method's options\n"
                 "  --                          ends the options: every later argument is a file\n"
                 "\n"
                 "Inputs: BMP, JPEG, TIFF or PNG; larger pictures than the limit are refused from their header.\n"
                 "Ctrl+C aborts cleanly: the picture in progress is not written.\n"
                 "Exit status: 0 success, 1 a picture failed, 2 wrong arguments or an output that would\n"
                 "overwrite an input or another output, 130 aborted.\n",
                 kQualityMinimum, kQualityMaximum, kQualityDefault, static_cast<int>(kDefaultMaxMegapixels));
}

// "0.25 to 5.00 in steps of 0.25", or "1 to 100" for whole steps: what an
// option takes, in the texts of the editor's dialog.
std::string RangeText(const MethodParam& option) {
    std::string range = ParamText(option, option.minimum) + " to " + ParamText(option, option.maximum);
    if (ParamStep(option) != 1.0f) {
        char step[32];
        std::snprintf(step, sizeof step, "%g", static_cast<double>(ParamStep(option)));
        range += std::string(" in steps of ") + step;
    }
    return range;
}

void PrintMethodHelp(const RepaintMethod& method) {
    std::printf("Usage: ostrivel-repaint %s INPUT OUTPUT [options]\n"
                "       ostrivel-repaint %s INPUT... -o FOLDER [options]\n\n%s\n\nOptions (the values the "
                "editor's dialog shows; defaults are the editor's):\n",
                method.name.c_str(), method.name.c_str(), method.summary.c_str());
    for (const MethodParam& option : method.options) {
        const std::string flag = std::string("--") + option.option + " N";
        std::printf("  %-26s %s (%s, default %s)\n", flag.c_str(), option.help, RangeText(option).c_str(),
                    ParamText(option, option.defaultPosition).c_str());
    }
    std::printf("  %-26s JPEG quality (%d to %d, default %d)\n", "--quality Q", kQualityMinimum, kQualityMaximum,
                kQualityDefault);
    std::printf("  %-26s refuse pictures of more than N megapixels (default %d)\n", "--max-megapixels N",
                static_cast<int>(kDefaultMaxMegapixels));
    std::printf("  %-26s write every input into FOLDER\n  %-26s no progress bar\n", "-o, --output-folder FOLDER",
                "-q, --quiet");
    if (!method.notes.empty()) std::printf("\n%s", method.notes.c_str());
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "ostrivel-repaint: %s\n", message.c_str());
}

// ---- arguments -----------------------------------------------------------

bool ParseWholeNumber(const std::string& text, int& value) {
    // strtol would skip leading blanks, and trailing ones are refused: neither is taken.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < -1000000 || parsed > 1000000) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseRanged(const std::string& flag, const std::string& text, int minimum, int maximum, int& value) {
    if (!ParseWholeNumber(text, value) || value < minimum || value > maximum) {
        Fail(flag + " takes a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum) +
             ", not '" + text + "'");
        return false;
    }
    return true;
}

// Returns 0 when the request is complete, an exit status otherwise (-1: help shown).
int ParseArguments(int argc, char** argv, Request& request) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        PrintUsage(stdout);
        return -1;
    }
    for (const RepaintMethod& method : RepaintMethods())
        if (method.name == first) request.method = &method;
    if (!request.method) {
        Fail("unknown method '" + first + "' (see --help)");
        return kExitUsage;
    }
    const RepaintMethod& method = *request.method;
    for (const MethodParam& option : method.options) request.positions.push_back(option.defaultPosition);

    std::vector<std::string> positional;
    bool optionsEnded = false;  // after "--", every argument is a file
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg == "--") {
            if (optionsEnded) positional.push_back(arg);
            optionsEnded = true;
            continue;
        }
        auto takeValue = [&](std::string& out) {
            if (i + 1 >= argc) {
                Fail(arg + " needs a value");
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string value;
        if (arg == "-h" || arg == "--help") {
            PrintMethodHelp(method);
            return -1;
        } else if (arg == "-q" || arg == "--quiet") {
            request.quiet = true;
        } else if (arg == "-o" || arg == "--output-folder") {
            if (!takeValue(request.outputFolder)) return kExitUsage;
        } else if (arg == "--quality") {
            if (!takeValue(value) || !ParseRanged(arg, value, kQualityMinimum, kQualityMaximum, request.quality))
                return kExitUsage;
        } else if (arg == "--max-megapixels") {
            if (!takeValue(value) || !ParseRanged(arg, value, 1, 1000000, request.maxMegapixels)) return kExitUsage;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            size_t k = 0;
            while (k < method.options.size() && std::string("--") + method.options[k].option != arg) ++k;
            if (k == method.options.size()) {
                Fail("unknown option " + arg + " for " + method.name + " (see 'ostrivel-repaint " + method.name +
                     " --help')");
                return kExitUsage;
            }
            const MethodParam& option = method.options[k];
            if (!takeValue(value)) return kExitUsage;
            if (!ParamPosition(option, value, request.positions[k])) {
                Fail(arg + " takes " + RangeText(option) + ", not '" + value + "'");
                return kExitUsage;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            Fail("unknown option " + arg + " (see --help)");
            return kExitUsage;
        } else {
            positional.push_back(arg);
        }
    }

    if (request.outputFolder.empty()) {
        if (positional.size() != 2) {
            Fail("give one INPUT and one OUTPUT, or several inputs with -o FOLDER (see --help)");
            return kExitUsage;
        }
        request.inputs = {positional[0]};
        request.output = positional[1];
    } else {
        if (positional.empty()) {
            Fail("no input pictures given");
            return kExitUsage;
        }
        std::error_code error;
        if (!fs::is_directory(PathOf(request.outputFolder), error)) {
            Fail("the output folder " + request.outputFolder + " does not exist");
            return kExitUsage;
        }
        request.inputs = positional;
    }
    return 0;
}

bool HasWritableExtension(const std::string& path) {
    std::string extension = Utf8Of(PathOf(path).extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* known : {".bmp", ".jpg", ".jpeg", ".jpe", ".jif", ".tif", ".tiff", ".png"})
        if (extension == known) return true;
    return false;
}

// True when both paths name one existing file (hard and symbolic links too).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(PathOf(a), PathOf(b), error);
}

// Where a path will be written: its folder resolved, so that two spellings of
// one place compare equal before either file exists.
fs::path WrittenPlace(const std::string& path) {
    std::error_code error;
    fs::path place = fs::weakly_canonical(fs::absolute(PathOf(path)), error);
    return error ? PathOf(path).lexically_normal() : place;
}

// Every output of the request, one per input.
std::vector<std::string> OutputsOf(const Request& request) {
    std::vector<std::string> outputs;
    for (const std::string& input : request.inputs)
        outputs.push_back(request.outputFolder.empty()
                              ? request.output
                              : Utf8Of(PathOf(request.outputFolder) / PathOf(input).filename()));
    return outputs;
}

// Refuses, before any work, a request that would write one output twice or
// over any of its inputs: 0, or the exit status.
int CheckOutputs(const Request& request, const std::vector<std::string>& outputs) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (const std::string& input : request.inputs) {
            if (SameFile(outputs[i], input)) {
                Fail(outputs[i] + ": refusing to overwrite the input picture " + input + "; nothing was written");
                return kExitUsage;
            }
        }
        for (size_t j = 0; j < i; ++j) {
            if (WrittenPlace(outputs[i]) == WrittenPlace(outputs[j]) || SameFile(outputs[i], outputs[j])) {
                Fail(request.inputs[j] + " and " + request.inputs[i] + " would both be written to " + outputs[i] +
                     "; nothing was written");
                return kExitUsage;
            }
        }
    }
    return 0;
}

// ---- Ctrl+C and progress -------------------------------------------------
// The first stop request asks the run to stop: the engine stops at its next
// poll and a save under way stops writing and removes its temporary file.
// The second ends the program at once, but waits for a save under way to
// clean up first.

std::mutex saveLock;  // held while a file is written

#if defined(_WIN32)
UINT startingConsolePage = 0;  // the console's code page before ours, given back on every way out
#endif

// Ends the program at once; on Windows the console gets its code page back,
// which a plain _exit would leave at UTF-8 for the commands typed after.
[[noreturn]] void EndNow(int status) {
#if defined(_WIN32)
    if (startingConsolePage) SetConsoleOutputCP(startingConsolePage);
#endif
    _exit(status);
}

[[noreturn]] void EndAborted() {
    saveLock.lock();  // never released: the program ends here
    WriteErrorText(ClearLine() + "ostrivel-repaint: aborted\n");
    EndNow(kExitAborted);
}

#if defined(_WIN32)
// Ctrl+C and Ctrl+Break come to a thread of their own. Closing the console
// (or logging off) leaves a few seconds before Windows ends the process, so
// it ends the program at once, after a save under way has finished.
BOOL WINAPI TakeConsoleEvent(DWORD event) {
    static std::atomic<int> received{0};
    const bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    RequestAbort(true);
    if (++received == 1 && !closing) return TRUE;
    EndAborted();
}

void StartSignalThread() { SetConsoleCtrlHandler(TakeConsoleEvent, TRUE); }
#else
// SIGINT, SIGTERM and SIGHUP are blocked before any thread starts (OpenMP's
// threads inherit the mask) and taken by one thread, so no handler ever runs
// in the middle of a save.
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void TakeSignals() {
    const sigset_t set = StopSignals();
    for (int received = 0;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (++received == 1) {
            RequestAbort(true);
            continue;
        }
        EndAborted();
    }
}

void StartSignalThread() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(TakeSignals).detach();
}
#endif

class ProgressBar {
public:
    ProgressBar(bool shown, std::string label, int total) : shown_(shown), label_(std::move(label)), total_(total) {
        if (shown_) Draw(0);
    }
    ~ProgressBar() {
        if (shown_) std::fprintf(stderr, "%s", ClearLine().c_str());
    }

    static void Advance(int steps, ProgressRule, void* context) {
        auto* bar = static_cast<ProgressBar*>(context);
        int done = bar->done_.fetch_add(steps) + steps;
        if (!bar->shown_) return;
        // Engines may report from several threads; whoever holds the lock draws.
        std::unique_lock<std::mutex> lock(bar->drawing_, std::try_to_lock);
        if (lock.owns_lock()) bar->Draw(done);
    }

private:
    void Draw(int done) {
        const int width = 30;
        int total = std::max(total_, 1);
        int percent = std::min(100, done * 100 / total);
        int filled = percent * width / 100;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(width - filled), '-');
        std::fprintf(stderr, "%s%s [%s] %3d%%", ClearLine().c_str(), label_.c_str(), bar.c_str(), percent);
        std::fflush(stderr);
    }

    bool shown_;
    std::string label_;
    int total_;
    std::atomic<int> done_{0};
    std::mutex drawing_;
};

// ---- one picture ---------------------------------------------------------

enum class Outcome { Written, Failed, Aborted };

std::string Figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f" : "%.0f", value);
    return text;
}

// Says why input was refused.
std::string RefusalText(PictureRefusal refusal, const std::string& input, const PictureHeader& header,
                        const Request& request) {
    std::error_code error;
    switch (refusal) {
    case PictureRefusal::Missing: return "no such file";
    case PictureRefusal::NotAFile:
        return fs::is_directory(PathOf(input), error) ? "is a folder, not a picture"
                                              : "is not a regular file (a FIFO, device or socket), not a picture";
    case PictureRefusal::Unreadable: return std::string("cannot be read (") + std::strerror(header.systemError) + ")";
    case PictureRefusal::Damaged: return "the file is damaged: its header and its data do not agree";
    case PictureRefusal::NotEnoughMemory: return "not enough memory to read this picture";
    case PictureRefusal::TooLarge: {
        const double megapixels = double(header.width) * double(header.height) / 1e6;
        std::string size = std::to_string(header.width) + " x " + std::to_string(header.height) + " pixels (" +
                           Figure(megapixels) + " megapixels)";
        if (megapixels <= request.maxMegapixels) return "the picture is too large: " + size + " do not fit in memory";
        return "the picture is too large: " + size + ", " + Figure(megapixels / request.maxMegapixels) +
               " times the limit of " + std::to_string(request.maxMegapixels) +
               " megapixels (raise it with --max-megapixels)";
    }
    default: return kUnsupported;
    }
}

// The folder every output of a run goes into, held open from the start (see
// SetSaveFolder), and its path as given.
struct OutputFolder {
    SaveFolderHolder held;
    std::string path;
};

std::string FolderOfOutputs(const Request& request) {
    if (!request.outputFolder.empty()) return request.outputFolder;
    const std::string parent = Utf8Of(PathOf(request.output).parent_path());
    return parent.empty() ? "." : parent;
}

// False, having said so, when the output folder is no longer the one held:
// renamed, or replaced by a link (to the inputs' folder, say).
bool OutputFolderStillThere(const OutputFolder& folder, const std::string& input) {
    if (SaveFolderStillAt(*folder.held, PathOf(folder.path).c_str())) return true;
    Fail(input + ": the output folder " + folder.path +
         " was moved or replaced while the run went on; nothing was written for it");
    return false;
}

Outcome RepaintOne(const Request& request, const std::string& input, const std::string& output,
                   const OutputFolder& folder) {
    const RepaintMethod& method = *request.method;
    // Written as a bare name into the held folder.
    const std::string saveName = Utf8Of(PathOf(output).filename());
    if (!OutputFolderStillThere(folder, input)) return Outcome::Failed;
    if (!HasWritableExtension(output)) {
        Fail(output + ": " + kUnsupported + " (use .bmp, .jpg, .tif or .png)");
        return Outcome::Failed;
    }
    // What the header tells decides before anything is decoded.
    PictureHeader header;
    PictureRefusal refusal = CheckPictureFile(PathOf(input).c_str(), header);
    if (refusal != PictureRefusal::None) {
        Fail(input + ": " + RefusalText(refusal, input, header, request));
        return Outcome::Failed;
    }
    const int components = std::max(1, header.bitsPerPixel / 8);
    if (const char* limit = SaveLimitExceeded(header.width, header.height, components, 8, PathOf(output).c_str(),
                                              SaveFormatByName)) {
        Fail(output + ": a picture of " + std::to_string(header.width) + " x " + std::to_string(header.height) +
             " pixels cannot be written: " + limit);
        return Outcome::Failed;
    }
    const double needed = PeakMemoryEstimate(method, header.width, header.height);
    const uint64_t physical = PhysicalMemory();
    if (physical > 0 && needed > double(physical)) {
        Fail(input + ": repainting " + std::to_string(header.width) + " x " + std::to_string(header.height) +
             " pixels with " + method.name + " needs about " + Figure(needed / 1e9) + " GB of memory; this machine has " +
             Figure(double(physical) / 1e9) + " GB");
        return Outcome::Failed;
    }

    PicBufHolder source, result;
    PictureMetadataHolder metadata;  // kept from the start: the input may go while the engine works
    if (!LoadPicture(source.buf, PathOf(input).c_str(), &metadata, &refusal)) {
        Fail(input + ": " + RefusalText(refusal, input, header, request));
        return Outcome::Failed;
    }
    if (header.metadataLeftOut) Fail(input + ": its EXIF or IPTC metadata are damaged; they were left out");
    if (AbortPolled()) return Outcome::Aborted;
    if (!CBxPicBufAPI::ReinitHeap(result.buf, source.buf)) {
        Fail(input + ": not enough memory to repaint this picture");
        return Outcome::Failed;
    }
    try {
        bool shown = !request.quiet && StderrIsTerminal();
        ProgressBar bar(shown, method.name + " " + Utf8Of(PathOf(input).filename()),
                        method.progressTotal(source.buf));
        SetProgressHandler(&ProgressBar::Advance, &bar);
        method.run(result.buf, source.buf, request.positions);
        SetProgressHandler(nullptr, nullptr);
    } catch (const std::exception& error) {
        SetProgressHandler(nullptr, nullptr);
        if (AbortPolled()) return Outcome::Aborted;
        if (IsMemoryFailure(error)) Fail(input + ": not enough memory to repaint this picture");
        else Fail(input + ": " + error.what());
        return Outcome::Failed;
    }
    if (AbortPolled()) return Outcome::Aborted;

    std::lock_guard<std::mutex> saving(saveLock);
    if (!OutputFolderStillThere(folder, input)) return Outcome::Failed;
    jpegQuality = request.quality;
    try {
        bool written;
        try {
            written = SavePicture(result.buf, PathOf(saveName).c_str(), *metadata, SaveFormatByName);
        } catch (const ImageReadError&) {
            // The metadata were not kept and the input has gone or changed:
            // the painting is worth more than its metadata.
            written = SavePicture(result.buf, PathOf(saveName).c_str(), nullptr, SaveFormatByName);
            if (written)
                Fail(input + ": its metadata could not be kept or read again; " + output + " was written without them");
        }
        if (!written && AbortPolled()) return Outcome::Aborted;
        if (!written) {
            const std::string reason = LastSaveErrorText();
            Fail(output + ": the picture could not be written" + (reason.empty() ? "" : " (" + reason + ")"));
            return Outcome::Failed;
        }
        const int omitted = LastSaveOmissions();
        if (omitted & SaveOmittedProfile)
            Fail(input + ": its colour profile is damaged; " + output + " was written without it");
        if (omitted & SaveOmittedXmp)
            Fail(input + ": its XMP metadata are too large for a JPEG file; " + output + " was written without them");
        if (omitted & SaveOmittedIptc)
            Fail(input + ": its IPTC metadata cannot be written into a TIFF file; " + output + " was written without them");
    } catch (const UnsupportedImageFormat&) {
        Fail(output + ": " + kUnsupported);
        return Outcome::Failed;
    } catch (const std::exception& error) {
        Fail(output + ": " + error.what());
        return Outcome::Failed;
    }
    return Outcome::Written;
}

}  // namespace

int Run(int argc, char** argv) {
    // Before anything else, so that every thread the program starts inherits the mask.
    StartSignalThread();
    SetSaveCancelFlag(&abortRequested);

    Request request;
    int status = ParseArguments(argc, argv, request);
    if (status == -1) return 0;
    if (status != 0) return status;
    maxPictureMegapixels = request.maxMegapixels;

    const std::vector<std::string> outputs = OutputsOf(request);
    status = CheckOutputs(request, outputs);
    if (status != 0) return status;
    OutputFolder folder{SaveFolderHolder(), FolderOfOutputs(request)};
    folder.held.reset(OpenSaveFolder(PathOf(folder.path).c_str()));
    if (!folder.held) {
        Fail(outputs[0] + ": the picture could not be written (" + std::strerror(errno) + ")");
        return kExitFailure;
    }
    SetSaveFolder(folder.held.get());

    int failures = 0;
    for (size_t i = 0; i < request.inputs.size(); ++i) {
        Outcome outcome = AbortPolled() ? Outcome::Aborted : RepaintOne(request, request.inputs[i], outputs[i], folder);
        if (outcome == Outcome::Aborted || AbortPolled()) {
            std::lock_guard<std::mutex> saving(saveLock);  // a second signal now ends the program as well
            Fail(outcome == Outcome::Aborted ? "aborted; " + outputs[i] + " was not written"
                                             : "aborted after " + outputs[i] + " was written");
            std::fflush(stderr);
            EndNow(kExitAborted);
        }
        if (outcome == Outcome::Failed) ++failures;
    }
    return failures == 0 ? 0 : kExitFailure;
}

#if defined(_WIN32)
// Arguments arrive as UTF-16 and are kept as UTF-8; messages (which carry
// file names) go to the console as UTF-8 too.
int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const int wide = static_cast<int>(std::wcslen(wargv[i]));
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wargv[i], wide, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(std::max(bytes, 0)), '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wargv[i], wide, arg.data(), bytes, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    startingConsolePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    const int status = Run(argc, argv.data());
    SetConsoleOutputCP(startingConsolePage);
    return status;
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
