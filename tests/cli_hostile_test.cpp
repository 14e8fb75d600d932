// Hostile use of ostrivel-repaint and its loader: files of a few bytes that
// claim huge pictures, formats nobody promised, batches that would overwrite
// their own inputs, and signals at any moment, a save included.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "picbuf/image_file.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

pid_t Start(const std::vector<std::string>& args, const std::string& errorsPath) {
    pid_t pid = fork();
    if (pid == 0) {
        if (FILE* errors = std::fopen(errorsPath.c_str(), "w")) dup2(fileno(errors), STDERR_FILENO);
        std::vector<std::string> copies = args;
        copies.insert(copies.begin(), OSTRIVEL_REPAINT);
        std::vector<char*> argv;
        for (std::string& arg : copies) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int Finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunTool(const ScratchFolder& scratch, const std::vector<std::string>& args, std::string& errors) {
    const std::string errorsPath = scratch.path("stderr.txt");
    int status = Finish(Start(args, errorsPath));
    errors = ReadBytes(errorsPath);
    return status;
}

void WritePicture(const std::string& path, int width, int height, int components) {
    PicBufHolder picture;
    MakeTestPicture(picture, width, height, components, 8);
    ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), "", SaveFormatByName));
}

std::string Little(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
    return out;
}

std::string Big(uint32_t value) {
    std::string out;
    for (int i = 3; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
    return out;
}

// A 118-byte uncompressed 24-bit BMP that claims width x height pixels.
std::string ClaimingBmp(uint32_t width, uint32_t height) {
    const uint32_t row = (width * 24 + 31) / 32 * 4;
    std::string bytes = "BM" + Little(54 + row * height, 4) + Little(0, 4) + Little(54, 4) + Little(40, 4) +
                        Little(width, 4) + Little(height, 4) + Little(1, 2) + Little(24, 2) + Little(0, 4) +
                        Little(row * height, 4) + Little(2835, 4) + Little(2835, 4) + Little(0, 8);
    return bytes + std::string(118 - bytes.size(), '\0');
}

// An uncompressed grey TIFF of 186 bytes whose one strip claims 1 x height
// pixels; without byte counts it holds 4 x 4 pixels (libtiff guesses the
// counts, and FreeImage then reads past its buffers).
std::string ClaimingTiffStrip(uint32_t height, bool byteCounts) {
    const uint32_t width = byteCounts ? 1 : 4;
    const uint32_t tags[][3] = {{256, 3, width}, {257, 4, height},     {258, 3, 8},  {259, 3, 1}, {262, 3, 1},
                                {273, 4, 122},   {277, 3, 1},          {278, 4, height}, {279, 4, width * height}};
    const int count = byteCounts ? 9 : 8;
    std::string bytes = "II*" + std::string(1, '\0') + Little(8, 4) + Little(count, 2);
    for (int i = 0; i < count; ++i)
        bytes += Little(tags[i][0], 2) + Little(tags[i][1], 2) + Little(1, 4) + Little(tags[i][2], 4);
    bytes += Little(0, 4);
    return bytes + std::string(186 - bytes.size(), '\0');
}

uint32_t Crc(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// A tiny grey PNG that claims width x height: the header is what a decoder reads first.
std::string ClaimingPng(uint32_t width, uint32_t height) {
    const std::string header = "IHDR" + Big(width) + Big(height) + std::string{8, 0, 0, 0, 0};
    const std::string data("IDAT\x78\x9c\x03\0\0\0\0\x01", 12);  // the first (empty) piece of the pixels
    return "\x89PNG\r\n\x1a\n" + Big(13) + header + Big(Crc(header)) + Big(8) + data + Big(Crc(data)) + Big(0) +
           "IEND" + Big(Crc("IEND"));
}

}  // namespace

TEST(HostileFiles, AreRefusedFromTheirHeaderWithTheRealReason) {
    ScratchFolder scratch;
    WriteBytes(scratch.path("huge.bmp"), ClaimingBmp(20000, 20000));
    WriteBytes(scratch.path("strip.tif"), ClaimingTiffStrip(100000000, true));
    WriteBytes(scratch.path("counts.tif"), ClaimingTiffStrip(4, false));
    WriteBytes(scratch.path("bomb.png"), ClaimingPng(40000, 40000));
    WriteBytes(scratch.path("grey.png"), ClaimingPng(46000, 46000));
    const bool roomy = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGE_SIZE)) > 50e9;
    WriteBytes(scratch.path("picture.tga"), std::string("\0\0\2\0\0\0\0\0\0\0\0\0\x74\x45\x58\x74\x18\0", 18) +
                                                std::string(1500, '\0'));  // TGA, 17780 x 29784
    WritePicture(scratch.path("wide.png"), 70000, 8, 1);
    fs::create_directory(scratch.path("folder.png"));
    ASSERT_EQ(mkfifo(scratch.path("fifo.png").c_str(), 0600), 0);
    WriteBytes(scratch.path("locked.png"), ReadBytes(scratch.path("wide.png")));
    chmod(scratch.path("locked.png").c_str(), 0);
    const bool root = geteuid() == 0;  // root reads a file of mode 0 all the same

    struct Case {
        std::string input, output, expected;
        std::vector<std::string> extra;
    } cases[] = {
        {"huge.bmp", "out.png", "too large: 20000 x 20000 pixels (400 megapixels), 2.2 times the limit of 180", {}},
        {"strip.tif", "out.png", "damaged", {}},
        {"bomb.png", "out.png", "too large: 40000 x 40000 pixels (1600 megapixels), 8.9 times", {}},
        {"bomb.png", "out.png", "4.0 times the limit of 400", {"--max-megapixels", "400"}},
        // 2116 megapixels take about 51 GB to smudge; a machine with more says nothing.
        {"grey.png", "out.png", roomy ? "" : "needs about 51 GB of memory", {"--max-megapixels", "1000000"}},
        {"picture.tga", "out.png", "Image format not supported!", {}},
        {"wide.png", "out.jpg", "65,500 pixels a side", {}},
        {"folder.png", "out.png", "is a folder", {}},
        {"fifo.png", "out.png", "FIFO", {}},
        {"locked.png", "out.png", root ? "" : "Permission denied", {}},
    };
    for (const Case& c : cases) {
        if (c.expected.empty()) continue;
        std::vector<std::string> args = {"smudge", scratch.path(c.input), scratch.path(c.output), "-q"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        std::string errors;
        EXPECT_EQ(RunTool(scratch, args, errors), 1) << c.input << ": " << errors;
        EXPECT_NE(errors.find(c.expected), std::string::npos) << c.input << ": " << errors;
        EXPECT_EQ(errors.find("Success"), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(scratch.path(c.output))) << c.input;
    }

    // The editor's loader refuses the same files by the default limit.
    const std::pair<const char*, PictureRefusal> loads[] = {
        {"huge.bmp", PictureRefusal::TooLarge},      {"strip.tif", PictureRefusal::Damaged},
        {"bomb.png", PictureRefusal::TooLarge},      {"picture.tga", PictureRefusal::Unsupported},
        {"folder.png", PictureRefusal::NotAFile},    {"fifo.png", PictureRefusal::NotAFile},
        {"counts.tif", PictureRefusal::Damaged},     {"wide.png", PictureRefusal::None},
    };
    for (const auto& [name, expected] : loads) {
        PicBufHolder picture;
        PictureRefusal refusal = PictureRefusal::Missing;
        EXPECT_EQ(LoadPicture(picture.buf, scratch.path(name).c_str(), nullptr, &refusal),
                  expected == PictureRefusal::None)
            << name;
        EXPECT_EQ(refusal, expected) << name;
    }
}

TEST(HostileBatches, AreRefusedBeforeAnyWorkWhenAnOutputWouldOverwriteAnything) {
    ScratchFolder scratch;
    fs::create_directories(scratch.path("sub"));
    fs::create_directories(scratch.path("a1"));
    fs::create_directories(scratch.path("a2"));
    fs::create_directories(scratch.path("out"));
    WritePicture(scratch.path("x.jpg"), 40, 30, 3);
    WritePicture(scratch.path("sub/x.jpg"), 30, 40, 3);
    WritePicture(scratch.path("a1/p.png"), 40, 30, 3);
    WritePicture(scratch.path("a2/p.png"), 30, 40, 1);
    fs::create_hard_link(scratch.path("x.jpg"), scratch.path("out/linked.jpg"));
    const std::string before = ReadBytes(scratch.path("x.jpg"));

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> named;
    } cases[] = {
        {{scratch.path("sub/x.jpg"), scratch.path("x.jpg"), "-o", scratch.folder()}, {"x.jpg"}},
        {{scratch.path("a1/p.png"), scratch.path("a2/p.png"), "-o", scratch.path("out")}, {"a1/p.png", "a2/p.png"}},
        {{scratch.path("a1/p.png"), scratch.path("a1/../a1/p.png"), "-o", scratch.path("out")}, {"a1/p.png"}},
        {{scratch.path("x.jpg"), scratch.path("out/linked.jpg")}, {"linked.jpg", "x.jpg"}},  // one file, two names
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"smudge", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string errors;
        EXPECT_EQ(RunTool(scratch, args, errors), 2) << errors;
        for (const std::string& name : c.named) EXPECT_NE(errors.find(name), std::string::npos) << errors;
        EXPECT_EQ(ReadBytes(scratch.path("x.jpg")), before);
        EXPECT_EQ(ReadBytes(scratch.path("out/linked.jpg")), before);
        EXPECT_FALSE(fs::exists(scratch.path("out/p.png"))) << "nothing is written";
    }

    // Two failing pictures among good ones: status 1, the good one written.
    WriteBytes(scratch.path("junk1.png"), "junk");
    WriteBytes(scratch.path("junk2.png"), "more junk");
    std::string errors;
    EXPECT_EQ(RunTool(scratch,
                  {"smudge", "-q", scratch.path("junk1.png"), scratch.path("a1/p.png"), scratch.path("junk2.png"),
                   "-o", scratch.path("out")},
                  errors),
              1)
        << errors;
    EXPECT_TRUE(fs::exists(scratch.path("out/p.png")));
}

TEST(HostileSignals, TwoSignalsAtAnyMomentLeaveNoTemporaryFileAndTheOldOutputOrANewOne) {
    ScratchFolder scratch;
    const std::string input = scratch.path("in.png"), output = scratch.path("out.png");
    WritePicture(input, 700, 500, 3);
    std::mt19937 random(std::random_device{}());
    auto temporaryFiles = [&] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(scratch.folder()))
            if (entry.path().filename().string().rfind(".ostrivel-save-", 0) == 0) ++count;
        return count;
    };
    for (int run = 0; run < 10; ++run) {
        WriteBytes(output, "the user's older file");
        pid_t pid = Start({"redraw", input, output, "-q"}, scratch.path("stderr.txt"));
        if (run % 2 == 0) {
            // During the save: as soon as its temporary file appears.
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (temporaryFiles() == 0 && ReadBytes(output) == "the user's older file" &&
                   std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
        }
        kill(pid, SIGINT);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(pid, run % 4 < 2 ? SIGTERM : SIGINT);
        const int status = Finish(pid);
        const std::string errors = ReadBytes(scratch.path("stderr.txt"));
        EXPECT_TRUE(status == 130 || status == 0) << status << ": " << errors;
        EXPECT_EQ(temporaryFiles(), 0) << "run " << run << ": " << errors;
        PicBufHolder written;
        if (ReadBytes(output) != "the user's older file") {
            ASSERT_TRUE(LoadPicture(written.buf, output.c_str())) << "a complete new output, run " << run;
            EXPECT_EQ(written->width, 700);
        }
        for (const auto& entry : fs::directory_iterator(scratch.folder()))
            if (entry.path().filename().string().rfind(".ostrivel-save-", 0) == 0) fs::remove(entry.path());
    }
}
