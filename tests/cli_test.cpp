// Runs the ostrivel-repaint program itself, in a scratch folder, on small
// pictures made here.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "picbuf/image_file.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;  // exit status, or 128 + signal
    std::string errors;
};

// Starts the program in folder with its standard error going to folder/stderr.txt.
pid_t Start(const ScratchFolder& folder, std::vector<std::string> args) {
    std::fflush(nullptr);  // or the child writes the parent's buffered output again
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.folder().c_str()) != 0 || !std::freopen("stderr.txt", "w", stderr) ||
            !std::freopen("/dev/null", "w", stdout))
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(OSTRIVEL_REPAINT)};
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(OSTRIVEL_REPAINT, argv.data());
        _exit(127);
    }
    return pid;
}

ToolRun Finish(const ScratchFolder& folder, pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadBytes(folder.path("stderr.txt"))};
}

ToolRun RunTool(const ScratchFolder& folder, const std::vector<std::string>& args) {
    return Finish(folder, Start(folder, args));
}

void WritePicture(const ScratchFolder& folder, const std::string& name, int width, int height, int components) {
    PicBufHolder picture;
    MakeTestPicture(picture, width, height, components, 8);
    ASSERT_TRUE(SavePicture(picture.buf, folder.path(name).c_str(), "", SaveFormatByName));
}

}  // namespace

TEST(RepaintTool, EveryMethodRepaintsAPictureAndKeepsItsSize) {
    ScratchFolder scratch;
    WritePicture(scratch, "in.png", 120, 90, 3);
    PicBufHolder input, output;
    ASSERT_TRUE(LoadPicture(input.buf, scratch.path("in.png").c_str()));
    for (auto [method, option] : {std::pair{"smudge", "--details"}, {"original", "--smoothness"}, {"redraw", "--details"}}) {
        const ToolRun run = RunTool(scratch, {method, "in.png", "out.png", option, "2"});
        ASSERT_EQ(run.status, 0) << method << ": " << run.errors;
        ASSERT_TRUE(LoadPicture(output.buf, scratch.path("out.png").c_str()));
        ASSERT_EQ(output->width * 1000 + output->height, 120090);
        // Smudge and Original keep the picture's colours; Redraw draws on white paper.
        double difference = 0, paper = 0;
        for (int i = 0; i < input->size; ++i) {
            difference += std::abs(input->pixels[i] - output->pixels[i]);
            paper += output->pixels[i] == 255;
        }
        if (method == std::string("redraw")) EXPECT_GT(paper / input->size, 0.5);
        else EXPECT_LT(difference / input->size, 12) << method;
        EXPECT_FALSE(SamePixels(input.buf, output.buf));
    }
    // The JPEG quality reaches the file.
    EXPECT_EQ(RunTool(scratch, {"smudge", "in.png", "low.jpg", "--quality", "10"}).status, 0);
    EXPECT_EQ(RunTool(scratch, {"smudge", "in.png", "high.jpg", "--quality", "100"}).status, 0);
    EXPECT_LT(ReadBytes(scratch.path("low.jpg")).size(), ReadBytes(scratch.path("high.jpg")).size());
    EXPECT_EQ(RunTool(scratch, {"--help"}).status, 0);
    EXPECT_EQ(RunTool(scratch, {"smudge", "--help"}).status, 0);
}

TEST(RepaintTool, ChecksItsArguments) {
    ScratchFolder scratch;
    WritePicture(scratch, "in.png", 40, 30, 3);
    const std::vector<std::vector<std::string>> wrong = {
        {"smudge", "in.png", "out.png", "--details", "0"},   {"smudge", "in.png", "out.png", "--details", "abc"},
        {"smudge", "in.png", "out.png", "--details", "5x"},  {"smudge", "in.png", "out.png", "--quality", "5"},
        {"smudge", "in.png", "out.png", "--bogus", "1"},     {"smudge", "in.png"},
        {"smudge", "in.png", "a.png", "b.png"},              {"paint", "in.png", "out.png"},
        {"smudge", "in.png", "-o", "no-such-folder"},
    };
    for (const std::vector<std::string>& args : wrong) {
        const ToolRun run = RunTool(scratch, args);
        EXPECT_EQ(run.status, 2) << args[args.size() - 1] << ": " << run.errors;
        EXPECT_FALSE(run.errors.empty());
    }
    EXPECT_FALSE(fs::exists(scratch.path("out.png")));
}

// A failed picture is one line on standard error and exit status 1, and it
// writes or touches nothing: not a broken, missing or unwritable picture,
// and never the input under any of its names.
TEST(RepaintTool, RefusesBadFilesAndNeverOverwritesTheInput) {
    ScratchFolder scratch;
    WriteBytes(scratch.path("broken.jpg"), "\xFF\xD8\xFF\xE0 not really a JPEG");
    WriteBytes(scratch.path("kept.png"), "an existing file");
    WritePicture(scratch, "in.png", 40, 30, 1);
    fs::create_directory(scratch.path("sub"));
    fs::create_symlink("in.png", scratch.path("link.png"));
    fs::create_hard_link(scratch.path("in.png"), scratch.path("hard.png"));
    const std::string input = ReadBytes(scratch.path("in.png"));

    const ToolRun broken = RunTool(scratch, {"smudge", "broken.jpg", "kept.png"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.errors.find("Image format not supported!"), std::string::npos) << broken.errors;
    EXPECT_EQ(std::count(broken.errors.begin(), broken.errors.end(), '\n'), 1) << broken.errors;
    EXPECT_EQ(ReadBytes(scratch.path("kept.png")), "an existing file");
    const ToolRun missing = RunTool(scratch, {"smudge", "nothing-here.png", "out.png"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("no such file"), std::string::npos) << missing.errors;
    EXPECT_EQ(RunTool(scratch, {"smudge", "in.png", "out.gif"}).status, 1);

    const std::vector<std::pair<std::string, std::string>> sameFile = {
        {"in.png", "in.png"},   {"in.png", "./in.png"},  {"./in.png", "sub/../in.png"}, {"in.png", "link.png"},
        {"link.png", "in.png"}, {"in.png", "hard.png"},  {"hard.png", scratch.path("in.png")}};
    for (const auto& [from, to] : sameFile) {
        const ToolRun run = RunTool(scratch, {"smudge", from, to});
        EXPECT_EQ(run.status, 1) << from << " -> " << to;
        EXPECT_NE(run.errors.find("refusing to overwrite the input"), std::string::npos) << run.errors;
    }
    EXPECT_EQ(ReadBytes(scratch.path("in.png")), input);
    EXPECT_TRUE(fs::is_symlink(scratch.path("link.png")));
    EXPECT_EQ(fs::hard_link_count(scratch.path("in.png")), 2u);
    // No output and no temporary file was left anywhere.
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.folder()), fs::directory_iterator()), 7);
    EXPECT_TRUE(fs::is_empty(scratch.path("sub")));
}

TEST(RepaintTool, BatchWritesEveryGoodPictureAndFailsForAnyBadOne) {
    ScratchFolder scratch;
    fs::create_directory(scratch.path("out"));
    WritePicture(scratch, "a.png", 50, 40, 3);
    WritePicture(scratch, "b.tif", 40, 50, 1);
    WriteBytes(scratch.path("c.png"), "junk");
    WriteBytes(scratch.path("d.png"), "junk");
    // One, two or three failed inputs all give exit status 1.
    const std::vector<std::string> inputs[] = {{"a.png", "c.png", "b.tif"}, {"c.png", "a.png", "d.png", "b.tif"},
                                               {"c.png", "d.png", "missing.png"}};
    for (const std::vector<std::string>& names : inputs) {
        fs::remove_all(scratch.path("out")), fs::create_directory(scratch.path("out"));
        std::vector<std::string> args = {"redraw"};
        args.insert(args.end(), names.begin(), names.end());
        args.insert(args.end(), {"-o", "out", "-q"});
        EXPECT_EQ(RunTool(scratch, args).status, 1) << names.size() << " inputs";
        for (const char* name : {"a.png", "b.tif"})
            EXPECT_EQ(fs::exists(scratch.path("out/") + name), std::count(names.begin(), names.end(), name) == 1) << name;
        EXPECT_FALSE(fs::exists(scratch.path("out/c.png")));
    }
    // The inputs' own folder as the output folder would overwrite them.
    const std::string before = ReadBytes(scratch.path("a.png"));
    EXPECT_EQ(RunTool(scratch, {"redraw", "a.png", "-o", "."}).status, 1);
    EXPECT_EQ(ReadBytes(scratch.path("a.png")), before);
}

TEST(RepaintTool, InterruptAbortsWithoutWritingTheOutput) {
    ScratchFolder scratch;
    WritePicture(scratch, "big.png", 2000, 1500, 3);
    const pid_t pid = Start(scratch, {"smudge", "big.png", "out.png"});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(pid, SIGINT);
    const ToolRun run = Finish(scratch, pid);
    EXPECT_EQ(run.status, 130) << run.errors;
    EXPECT_NE(run.errors.find("aborted"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(scratch.path("out.png")));
}
