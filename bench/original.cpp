// Original repaint benchmark: seconds per megapixel at 1, 4 and 12
// megapixels with one thread and with all cores, the speed-up, and the peak
// memory of every run. The processor time per megapixel is printed beside
// the wall-clock time: on a machine shared with other work it shows what the
// threads cost even when the wall clock cannot. Each run happens in a child process of its own, so
// that its peak resident size is its own.
//
//   bench_original [--photo file] [--sizes 1,4,12] [--smoothness 1..20] [--flatten] [--worst-case]
//
// --photo scales a real photograph to each size (bilinear); without it a
// synthetic photograph-like picture is used. --worst-case adds a 12-megapixel
// run at the largest smoothness, whose traces are the longest the records hold.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engines/original/original.h"
#include "picbuf/image_file.h"

namespace {

struct Options {
    std::string photo;
    std::vector<double> sizes{1, 4, 12};
    int smoothness = kOriginalParams[kOriginalSmoothness].defaultPosition;
    bool flatten = false;
    bool worstCase = false;
};

// Gradients, discs and bars with hard edges and a little noise.
void MakeSynthetic(SBxPicBuf& picture, int width, int height) {
    CBxPicBufAPI::ReinitHeap(picture, width, height, 3, 8);
    unsigned state = 12345u;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = PicRow(picture, y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double v = 0.5 + 0.35 * std::sin(0.011 * x * (c + 1) + 0.007 * y) * std::cos(0.009 * y - 0.3 * c);
                const double dx = (x % 700) - 350.0, dy = (y % 600) - 300.0;
                if (dx * dx + dy * dy < 180.0 * 180.0) v = 0.15 + 0.2 * c;
                if (x % 400 > 300 && x % 400 < 330) v = 0.9 - 0.25 * c;
                state = state * 1664525u + 1013904223u;
                v += ((state >> 16) % 1000) / 1000.0 * 0.06 - 0.03;
                row[x * 3 + c] = static_cast<uint8_t>(std::fmin(255.0, std::fmax(0.0, v * 255.0 + 0.5)));
            }
        }
    }
}

// The picture of about `megapixels` million pixels the run works on.
bool MakeSource(PicBufHolder& source, const Options& options, double megapixels) {
    if (options.photo.empty()) {
        const int width = static_cast<int>(std::sqrt(megapixels * 1e6 * 4.0 / 3.0));
        MakeSynthetic(source.buf, width, static_cast<int>(megapixels * 1e6 / width));
        return source->pixels != nullptr;
    }
    PicBufHolder photo;
    if (!LoadPicture(photo.buf, options.photo.c_str())) return false;
    CBxPicBufAPI::ConvertBpcComp(photo.buf, 8, 3);
    const double scale = std::sqrt(megapixels * 1e6 / (static_cast<double>(photo->width) * photo->height));
    const int width = static_cast<int>(photo->width * scale), height = static_cast<int>(photo->height * scale);
    if (!CBxPicBufAPI::ReinitHeap(source.buf, width, height, 3, 8)) return false;
    std::memset(source->pixels, 0, source->size);
    CBxPicBufAPI::TransformBilinearFast(source.buf, photo.buf, CBxPicMap(0.0, 0.0, 0.0, 0.0, 0.0, scale));
    return true;
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

struct RunResult {
    bool ok = false;
    int width = 0;
    int height = 0;
    double seconds = 0;     // wall-clock time of the engine
    double cpuSeconds = 0;  // processor time of all its threads
    double peakMiB = 0;
};

// Makes the picture and repaints it in a child process; returns the engine's
// time and the child's peak resident size.
RunResult Run(const Options& options, double megapixels, int threads, int smoothness) {
    RunResult result;
    int channel[2];
    if (pipe(channel) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        PicBufHolder source, output;
        RunResult r;
        if (MakeSource(source, options, megapixels) && CBxPicBufAPI::ReinitHeap(output.buf, source.buf)) {
            originalThreadCount = threads;
            std::vector<int> positions = DefaultPositions(kOriginalParams);
            positions[kOriginalSmoothness] = smoothness;
            positions[kOriginalFlatten] = options.flatten ? 1 : 0;
            const OriginalParams params = OriginalParamsFromPositions(positions);
            const double cpuStart = CpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            OriginalRepaint(output.buf, source.buf, params);
            r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            r.cpuSeconds = CpuSeconds() - cpuStart;
            r.width = source->width;
            r.height = source->height;
            r.ok = true;
        }
        const ssize_t written = write(channel[1], &r, sizeof r);
        _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(channel[1]);
    if (child < 0) {
        close(channel[0]);
        return result;
    }
    RunResult fromChild;
    const bool got = read(channel[0], &fromChild, sizeof fromChild) == static_cast<ssize_t>(sizeof fromChild);
    close(channel[0]);
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) == child && got && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        result = fromChild;
        result.peakMiB = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
    }
    return result;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--photo" && hasValue) {
            options.photo = argv[++i];
        } else if (arg == "--sizes" && hasValue) {
            options.sizes.clear();
            for (char* p = argv[++i]; *p;) {
                char* end = nullptr;
                const double v = std::strtod(p, &end);
                if (end == p || !(v > 0) || v > 100) return false;
                options.sizes.push_back(v);
                p = *end == ',' ? end + 1 : end;
                if (*end && *end != ',') return false;
            }
        } else if (arg == "--smoothness" && hasValue) {
            options.smoothness = std::atoi(argv[++i]);
            if (options.smoothness < kOriginalParams[kOriginalSmoothness].minimum || options.smoothness > kOriginalParams[kOriginalSmoothness].maximum) return false;
        } else if (arg == "--flatten") {
            options.flatten = true;
        } else if (arg == "--worst-case") {
            options.worstCase = true;
        } else {
            return false;
        }
    }
    return !options.sizes.empty();
}

void PrintRow(const char* label, double megapixels, int threads, const RunResult& r) {
    if (!r.ok) {
        std::printf("%-10s %5.1f MP  %2d threads  failed\n", label, megapixels, threads);
        return;
    }
    const double mp = r.width * static_cast<double>(r.height) / 1e6;
    std::printf("%-10s %5d x %-5d %5.2f MP  %2d threads  %8.2f s  %7.3f s/MP  (cpu %7.3f s/MP)  peak %7.1f MiB\n",
                label, r.width, r.height, mp, threads, r.seconds, r.seconds / mp, r.cpuSeconds / mp, r.peakMiB);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--photo file] [--sizes 1,4,12] [--smoothness 1..20] [--flatten] [--worst-case]\n",
                     argv[0]);
        return 2;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("Original repaint: %s, smoothness slider %d, weak edges %d, flattening %s, sharpening %d; %u cores\n",
                options.photo.empty() ? "synthetic picture" : options.photo.c_str(), options.smoothness,
                kOriginalParams[kOriginalWeakEdges].defaultPosition, options.flatten ? "on" : "off", kOriginalParams[kOriginalSharpenStrength].defaultPosition, cores);

    for (double mp : options.sizes) {
        const RunResult one = Run(options, mp, 1, options.smoothness);
        PrintRow("one", mp, 1, one);
        const RunResult all = Run(options, mp, static_cast<int>(cores), options.smoothness);
        PrintRow("all cores", mp, static_cast<int>(cores), all);
        if (one.ok && all.ok && all.seconds > 0)
            std::printf("%-10s %5.1f MP  speed-up %.2f\n", "", mp, one.seconds / all.seconds);
    }
    if (options.worstCase) {
        const RunResult worst = Run(options, 12, static_cast<int>(cores), kOriginalParams[kOriginalSmoothness].maximum);
        PrintRow("longest", 12, static_cast<int>(cores), worst);
    }
    return 0;
}
