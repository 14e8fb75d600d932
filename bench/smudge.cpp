// Smudge repaint with the default sliders on 1, 4 and 12 megapixel colour
// pictures: seconds per megapixel and peak memory, each size measured in a
// fresh child process so that its peak is its own. When G'MIC is installed,
// the same smoothing by `gmic ... smooth` on the same picture, for comparison.
//
//   bench_smudge [photo|-] [repeats]
//     photo    a photograph, resized with convert-im6; without one (or with
//              "-") the pictures are synthetic
//     repeats  runs of each measurement, the fastest counts (default 1); the
//              machine is shared, so more runs give steadier figures
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines/smudge/smudge.h"

namespace {

struct Size {
    double megapixels;
    int width;
    int height;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A photograph-like picture: smooth gradients, hard-edged shapes and a
// little noise, written as binary PPM.
bool WriteSyntheticPpm(const std::string& path, int width, int height) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    unsigned state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
                double value = 0.5 + 0.35 * std::sin(25 * u * (c + 1) + 9 * v) * std::cos(14 * v - 0.3 * c);
                double dx = u - 0.4, dy = v - 0.55;
                if (dx * dx + dy * dy < 0.04) value = 0.15 + 0.2 * c;
                if (u > 0.7 && u < 0.78) value = 0.9 - 0.25 * c;
                state = state * 1664525u + 1013904223u;
                value += ((state >> 16) % 1000) / 1000.0 * 0.06 - 0.03;
                row[static_cast<size_t>(x) * 3 + c] =
                    static_cast<unsigned char>(std::lround(255 * std::fmin(1.0, std::fmax(0.0, value))));
            }
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    return std::fclose(file) == 0;
}

// The next number of a PPM header, skipping blanks and comment lines.
int HeaderNumber(FILE* file) {
    int ch = std::fgetc(file);
    while (ch == '#' || std::isspace(ch)) {
        if (ch == '#')
            while (ch != '\n' && ch != EOF) ch = std::fgetc(file);
        ch = std::fgetc(file);
    }
    int value = 0;
    for (; std::isdigit(ch); ch = std::fgetc(file)) value = value * 10 + (ch - '0');
    return value;  // the one blank after it is consumed
}

// Binary PPM (maxval 255) into a blue, green, red picture.
bool ReadPpm(const std::string& path, PicBufHolder& picture) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bool ok = std::fgetc(file) == 'P' && std::fgetc(file) == '6';
    const int width = ok ? HeaderNumber(file) : 0, height = ok ? HeaderNumber(file) : 0;
    ok = ok && HeaderNumber(file) == 255 && CBxPicBufAPI::ReinitHeap(picture.buf, width, height, 3, 8);
    for (int y = 0; ok && y < height; ++y) {
        uint8_t* row = PicRow(picture.buf, y);
        ok = std::fread(row, 1, static_cast<size_t>(width) * 3, file) == static_cast<size_t>(width) * 3;
        for (int x = 0; ok && x < width; ++x) std::swap(row[x * 3], row[x * 3 + 2]);
    }
    std::fclose(file);
    return ok;
}

long PeakMegabytes(const rusage& usage) {
    return usage.ru_maxrss / 1024;  // kilobytes on Linux
}

// Processor time of a finished child, both cores together: unlike wall time
// it hardly changes when other work shares the machine.
double CpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakMegabytes = 0;
};

// Runs the engine in a child process and measures it. The parent never
// runs OpenMP code, so the children start from a clean OpenMP runtime.
bool MeasureEngine(const std::string& ppm, Measure& measure) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        PicBufHolder source, result;
        if (!ReadPpm(ppm, source) || !CBxPicBufAPI::ReinitHeap(result.buf, source.buf)) _exit(2);
        const SmudgeParams params = SmudgeParamsFromPositions(DefaultPositions(kSmudgeParams));
        auto start = std::chrono::steady_clock::now();
        SmudgeRepaint(result.buf, source.buf, params);
        double elapsed = Seconds(start);
        if (write(pipeEnds[1], &elapsed, sizeof elapsed) != sizeof elapsed) _exit(3);
        _exit(0);
    }
    close(pipeEnds[1]);
    double elapsed = -1;
    bool got = read(pipeEnds[0], &elapsed, sizeof elapsed) == sizeof elapsed;
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    measure.seconds = elapsed;
    measure.cpuSeconds = CpuSeconds(usage);  // includes reading the picture
    measure.peakMegabytes = PeakMegabytes(usage);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a command through the shell (which execs it), returning its wall
// time and peak memory.
bool RunTimed(const std::string& command, Measure& measure) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    measure.seconds = Seconds(start);
    measure.cpuSeconds = CpuSeconds(usage);
    measure.peakMegabytes = PeakMegabytes(usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string photo = argc > 1 && std::string(argv[1]) != "-" ? argv[1] : "";
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const bool haveGmic = std::system("command -v gmic > /dev/null 2>&1") == 0;
    const std::string folder = "/tmp/ostrivel-smudge-bench-" + std::to_string(getpid());
    if (std::system(("mkdir -p " + folder).c_str()) != 0) return 1;
    const SmudgeArguments args = SmudgeArgumentsOf(SmudgeParamsFromPositions(DefaultPositions(kSmudgeParams)));
    char smooth[160];
    std::snprintf(smooth, sizeof smooth, "smooth 200,%g,1,%g,%g,0.8,30,2,0,1", args.sharpness, args.alpha,
                  args.sigma);

    std::printf("Smudge repaint, default sliders (sharpness %g, alpha %g, sigma %g), %s pictures, best of %d\n",
                args.sharpness, args.alpha, args.sigma, photo.empty() ? "synthetic" : photo.c_str(), repeats);
    if (haveGmic) std::printf("G'MIC: gmic IN %s o OUT; the ratios leave out its time for gmic IN o OUT\n", smooth);
    else std::printf("gmic not found: no comparison\n");
    std::printf("%-20s %8s %7s %7s %6s | %8s %7s %5s %6s | %6s %6s\n", "picture", "wall s", "cpu s", "s/MP", "MB",
                "gmic s", "cpu s", "i/o s", "MB", "wall", "cpu");

    for (double megapixels : {1.0, 4.0, 12.0}) {
        Size size{megapixels, 0, 0};
        size.width = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 * 4 / 3)));
        size.height = static_cast<int>(std::lround(megapixels * 1e6 / size.width));
        const std::string in = folder + "/in.ppm", out = folder + "/out.ppm";
        bool made = photo.empty()
                        ? WriteSyntheticPpm(in, size.width, size.height)
                        : std::system(("convert-im6 '" + photo + "' -resize " + std::to_string(size.width) + "x" +
                                       std::to_string(size.height) + "! " + in)
                                          .c_str()) == 0;
        if (!made) {
            std::printf("could not make the %g MP picture\n", megapixels);
            continue;
        }
        // The fastest of the runs, by wall time.
        auto Best = [repeats](auto run, Measure& best) {
            for (int i = 0; i < repeats; ++i) {
                Measure one;
                if (!run(one)) return false;
                if (i == 0 || one.seconds < best.seconds) best = one;
            }
            return true;
        };
        Measure ours;
        if (!Best([&](Measure& m) { return MeasureEngine(in, m); }, ours)) {
            std::printf("%5.0f MP  engine run failed\n", megapixels);
            continue;
        }
        std::printf("%5.0f MP %5d x %-5d %8.2f %7.2f %7.3f %6ld", megapixels, size.width, size.height, ours.seconds,
                    ours.cpuSeconds, ours.seconds / (size.width * double(size.height) / 1e6), ours.peakMegabytes);
        std::fflush(stdout);
        Measure gmic, gmicIo;
        const std::string quiet = " > /dev/null 2>&1";
        if (haveGmic && Best([&](Measure& m) { return RunTimed("gmic " + in + " o " + out + quiet, m); }, gmicIo) &&
            Best([&](Measure& m) { return RunTimed("gmic " + in + " " + smooth + " o " + out + quiet, m); }, gmic))
            std::printf(" | %8.2f %7.2f %5.2f %6ld | %6.2f %6.2f", gmic.seconds, gmic.cpuSeconds, gmicIo.seconds,
                        gmic.peakMegabytes, ours.seconds / (gmic.seconds - gmicIo.seconds),
                        ours.cpuSeconds / (gmic.cpuSeconds - gmicIo.cpuSeconds));
        else if (haveGmic)
            std::printf(" | gmic failed");
        std::printf("\n");
        std::fflush(stdout);
    }
    return std::system(("rm -rf " + folder).c_str()) == 0 ? 0 : 1;
}
