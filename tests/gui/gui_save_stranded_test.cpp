// Window tests of saving a result whose opened file has been moved away: the
// metadata kept since opening are saved without a word; when they were not
// kept, the editor asks once (entry 88) and then writes nothing or saves
// without them. And names typed with ".jpeg" or ".TIFF" are kept as typed.
#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND window;
WideString folder;
const std::string kNote = "Harbour at dusk";  // the photograph's JPEG comment

std::string Title() {
    WCHAR text[1100];
    GetWindowTextW(window, text, 1100);
    return Utf8(text);
}

bool Contains(const WideString& path, const std::string& text) {
    return FileStart(path, 1 << 20).find(text) != std::string::npos;
}

// Save As with the type entry and the name typed; a message box that
// appears is answered with `answer`. Returns the message boxes seen;
// `offered` gets the entry the dialog opened with.
std::vector<SeenDialog> SaveAs(const WideString& name, int type, int answer = IDOK, int* offered = nullptr) {
    FileCommandRun run = RunFileCommand(
        window, IDM_SAVE_AS,
        [&](HWND dialog) {
            if (offered) *offered = SelectedType(dialog);
            ChooseFile(name, type)(dialog);
        },
        answer);
    return run.messages;
}

void KeptMetadata() {
    Section("the opened file moved away, its metadata kept");
    app.unsavedResult = 1;
    std::vector<SeenDialog> messages = SaveAs(folder + L"kept.jpg", 3);
    Check(messages.empty() && Contains(folder + L"kept.jpg", kNote), "it is saved with its comment, without a word");
    Check(Title() == "Ostrivel - " + Utf8((folder + L"kept.jpg").c_str()) && app.unsavedResult == 0,
          "the title shows it and the unsaved mark is cleared");
}

void LostMetadata() {
    Section("the opened file moved away, its metadata not kept");
    document.metadata.reset();  // as when keeping them failed
    app.unsavedResult = 1;
    const std::string title = Title();
    std::vector<SeenDialog> messages = SaveAs(folder + L"declined.jpg", 3, IDNO);
    bool asked = messages.size() == 1 && messages[0].text == Utf8(DefaultLang(88)) &&
                 messages[0].title == "Warning" && messages[0].owner == window;
    Check(asked, "the editor asks with entry 88, caption Warning, owned by the main window");
    Check(!FileExists(folder + L"declined.jpg") && app.unsavedResult == 1 && Title() == title,
          "No writes nothing and keeps the unsaved mark and the title");

    messages = SaveAs(folder + L"bare.jpg", 3, IDYES);
    Check(messages.size() == 1 && FileExists(folder + L"bare.jpg") && !Contains(folder + L"bare.jpg", kNote),
          "Yes saves the picture without the metadata");
    Check(Title() == "Ostrivel - " + Utf8((folder + L"bare.jpg").c_str()) && app.unsavedResult == 0,
          "the title shows it and the unsaved mark is cleared");
    messages = SaveAs(folder + L"again.png", 2);
    Check(messages.empty() && FileExists(folder + L"again.png"), "the next save asks no more");
}

void TypedLongExtensions() {
    Section("names typed with a long extension");
    struct Case {
        const WCHAR* name;
        int type;  // the entry selected, which the name overrules
        std::string magic;
        const WCHAR* appended;
    } cases[] = {{L"typed.jpeg", 0, "\xFF\xD8\xFF", L"typed.jpeg.bmp"}, {L"typed.TIFF", 2, "II*", L"typed.TIFF.png"}};
    for (const Case& c : cases) {
        SaveAs(folder + c.name, c.type);
        Check(FileStart(folder + c.name, c.magic.size()) == c.magic && !FileExists(folder + c.appended),
              "%s chooses its format and is kept as typed", Utf8(c.name).c_str());
    }
    DropFile(window, folder + L"typed.TIFF");
    int offered = -1;
    SaveAs(folder + L"again.png", 2, IDOK, &offered);
    Check(offered == 1, "an opened .TIFF file offers the *.tif entry (got %d)", offered);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(120);
    RemoveLanguageFile();
    RemoveSettingsFolder();
    folder = TestFilesFolder() + L"stranded";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\";
    for (const WCHAR* name : {L"photo.jpg", L"moved.jpg", L"kept.jpg", L"declined.jpg", L"bare.jpg",
                              L"again.png", L"typed.jpeg", L"typed.TIFF", L"typed.jpeg.bmp", L"typed.TIFF.png"})
        DeleteFileW((folder + name).c_str());

    // A photograph with a comment segment right after the JPEG's start marker.
    const WideString photo = folder + L"photo.jpg";
    WriteTestPicture(photo, 120, 80, SaveFormatJpeg);
    std::string bytes = FileStart(photo, 1 << 20);
    bytes.insert(2, "\xFF\xFE" + std::string{char(0), char(kNote.size() + 2)} + kNote);
    if (!Check(bytes.size() > 100 && WriteTextFile(photo, bytes), "the test photograph is written")) return Summary();
    window = OpenEditorWindow(instance, 900, 600);
    if (!Check(window != nullptr, "the main window is created")) return Summary();
    DropFile(window, photo);
    Check(document.original.width == 120, "the photograph is opened");
    MoveFileW(photo.c_str(), (folder + L"moved.jpg").c_str());

    KeptMetadata();
    LostMetadata();
    TypedLongExtensions();

    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    PumpMessages(20);
    return Summary();
}
