// Runs the ostrivel-repaint program itself on small pictures made here.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "picbuf/image_file.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string errors;
};

pid_t Start(const std::vector<std::string>& args, const std::string& errorsPath) {
    pid_t pid = fork();
    if (pid == 0) {
        FILE* errors = std::fopen(errorsPath.c_str(), "w");
        if (errors) dup2(fileno(errors), STDERR_FILENO);
        std::vector<char*> argv;
        std::string program = OSTRIVEL_REPAINT;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

RunResult Finish(pid_t pid, const std::string& errorsPath) {
    RunResult result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.errors = ReadBytes(errorsPath);
    return result;
}

RunResult RunTool(const ScratchFolder& scratch, const std::vector<std::string>& args) {
    std::string errorsPath = scratch.path("stderr.txt");
    return Finish(Start(args, errorsPath), errorsPath);
}

void WritePicture(const std::string& path, int width, int height, int components) {
    PicBufHolder picture;
    MakeTestPicture(picture, width, height, components, 8);
    ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), "", SaveFormatByName));
}

}  // namespace

TEST(RepaintTool, RepaintsAPictureAndKeepsItsSize) {
    ScratchFolder scratch;
    WritePicture(scratch.path("in.png"), 120, 90, 3);
    RunResult run = RunTool(scratch, {"smudge", scratch.path("in.png"), scratch.path("out.jpg"), "--details", "20"});
    ASSERT_EQ(run.status, 0) << run.errors;
    PicBufHolder input, output;
    ASSERT_TRUE(LoadPicture(input.buf, scratch.path("in.png").c_str()));
    ASSERT_TRUE(LoadPicture(output.buf, scratch.path("out.jpg").c_str()));
    EXPECT_EQ(output->width, 120);
    EXPECT_EQ(output->height, 90);
    EXPECT_EQ(output->components, 3);
}

TEST(RepaintTool, RefusesBadFilesWithoutWritingOrTouchingAnything) {
    ScratchFolder scratch;
    std::ofstream(scratch.path("broken.jpg"), std::ios::binary) << "\xFF\xD8\xFF\xE0 not really a JPEG";
    std::ofstream(scratch.path("kept.png"), std::ios::binary) << "an existing file";
    WritePicture(scratch.path("good.png"), 40, 30, 1);

    RunResult broken = RunTool(scratch, {"smudge", scratch.path("broken.jpg"), scratch.path("kept.png")});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.errors.find("Image format not supported!"), std::string::npos) << broken.errors;
    EXPECT_EQ(std::count(broken.errors.begin(), broken.errors.end(), '\n'), 1) << "one line: " << broken.errors;
    EXPECT_EQ(ReadBytes(scratch.path("kept.png")), "an existing file");

    RunResult missing = RunTool(scratch, {"smudge", scratch.path("nothing-here.png"), scratch.path("out.png")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.errors.find("no such file"), std::string::npos) << missing.errors;
    EXPECT_FALSE(fs::exists(scratch.path("out.png")));

    RunResult badExtension = RunTool(scratch, {"smudge", scratch.path("good.png"), scratch.path("out.gif")});
    EXPECT_EQ(badExtension.status, 1);
    EXPECT_FALSE(fs::exists(scratch.path("out.gif")));

    std::string before = ReadBytes(scratch.path("good.png"));
    RunResult ontoItself = RunTool(scratch, {"smudge", scratch.path("good.png"), scratch.path("good.png")});
    EXPECT_EQ(ontoItself.status, 2);
    EXPECT_EQ(ReadBytes(scratch.path("good.png")), before);

    // Only the pictures and the one existing file remain: no temporary files.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(scratch.folder()))
        if (entry.path().filename() != "stderr.txt") ++files;
    EXPECT_EQ(files, 3);
}

TEST(RepaintTool, ChecksItsArguments) {
    ScratchFolder scratch;
    WritePicture(scratch.path("in.png"), 40, 30, 3);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"smudge", scratch.path("in.png"), scratch.path("out.png"), "--details", "0"},
             {"smudge", scratch.path("in.png"), scratch.path("out.png"), "--details", "abc"},
             {"smudge", scratch.path("in.png"), scratch.path("out.png"), "--quality", "5"},
             {"smudge", scratch.path("in.png"), scratch.path("out.png"), "--bogus", "1"},
             {"smudge", scratch.path("in.png")},
             {"paint", scratch.path("in.png"), scratch.path("out.png")},
             {"smudge", scratch.path("in.png"), "-o", scratch.path("no-such-folder")},
         }) {
        RunResult run = RunTool(scratch, args);
        EXPECT_EQ(run.status, 2) << args[args.size() - 1] << ": " << run.errors;
        EXPECT_FALSE(run.errors.empty());
    }
    EXPECT_FALSE(fs::exists(scratch.path("out.png")));
    EXPECT_EQ(RunTool(scratch, {"--help"}).status, 0);
    EXPECT_EQ(RunTool(scratch, {"smudge", "--help"}).status, 0);
}

TEST(RepaintTool, BatchWritesEveryGoodPictureIntoTheFolder) {
    ScratchFolder scratch;
    fs::create_directory(scratch.path("out"));
    WritePicture(scratch.path("a.png"), 50, 40, 3);
    WritePicture(scratch.path("b.tif"), 40, 50, 1);
    std::ofstream(scratch.path("c.png"), std::ios::binary) << "junk";
    RunResult run =
        RunTool(scratch, {"smudge", scratch.path("a.png"), scratch.path("c.png"), scratch.path("b.tif"), "-o",
                      scratch.path("out"), "-q"});
    EXPECT_EQ(run.status, 1) << "one picture failed";
    EXPECT_TRUE(fs::exists(scratch.path("out/a.png")));
    EXPECT_TRUE(fs::exists(scratch.path("out/b.tif")));
    EXPECT_FALSE(fs::exists(scratch.path("out/c.png")));

    // The inputs' own folder as the output folder would overwrite them.
    std::string before = ReadBytes(scratch.path("a.png"));
    RunResult ontoInputs = RunTool(scratch, {"smudge", scratch.path("a.png"), "-o", scratch.folder()});
    EXPECT_EQ(ontoInputs.status, 2);
    EXPECT_EQ(ReadBytes(scratch.path("a.png")), before);
}

TEST(RepaintTool, InterruptAbortsWithoutWritingTheOutput) {
    ScratchFolder scratch;
    WritePicture(scratch.path("big.png"), 2000, 1500, 3);
    std::string errorsPath = scratch.path("stderr.txt");
    pid_t pid = Start({"smudge", scratch.path("big.png"), scratch.path("out.png")}, errorsPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(pid, SIGINT);
    RunResult run = Finish(pid, errorsPath);
    EXPECT_EQ(run.status, 130) << run.errors;
    EXPECT_NE(run.errors.find("aborted"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(scratch.path("out.png")));
}

TEST(RepaintTool, AnInputDeletedWhileItIsPaintedIsStillSavedWithItsMetadata) {
    ScratchFolder scratch;
    const std::string input = scratch.path("victim.jpg"), output = scratch.path("painted.jpg");
    WritePicture(input, 1200, 900, 3);
    // A comment segment right after the JPEG's start marker.
    const std::string note = "Harbour at dusk";
    std::string bytes = ReadBytes(input);
    bytes.insert(2, "\xFF\xFE" + std::string{char(0), char(note.size() + 2)} + note);
    std::ofstream(input, std::ios::binary) << bytes;

    const std::string errorsPath = scratch.path("stderr.txt");
    pid_t pid = Start({"smudge", input, output}, errorsPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the run ended before its input was deleted";
    fs::remove(input);
    RunResult run = Finish(pid, errorsPath);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_NE(ReadBytes(output).find(note), std::string::npos) << "the input's comment is carried over";
}
