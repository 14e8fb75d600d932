// The Windows tool's stop requests, as a console user makes them: Ctrl+Break
// once stops the run (exit 130, no output, no temporary file), twice ends it
// at once with the same promise, while it paints and while it saves.
#include <windows.h>

#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "picbuf/image_file.h"
#include "test_support.h"

namespace {

constexpr DWORD kAborted = 130;

std::wstring ToolPath() {
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::filesystem::path folder = std::filesystem::path(std::wstring(program, length)).parent_path();
    return (folder.parent_path() / L"cli" / L"ostrivel-repaint.exe").wstring();
}

// The tool in a process group of its own, so a console event reaches it alone.
PROCESS_INFORMATION StartTool(const std::string& input, const std::string& output) {
    std::wstring command = L"\"" + ToolPath() + L"\" smudge \"" + std::filesystem::u8path(input).wstring() +
                           L"\" \"" + std::filesystem::u8path(output).wstring() + L"\" -q --details 60";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                               nullptr, &startup, &process))
        << "cannot start the tool: error " << GetLastError();
    return process;
}

DWORD Finish(PROCESS_INFORMATION& process) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// What a stopped run may leave: its input alone, or (had it finished first)
// a whole result beside it; never a temporary or half-written file.
// (A temporary file goes when the system closes the ended process's handles,
// which may come a moment after the process is gone.)
void ExpectNothingHalfDone(const ScratchFolder& folder, const std::string& output, DWORD code, const char* how) {
    const std::set<std::string> expected =
        code == 0 ? std::set<std::string>{"in.png", "out.png"} : std::set<std::string>{"in.png"};
    std::set<std::string> names = folder.files();
    for (int wait = 0; wait < 100 && names != expected; ++wait, Sleep(20)) names = folder.files();
    EXPECT_EQ(names, expected) << how << ": exit " << code;
    if (code == 0) {
        SBxPicBuf result = {};
        EXPECT_TRUE(LoadPicture(result, output.c_str())) << how << ": the finished result does not open";
        CBxPicBufAPI::DoneHeap(result);
    }
}

// A picture big enough that a run takes a few seconds.
bool WriteInput(const std::string& path) {
    PicBufHolder picture;
    MakeTestPicture(picture, 1200, 1200, 3, 8);
    return SavePicture(picture.buf, path.c_str(), "", SaveFormatByName);
}

}  // namespace

TEST(WindowsTool, CtrlBreakOnceOrTwiceStopsTheRunCleanly) {
    ScratchFolder folder;
    const std::string input = folder.path("in.png"), output = folder.path("out.png");
    ASSERT_TRUE(WriteInput(input));
    std::mt19937 random(11);
    int stoppedWhilePainting = 0;
    for (int run = 0; run < 8; ++run) {
        const bool twice = run % 2, whileSaving = run % 4 >= 2;
        const std::string name = std::string(twice ? "Ctrl+Break twice" : "Ctrl+Break") +
                                 (whileSaving ? " while saving" : " while painting");
        PROCESS_INFORMATION process = StartTool(input, output);
        ASSERT_NE(process.hProcess, nullptr);
        if (whileSaving) {  // until its temporary file appears
            while (folder.files().size() < 2 && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) Sleep(0);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 1200));
        }
        if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)) {
            // Wine gives console events only to programs in a console of its
            // own; a test run with its output in a pipe has none.
            const DWORD error = GetLastError();
            TerminateProcess(process.hProcess, 9);
            Finish(process);
            GTEST_SKIP() << "no console to send Ctrl+Break through (error " << error << ")";
        }
        if (twice) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId);
        const DWORD code = Finish(process);
        EXPECT_TRUE(code == kAborted || code == 0) << name << ": exit " << code;
        stoppedWhilePainting += code == kAborted && !whileSaving;
        ExpectNothingHalfDone(folder, output, code, name.c_str());
        DeleteFileW(std::filesystem::u8path(output).c_str());
    }
    // The requests while painting come long before the run's end: a stop
    // that is never heard would end those runs with exit 0.
    EXPECT_EQ(stoppedWhilePainting, 4);
}

// A run killed outright while it saves (TerminateProcess cannot be caught)
// leaves no temporary file: the system deletes it when it closes the ended
// process's handles.
TEST(WindowsTool, KilledWhileSavingLeavesNoTemporaryFile) {
    ScratchFolder folder;
    const std::string input = folder.path("in.png"), output = folder.path("out.png");
    ASSERT_TRUE(WriteInput(input));
    PROCESS_INFORMATION process = StartTool(input, output);
    ASSERT_NE(process.hProcess, nullptr);
    while (folder.files().size() < 2 && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) Sleep(0);
    const bool killed = TerminateProcess(process.hProcess, 9);
    const DWORD code = Finish(process);
    EXPECT_TRUE(killed || code == 0) << "exit " << code;
    ExpectNothingHalfDone(folder, output, code, "killed while saving");
}
