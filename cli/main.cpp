// ostrivel-repaint: repaints image files from the command line with the
// editor's engines, for batch work, scripts and benchmarks.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
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

struct Request {
    const RepaintMethod* method = nullptr;
    std::vector<std::string> inputs;
    std::string output;        // one output file
    std::string outputFolder;  // or a folder for a batch
    std::vector<int> values;
    int quality = kQualityDefault;
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
                 "  -q, --quiet                 no progress bar\n"
                 "  -h, --help                  this text; 'ostrivel-repaint METHOD --help' lists a method's options\n"
                 "\n"
                 "Ctrl+C aborts cleanly: the picture in progress is not written.\n"
                 "Exit status: 0 success, 1 a picture failed, 2 wrong arguments, 130 aborted.\n",
                 kQualityMinimum, kQualityMaximum, kQualityDefault);
}

void PrintMethodHelp(const RepaintMethod& method) {
    std::printf("Usage: ostrivel-repaint %s INPUT OUTPUT [options]\n"
                "       ostrivel-repaint %s INPUT... -o FOLDER [options]\n\n%s\n\nOptions (the editor's slider "
                "positions; defaults are the editor's):\n",
                method.name.c_str(), method.name.c_str(), method.summary.c_str());
    for (const MethodOption& option : method.options) {
        std::string flag = "--" + option.name + " N";
        std::printf("  %-26s %s (%d to %d, default %d)\n", flag.c_str(), option.help.c_str(), option.minimum,
                    option.maximum, option.defaultValue);
    }
    std::printf("  %-26s JPEG quality (%d to %d, default %d)\n", "--quality Q", kQualityMinimum, kQualityMaximum,
                kQualityDefault);
    std::printf("  %-26s write every input into FOLDER\n  %-26s no progress bar\n", "-o, --output-folder FOLDER",
                "-q, --quiet");
    if (!method.notes.empty()) std::printf("\n%s", method.notes.c_str());
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "ostrivel-repaint: %s\n", message.c_str());
}

// ---- arguments -----------------------------------------------------------

bool ParseWholeNumber(const std::string& text, int& value) {
    if (text.empty()) return false;
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
    for (const MethodOption& option : method.options) request.values.push_back(option.defaultValue);

    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
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
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            size_t k = 0;
            while (k < method.options.size() && "--" + method.options[k].name != arg) ++k;
            if (k == method.options.size()) {
                Fail("unknown option " + arg + " for " + method.name + " (see 'ostrivel-repaint " + method.name +
                     " --help')");
                return kExitUsage;
            }
            const MethodOption& option = method.options[k];
            if (!takeValue(value) || !ParseRanged(arg, value, option.minimum, option.maximum, request.values[k]))
                return kExitUsage;
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
        if (!fs::is_directory(request.outputFolder, error)) {
            Fail("the output folder " + request.outputFolder + " does not exist");
            return kExitUsage;
        }
        request.inputs = positional;
    }
    return 0;
}

bool HasWritableExtension(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* known : {".bmp", ".jpg", ".jpeg", ".jpe", ".jif", ".tif", ".tiff", ".png"})
        if (extension == known) return true;
    return false;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error);
}

// ---- Ctrl+C and progress -------------------------------------------------

std::atomic<int> interruptCount{0};

void OnInterrupt(int) {
    // The first Ctrl+C asks the engine to stop at its next poll; a second
    // one ends the program at once.
    if (interruptCount.fetch_add(1) >= 1) _exit(kExitAborted);
    RequestAbort(true);
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Holds Ctrl+C back while a file is written, so a save is never cut in half.
class InterruptsHeld {
public:
    InterruptsHeld() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

class ProgressBar {
public:
    ProgressBar(bool shown, std::string label, int total) : shown_(shown), label_(std::move(label)), total_(total) {
        if (shown_) Draw(0);
    }
    ~ProgressBar() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
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
        std::fprintf(stderr, "\r\033[K%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
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

Outcome RepaintOne(const Request& request, const std::string& input, const std::string& output) {
    const RepaintMethod& method = *request.method;
    if (!HasWritableExtension(output)) {
        Fail(output + ": " + kUnsupported + " (use .bmp, .jpg, .tif or .png)");
        return Outcome::Failed;
    }
    if (SameFile(input, output)) {
        Fail(output + ": refusing to overwrite the input picture");
        return Outcome::Failed;
    }
    PicBufHolder source, result;
    PictureMetadataHolder metadata;  // kept from the start: the input may go while the engine works
    std::error_code error;
    if (!fs::is_regular_file(input, error)) {
        Fail(input + ": no such file");
        return Outcome::Failed;
    }
    if (!LoadPicture(source.buf, input.c_str(), &metadata)) {
        Fail(input + ": " + kUnsupported);
        return Outcome::Failed;
    }
    if (!CBxPicBufAPI::ReinitHeap(result.buf, source.buf)) {
        Fail(input + ": not enough memory to repaint this picture");
        return Outcome::Failed;
    }
    try {
        bool shown = !request.quiet && isatty(STDERR_FILENO);
        ProgressBar bar(shown, method.name + " " + fs::path(input).filename().string(),
                        method.progressTotal(source.buf, request.values));
        SetProgressHandler(&ProgressBar::Advance, &bar);
        method.run(result.buf, source.buf, request.values);
        SetProgressHandler(nullptr, nullptr);
    } catch (const std::exception& error) {
        SetProgressHandler(nullptr, nullptr);
        if (AbortPolled()) return Outcome::Aborted;
        if (IsMemoryFailure(error)) Fail(input + ": not enough memory to repaint this picture");
        else Fail(input + ": " + error.what());
        return Outcome::Failed;
    }
    if (AbortPolled()) return Outcome::Aborted;

    InterruptsHeld held;
    jpegQuality = request.quality;
    try {
        bool written;
        try {
            written = SavePicture(result.buf, output.c_str(), *metadata, SaveFormatByName);
        } catch (const ImageReadError&) {
            // The metadata were not kept and the input has gone or changed:
            // the painting is worth more than its metadata.
            written = SavePicture(result.buf, output.c_str(), nullptr, SaveFormatByName);
            if (written)
                Fail(input + ": its metadata could not be kept or read again; " + output + " was written without them");
        }
        if (!written) {
            Fail(output + ": the picture could not be written (" + std::string(std::strerror(errno)) + ")");
            return Outcome::Failed;
        }
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

int main(int argc, char** argv) {
    Request request;
    int status = ParseArguments(argc, argv, request);
    if (status == -1) return 0;
    if (status != 0) return status;

    InstallInterruptHandler();
    int failures = 0;
    for (const std::string& input : request.inputs) {
        std::string output = request.outputFolder.empty()
                                 ? request.output
                                 : (fs::path(request.outputFolder) / fs::path(input).filename()).string();
        Outcome outcome = RepaintOne(request, input, output);
        if (outcome == Outcome::Aborted) {
            Fail("aborted; " + output + " was not written");
            return kExitAborted;
        }
        if (outcome == Outcome::Failed) ++failures;
    }
    return failures == 0 ? 0 : kExitFailure;
}
