// Runs the ostrivel-repaint program itself in a scratch folder: its
// arguments, batches, files that lie about their size or are no pictures,
// outputs that would overwrite an input, and signals at any moment.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "engines/original/original.h"
#include "engines/redraw/redraw.h"
#include "engines/smudge/smudge.h"
#include "picbuf/freeimage_bridge.h"
#include "picbuf/image_file.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string errors;
    std::string output;
};

// Starts the tool in folder (so that arguments may be relative to it), its
// output going to folder/stdout.txt and folder/stderr.txt.
pid_t Start(const ScratchFolder& folder, std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.folder().c_str()) != 0) _exit(126);
        if (FILE* errors = std::fopen("stderr.txt", "w")) dup2(fileno(errors), STDERR_FILENO);
        if (FILE* output = std::fopen("stdout.txt", "w")) dup2(fileno(output), STDOUT_FILENO);
        args.insert(args.begin(), OSTRIVEL_REPAINT);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

RunResult Finish(const ScratchFolder& folder, pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadBytes(folder.path("stderr.txt")),
            ReadBytes(folder.path("stdout.txt"))};
}

RunResult RunTool(const ScratchFolder& folder, const std::vector<std::string>& args) {
    return Finish(folder, Start(folder, args));
}

// Polls until done holds, for a minute at most.
void WaitUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Processor seconds the tool's main thread has used: it has loaded its input
// after 0.06 s even under AddressSanitizer, however busy the machine is.
double MainThreadSeconds(pid_t pid) {
    const std::string stat = ReadBytes("/proc/" + std::to_string(pid) + "/schedstat");
    return stat.empty() ? 0 : std::stod(stat) / 1e9;
}

void WritePicture(const std::string& path, int width, int height, int components) {
    PicBufHolder picture;
    MakeTestPicture(picture, width, height, components, 8);
    ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), "", SaveFormatByName));
}

// An uncompressed grey TIFF of 186 bytes whose one strip claims 1 x height
// pixels; without byte counts it holds 4 x 4 pixels (libtiff guesses the
// counts, and FreeImage then reads past its buffers).
std::string ClaimingTiffStrip(uint32_t height, bool byteCounts) {
    const uint32_t width = byteCounts ? 1 : 4;
    const uint32_t tags[][3] = {{256, 3, width}, {257, 4, height}, {258, 3, 8},      {259, 3, 1},         {262, 3, 1},
                                {273, 4, 122},   {277, 3, 1},      {278, 4, height}, {279, 4, width * height}};
    const int count = byteCounts ? 9 : 8;
    std::string bytes = "II*" + std::string(1, '\0') + LittleEndian(8, 4) + LittleEndian(count, 2);
    for (int i = 0; i < count; ++i)
        bytes += LittleEndian(tags[i][0], 2) + LittleEndian(tags[i][1], 2) + LittleEndian(1, 4) +
                 LittleEndian(tags[i][2], 4);
    return bytes + LittleEndian(0, 4) + std::string(186 - 4 - bytes.size(), '\0');
}

// A tiny grey PNG that claims width x height: the header is what a decoder
// reads first, and the pixels hold only their first (empty) piece.
std::string ClaimingPng(uint32_t width, uint32_t height) {
    return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", BigEndian32(width) + BigEndian32(height) + std::string{8, 0, 0, 0, 0}) +
           PngChunk("IDAT", std::string("\x78\x9c\x03\0\0\0\0\x01", 8)) + PngChunk("IEND", "");
}

}  // namespace

TEST(RepaintTool, ChecksItsArgumentsAndRepaintsAtTheInputsSize) {
    ScratchFolder scratch;
    WritePicture(scratch.path("in.png"), 40, 30, 3);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"smudge", "in.png", "out.png", "--details", "abc"},
             {"smudge", "in.png", "out.png", "--details", "1e1"},
             {"smudge", "in.png", "out.png", "--quality", "5"},
             {"smudge", "in.png", "out.png", "--quality", " 50"},
             {"smudge", "in.png", "out.png", "--quality", "50 "},
             {"smudge", "in.png", "out.png", "--", "--details", "3"},
             {"smudge", "-dash.png", "out.png"},
             {"smudge", "in.png", "out.png", "--bogus", "1"},
             {"smudge", "in.png"},
             {"paint", "in.png", "out.png"},
             {"smudge", "in.png", "-o", "no-such-folder"},
         }) {
        RunResult run = RunTool(scratch, args);
        EXPECT_EQ(run.status, 2) << args.back() << ": " << run.errors;
        EXPECT_FALSE(run.errors.empty());
    }
    EXPECT_FALSE(fs::exists(scratch.path("out.png")));
    EXPECT_EQ(RunTool(scratch, {"--help"}).status, 0);
    // After "--", a name that starts with "-" is a file, and options are no more.
    fs::copy_file(scratch.path("in.png"), scratch.path("-dash.png"));
    RunResult dashed = RunTool(scratch, {"smudge", "--details", "20", "--", "-dash.png", "out.png"});
    EXPECT_EQ(dashed.status, 0) << dashed.errors;
    fs::remove(scratch.path("out.png"));

    RunResult run = RunTool(scratch, {"smudge", "in.png", "out.jpg", "--details", "20"});
    ASSERT_EQ(run.status, 0) << run.errors;
    PicBufHolder output;
    ASSERT_TRUE(LoadPicture(output.buf, scratch.path("out.jpg").c_str()));
    EXPECT_EQ(std::vector<int>({output->width, output->height, output->components}), std::vector<int>({40, 30, 3}));
}

// Each option takes both ends of the range its --help names, and refuses a
// step beyond either; the defaults --help names are the tool's own. Every
// value text the editor's dialog shows for a position names that position.
TEST(RepaintTool, OptionsTakeTheValuesTheirHelpAndTheDialogShow) {
    for (auto [table, count] : {std::pair<const MethodParam*, int>{kOriginalParams, kOriginalParamCount}, {kSmudgeParams, kSmudgeParamCount},
                                {kRedrawParams, kRedrawParamCount}})
        for (const MethodParam& param : std::vector<MethodParam>(table, table + count))
            for (int position = param.minimum; position <= param.maximum; ++position) {
                int named = -1;
                EXPECT_TRUE(ParamPosition(param, ParamText(param, position), named) && named == position)
                    << param.option << " " << ParamText(param, position);
            }

    ScratchFolder scratch;
    WritePicture(scratch.path("in.png"), 40, 30, 3);
    const std::regex line(R"(--(\S+) N .*\((\S+) to (\S+)(?: in steps of (\S+))?, default (\S+)\))");
    for (const std::string method : {"original", "smudge", "redraw"}) {
        const RunResult help = RunTool(scratch, {method, "--help"});
        ASSERT_EQ(help.status, 0);
        std::vector<std::string> lowest{method, "in.png", "low.png"}, highest{method, "in.png", "high.png"},
            defaults{method, "in.png", "defaults.png"};
        std::istringstream lines(help.output);
        for (std::string text; std::getline(lines, text);) {
            std::smatch m;
            if (!std::regex_search(text, m, line) || m[1] == "max-megapixels") continue;
            const std::string flag = "--" + m[1].str();
            const double step = m[4].matched ? std::stod(m[4]) : 1;
            for (double beyond : {std::stod(m[2]) - step, std::stod(m[3]) + step}) {
                RunResult refused = RunTool(scratch, {method, "in.png", "out.png", flag, std::to_string(beyond)});
                EXPECT_EQ(refused.status, 2) << flag << " " << beyond;
            }
            lowest.insert(lowest.end(), {flag, m[2]});
            highest.insert(highest.end(), {flag, m[3]});
            defaults.insert(defaults.end(), {flag, m[5]});
        }
        ASSERT_GT(lowest.size(), 5u) << help.output;
        for (const auto& args : {lowest, highest, defaults, std::vector<std::string>{method, "in.png", "plain.png"}}) {
            RunResult run = RunTool(scratch, args);
            EXPECT_EQ(run.status, 0) << method << " " << args.back() << ": " << run.errors;
        }
        EXPECT_EQ(ReadBytes(scratch.path("defaults.png")), ReadBytes(scratch.path("plain.png"))) << method;
    }
}

// Every refusal names its real reason in one line and leaves the existing
// output alone. The editor's loader takes the same checks.
TEST(RepaintTool, RefusesFilesFromTheirHeaderWithTheRealReason) {
    ScratchFolder scratch;
    WriteBytes(scratch.path("broken.jpg"), "\xFF\xD8\xFF\xE0 not really a JPEG");
    WriteBytes(scratch.path("huge.bmp"), ClaimingBmp(20000, 20000));
    WriteBytes(scratch.path("strip.tif"), ClaimingTiffStrip(100000000, true));
    WriteBytes(scratch.path("counts.tif"), ClaimingTiffStrip(4, false));
    WriteBytes(scratch.path("bomb.png"), ClaimingPng(40000, 40000));
    WriteBytes(scratch.path("grey.png"), ClaimingPng(46000, 46000));
    // A text chunk ahead of the pixels that claims 1.7 GB, which libpng would allocate.
    const std::string small = ClaimingPng(40, 30);
    WriteBytes(scratch.path("text.png"), small.substr(0, 33) + BigEndian32(1700000000) + "tEXtComment" + small.substr(33));
    const bool roomy = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGE_SIZE)) > 50e9;
    WriteBytes(scratch.path("picture.tga"), std::string("\0\0\2\0\0\0\0\0\0\0\0\0\x74\x45\x58\x74\x18\0", 18) +
                                                std::string(1500, '\0'));  // TGA, 17780 x 29784
    WritePicture(scratch.path("wide.png"), 70000, 8, 1);
    fs::create_directory(scratch.path("folder.png"));
    ASSERT_EQ(mkfifo(scratch.path("fifo.png").c_str(), 0600), 0);
    fs::create_symlink("loop.png", scratch.path("loop.png"));
    WriteBytes(scratch.path("locked.png"), ReadBytes(scratch.path("wide.png")));
    chmod(scratch.path("locked.png").c_str(), 0);
    const bool root = geteuid() == 0;  // root reads a file of mode 0 all the same
    for (const char* kept : {"kept.png", "kept.jpg"}) WriteBytes(scratch.path(kept), "an existing file");
    for (const char* output : {"stderr.txt", "stdout.txt"}) WriteBytes(scratch.path(output), "");
    const std::set<std::string> before = scratch.files();

    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"broken.jpg", "kept.png"}, "Image format not supported!"},
        {{"nothing-here.png", "kept.png"}, "no such file"},
        {{"wide.png", "out.gif"}, "Image format not supported!"},
        {{"huge.bmp", "kept.png"}, "too large: 20000 x 20000 pixels (400 megapixels), 2.2 times the limit of 180"},
        {{"strip.tif", "kept.png"}, "damaged"},
        {{"counts.tif", "kept.png"}, "damaged"},
        {{"text.png", "kept.png"}, "damaged"},
        {{"bomb.png", "kept.png"}, "too large: 40000 x 40000 pixels (1600 megapixels), 8.9 times"},
        {{"bomb.png", "kept.png", "--max-megapixels", "400"}, "4.0 times the limit of 400"},
        // 2116 megapixels take about 51 GB to smudge; a machine with more says nothing.
        {{"grey.png", "kept.png", "--max-megapixels", "1000000"}, roomy ? "" : "needs about 51 GB of memory"},
        {{"picture.tga", "kept.png"}, "Image format not supported!"},
        {{"wide.png", "kept.jpg"}, "65,500 pixels a side"},
        {{"folder.png", "kept.png"}, "is a folder"},
        {{"fifo.png", "kept.png"}, "FIFO"},
        {{"loop.png", "kept.png"}, "cannot be read (Too many levels of symbolic links)"},
        {{"locked.png", "kept.png"}, root ? "" : "Permission denied"},
    };
    for (Case& c : cases) {
        if (c.expected.empty()) continue;
        c.args.insert(c.args.begin(), {"smudge", "-q"});
        RunResult run = RunTool(scratch, c.args);
        EXPECT_EQ(run.status, 1) << c.args[2] << ": " << run.errors;
        EXPECT_NE(run.errors.find(c.expected), std::string::npos) << c.args[2] << ": " << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        EXPECT_EQ(run.errors.find("Success"), std::string::npos) << run.errors;
    }
    for (const char* kept : {"kept.png", "kept.jpg"}) EXPECT_EQ(ReadBytes(scratch.path(kept)), "an existing file") << kept;
    EXPECT_EQ(scratch.files(), before) << "no output and no temporary file";
}

// Metadata that cannot be read or written are left out with one line each,
// and the picture is written all the same.
TEST(RepaintTool, TellsInOneLineWhatWasLeftOutAndWritesThePicture) {
    ScratchFolder scratch;
    WritePicture(scratch.path("plain.jpg"), 40, 30, 3);
    std::string jpeg = ReadBytes(scratch.path("plain.jpg"));
    // An EXIF block whose first directory claims 65,535 entries.
    const std::string exif = std::string("Exif\0\0II*\0\x08\0\0\0\xFF\xFF", 16) + std::string(100, '\0');
    WriteBytes(scratch.path("exif.jpg"), jpeg.substr(0, 2) + "\xFF\xE1" + char(0) + char(exif.size() + 2) + exif + jpeg.substr(2));
    auto tiffWith = [&](const std::string& name, const std::string& profile, size_t xmpBytes) {
        PicBufHolder picture;
        MakeTestPicture(picture, 40, 30, 3, 8);
        BitmapHolder bitmap(Export(picture.buf));
        FreeImage_CreateICCProfile(bitmap.get(), const_cast<char*>(profile.data()), long(profile.size()));
        FreeImage_SetMetadataKeyValue(FIMD_XMP, bitmap.get(), "XMLPacket", ("<x:xmpmeta>" + std::string(xmpBytes, ' ') + "</x:xmpmeta>").c_str());
        ASSERT_TRUE(FreeImage_Save(FIF_TIFF, bitmap.get(), scratch.path(name).c_str(), 0));
    };
    tiffWith("profile.tif", BigEndian32(200) + std::string(196, 'x'), 10);
    tiffWith("xmp.tif", "", 1 << 20);
    const std::vector<std::string> cases[] = {
        {"exif.jpg", "out.jpg", "exif.jpg: its EXIF or IPTC metadata are damaged; they were left out"},
        {"profile.tif", "out.png", "profile.tif: its colour profile is damaged; out.png was written without it"},
        {"xmp.tif", "out.jpg", "xmp.tif: its XMP metadata are too large for a JPEG file; out.jpg was written without them"},
    };
    for (const std::vector<std::string>& c : cases) {
        RunResult run = RunTool(scratch, {"smudge", "-q", c[0], c[1]});
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.errors, "ostrivel-repaint: " + c[2] + "\n");
        PicBufHolder output;
        EXPECT_TRUE(LoadPicture(output.buf, scratch.path(c[1]).c_str())) << c[0];
        fs::remove(scratch.path(c[1]));
    }
}

// An input under another name, or two inputs written to one output, stop
// the whole request before any work.
TEST(RepaintTool, NeverOverwritesAnInputUnderAnyNameNorOneOutputTwice) {
    ScratchFolder scratch;
    for (const char* folder : {"sub", "a1", "a2", "out"}) fs::create_directory(scratch.path(folder));
    WritePicture(scratch.path("in.png"), 40, 30, 3);
    WritePicture(scratch.path("sub/in.png"), 30, 40, 3);
    WritePicture(scratch.path("a1/p.png"), 40, 30, 3);
    WritePicture(scratch.path("a2/p.png"), 30, 40, 1);
    fs::create_symlink("in.png", scratch.path("symbolic.png"));
    fs::create_hard_link(scratch.path("in.png"), scratch.path("out/hard.png"));
    const std::string before = ReadBytes(scratch.path("in.png"));

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> named;
    } cases[] = {
        {{"in.png", "in.png"}, {"in.png"}},
        {{"in.png", "./in.png"}, {"./in.png"}},
        {{"in.png", "sub/../in.png"}, {"sub/../in.png"}},
        {{"in.png", "symbolic.png"}, {"symbolic.png"}},
        {{"in.png", "out/hard.png"}, {"hard.png", "in.png"}},
        {{"in.png", "-o", "."}, {"in.png"}},
        {{"sub/in.png", "in.png", "-o", "."}, {"in.png"}},
        {{"a1/p.png", "a2/p.png", "-o", "out"}, {"a1/p.png", "a2/p.png"}},
        {{"a1/p.png", "a1/../a1/p.png", "-o", "out"}, {"a1/p.png"}},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.begin(), {"smudge", "-q"});
        RunResult run = RunTool(scratch, c.args);
        EXPECT_EQ(run.status, 2) << c.args[3] << ": " << run.errors;
        for (const std::string& name : c.named) EXPECT_NE(run.errors.find(name), std::string::npos) << run.errors;
        EXPECT_EQ(ReadBytes(scratch.path("in.png")), before) << c.args[3];
        EXPECT_FALSE(fs::exists(scratch.path("out/p.png"))) << "nothing is written";
    }
}

// The output folder swapped for a link to the inputs' folder while a batch
// runs: no input is overwritten, and each picture after the swap fails.
TEST(RepaintTool, AnOutputFolderSwappedForTheInputsFolderDuringABatchIsNeverWrittenThrough) {
    ScratchFolder scratch;
    fs::create_directory(scratch.path("in"));
    fs::create_directory(scratch.path("out"));
    std::vector<std::string> args = {"smudge", "-q", "-o", "out"};
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        WritePicture(scratch.path(std::string("in/") + name), 800, 600, 3);
        args.push_back(std::string("in/") + name);
    }
    const std::string before = ReadBytes(scratch.path("in/b.png"));
    const pid_t pid = Start(scratch, args);
    // Swapped while b.png is painted, so that its save finds the folder gone.
    WaitUntil([&] { return fs::exists(scratch.path("out/a.png")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fs::rename(scratch.path("out"), scratch.path("out.old"));
    fs::create_directory_symlink("in", scratch.path("out"));
    const RunResult run = Finish(scratch, pid);
    EXPECT_EQ(run.status, 1) << run.errors;
    for (const char* name : {"b.png", "c.png"}) {
        EXPECT_EQ(ReadBytes(scratch.path(std::string("in/") + name)), before) << name;
        EXPECT_NE(run.errors.find(std::string("in/") + name + ": the output folder out was moved or replaced"),
                  std::string::npos) << run.errors;
    }
    EXPECT_EQ(std::set<std::string>({"a.png"}), [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(scratch.path("out.old"))) names.insert(entry.path().filename());
        return names;
    }());
}

// A run interrupted once stops without writing; a run whose input is
// deleted while it paints still saves, with the metadata kept at opening.
TEST(RepaintTool, InterruptAbortsWithoutWritingAndADeletedInputIsStillSaved) {
    ScratchFolder interrupted, deleted;
    WritePicture(interrupted.path("in.jpg"), 1000, 750, 3);
    // A comment segment right after the JPEG's start marker.
    const std::string note = "Harbour at dusk";
    std::string bytes = ReadBytes(interrupted.path("in.jpg"));
    bytes.insert(2, "\xFF\xFE" + std::string{char(0), char(note.size() + 2)} + note);
    WriteBytes(interrupted.path("in.jpg"), bytes);
    WriteBytes(deleted.path("in.jpg"), bytes);

    const pid_t toInterrupt = Start(interrupted, {"smudge", "in.jpg", "out.png"});
    const pid_t toDelete = Start(deleted, {"smudge", "in.jpg", "out.jpg"});
    for (pid_t pid : {toInterrupt, toDelete}) WaitUntil([pid] { return MainThreadSeconds(pid) >= 0.25; });  // painting
    int status = 0;
    ASSERT_EQ(waitpid(toDelete, &status, WNOHANG), 0) << "the run ended before its input was deleted";
    fs::remove(deleted.path("in.jpg"));
    kill(toInterrupt, SIGINT);

    RunResult run = Finish(interrupted, toInterrupt);
    EXPECT_EQ(run.status, 130) << run.errors;
    EXPECT_NE(run.errors.find("aborted"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(interrupted.path("out.png")));
    run = Finish(deleted, toDelete);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_NE(ReadBytes(deleted.path("out.jpg")).find(note), std::string::npos) << "the input's comment is carried over";
}

// Two signals, during the save or at any other moment: no temporary file is
// left, and the output is the user's older file or a complete new one.
TEST(RepaintTool, TwoSignalsAtAnyMomentLeaveNoTemporaryFileAndTheOldOutputOrANewOne) {
    ScratchFolder scratch;
    const std::string output = scratch.path("out.png");
    WritePicture(scratch.path("in.png"), 700, 500, 3);
    std::mt19937 random(std::random_device{}());
    auto temporaryFiles = [&] {
        const std::set<std::string> files = scratch.files();
        return std::count_if(files.begin(), files.end(),
                             [](const std::string& name) { return name.rfind(".ostrivel-save-", 0) == 0; });
    };
    for (int run = 0; run < 6; ++run) {
        WriteBytes(output, "the user's older file");
        const pid_t pid = Start(scratch, {"redraw", "in.png", "out.png", "-q"});
        if (run % 2 == 0) {
            // During the save: as soon as its temporary file appears.
            WaitUntil([&] { return temporaryFiles() > 0 || ReadBytes(output) != "the user's older file"; });
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 800));
        }
        kill(pid, SIGINT);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(pid, run % 4 < 2 ? SIGTERM : SIGINT);
        const RunResult result = Finish(scratch, pid);
        EXPECT_TRUE(result.status == 130 || result.status == 0) << result.status << ": " << result.errors;
        EXPECT_EQ(temporaryFiles(), 0) << "run " << run << ": " << result.errors;
        PicBufHolder written;
        if (ReadBytes(output) != "the user's older file") {
            ASSERT_TRUE(LoadPicture(written.buf, output.c_str())) << "a complete new output, run " << run;
            EXPECT_EQ(written->width, 700);
        }
        for (const std::string& name : scratch.files())
            if (name.rfind(".ostrivel-save-", 0) == 0) fs::remove(scratch.path(name));
    }
}
