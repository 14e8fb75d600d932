// Window tests of the open and save dialogs as the user meets them: the open
// dialog and its failure message keeping the shown picture, the Save As
// default name and type from photo.JPG, the format from a typed name, a
// second Save As, all four formats, the JPEG quality panel with its minimum
// and its enabling, the type list of a 16-bit picture, and a failed save
// keeping the document and its unsaved mark. The real common dialogs are
// driven from a timer while they run.
#include <string.h>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND window;
WideString folder;

std::string Title() {
    WCHAR text[1100];
    GetWindowTextW(window, text, 1100);
    return Utf8(text);
}

BOOL CALLBACK FindSlider(HWND child, LPARAM found) {
    if (GetDlgCtrlID(child) == IDC_JPEG_SLIDER) {
        *reinterpret_cast<HWND*>(found) = GetParent(child);
        return FALSE;
    }
    return TRUE;
}

// The quality panel hooked into a save dialog.
HWND QualityPanel(HWND dialog) {
    HWND panel = nullptr;
    EnumChildWindows(dialog, FindSlider, reinterpret_cast<LPARAM>(&panel));
    return panel;
}

bool PanelEnabled(HWND panel) {
    bool all = true;
    for (int id : {IDC_JPEG_SLIDER, IDC_JPEG_LABEL, IDC_JPEG_RANGE, IDC_JPEG_VALUE})
        all = all && IsWindowEnabled(GetDlgItem(panel, id));
    return all;
}

bool PanelDisabled(HWND panel) {
    bool none = true;
    for (int id : {IDC_JPEG_SLIDER, IDC_JPEG_LABEL, IDC_JPEG_RANGE, IDC_JPEG_VALUE})
        none = none && !IsWindowEnabled(GetDlgItem(panel, id));
    return none;
}

FileCommandRun RunCommand(int command, const std::function<void(HWND)>& fileDialog) {
    return RunFileCommand(window, command, fileDialog);
}

void Cancel(HWND dialog) { PressButton(dialog, IDCANCEL); }

void OpenDialog(const WideString& photo) {
    Section("the open dialog");
    FileCommandRun run = RunCommand(IDM_OPEN, Cancel);
    Check(run.fileDialogs.size() == 1 && run.messages.empty() && !document.original.pixels,
          "cancelling it opens nothing and says nothing");
    run = RunCommand(IDM_OPEN, ChooseFile(photo));
    if (!run.fileDialogs.empty()) {
        Check(run.fileDialogs[0].title == "Open", "it is titled \"Open\" (got \"%s\")", run.fileDialogs[0].title.c_str());
        Check(run.fileDialogs[0].owner == window, "the main window owns it");
    }
    Check(document.original.width == 120 && document.result.width == 120, "the chosen picture is opened");
    Check(Title() == "Ostrivel - " + Utf8(photo.c_str()), "the title shows its path (\"%s\")", Title().c_str());
}

void OpenFailure(const WideString& photo) {
    Section("a file that cannot be opened");
    WideString damaged = folder + L"damaged.png";
    WriteTextFile(damaged, "\x89PNG\r\n\x1a\n but nothing after the signature");
    uint8_t firstByte = document.original.pixels[0];
    FileCommandRun run = RunCommand(IDM_OPEN, ChooseFile(damaged));
    Check(run.messages.size() == 1 && run.messages[0].text == "Image format not supported!" &&
              run.messages[0].title.empty() && run.messages[0].owner == window,
          "says entry 41 without caption, owned by the main window");
    Check(document.original.width == 120 && document.original.pixels[0] == firstByte &&
              document.result.width == 120 && lstrcmpW(document.currentPath, photo.c_str()) == 0,
          "and keeps the shown picture and its path");
    Check(Title() == "Ostrivel - " + Utf8(photo.c_str()), "and the title");
    std::vector<SeenDialog> seen = WithDialogs([&] { DropFile(window, folder + L"missing.jpg"); });
    Check(seen.size() == 1 && seen[0].text == "Image format not supported!" && document.original.width == 120,
          "a dropped file that does not exist fails the same way");
    // 58 bytes of a BMP that claims 20000 x 20000 pixels.
    std::string huge = "BM";
    for (uint32_t field : {58u, 0u, 54u, 40u, 20000u, 20000u, 0x180001u, 0u, 0u, 0u, 0u, 0u, 0u, 0u})
        huge.append(reinterpret_cast<const char*>(&field), 4);
    WriteTextFile(folder + L"huge.bmp", huge);
    seen = WithDialogs([&] { DropFile(window, folder + L"huge.bmp"); });
    Check(seen.size() == 1 && seen[0].text == Utf8(DefaultLang(kPictureTooLargeEntry)) && document.original.width == 120,
          "a file that claims too many pixels says so and keeps the shown picture");
}

void SaveAsDefaults() {
    Section("Save As: default name, type and quality panel");
    WriteSettingsKey("jpeg", "5");
    app.unsavedResult = 1;
    std::string name, title;
    int type = -1;
    bool panelFound = false, labelOk = false, rangeOk = false, startEnabled = false, pngDisabled = false,
         jpegEnabled = false, minimumShown = false, stepped = false;
    FileCommandRun run = RunCommand(IDM_SAVE_AS, [&](HWND dialog) {
        name = FileName(dialog);
        type = SelectedType(dialog);
        HWND panel = QualityPanel(dialog);
        panelFound = panel != nullptr;
        if (panel) {
            HWND slider = GetDlgItem(panel, IDC_JPEG_SLIDER);
            labelOk = DialogItemText(panel, IDC_JPEG_LABEL) == "Jpeg Quality:";
            rangeOk = SendMessageW(slider, TBM_GETRANGEMIN, 0, 0) == 10 &&
                      SendMessageW(slider, TBM_GETRANGEMAX, 0, 0) == 100;
            minimumShown = SendMessageW(slider, TBM_GETPOS, 0, 0) == 10 && DialogItemText(panel, IDC_JPEG_VALUE) == "10";
            startEnabled = PanelEnabled(panel);
            SelectType(dialog, 2);
            pngDisabled = PanelDisabled(panel);
            SelectType(dialog, 3);
            jpegEnabled = PanelEnabled(panel);
            SendMessageW(panel, WM_HSCROLL, TB_LINEDOWN, reinterpret_cast<LPARAM>(slider));
            SendMessageW(panel, WM_HSCROLL, TB_PAGEDOWN, reinterpret_cast<LPARAM>(slider));
            stepped = SendMessageW(slider, TBM_GETPOS, 0, 0) == 12 && DialogItemText(panel, IDC_JPEG_VALUE) == "12";
        }
        // The JPEG entry stays selected; the typed name asks for PNG.
        SetFileName(dialog, folder + L"out.png");
        PressButton(dialog, IDOK);
    });
    if (!Check(run.fileDialogs.size() == 1, "the save dialog opens")) return;
    Check(run.fileDialogs[0].title == "Save As...", "it is titled \"Save As...\" (got \"%s\")",
          run.fileDialogs[0].title.c_str());
    Check(name == "photo-denoised", "photo.JPG offers the name photo-denoised (got \"%s\")", name.c_str());
    Check(type == 3, "with the JPEG entry selected (got %d)", type);
    if (Check(panelFound, "the quality panel is hooked in")) {
        Check(labelOk && rangeOk, "it reads \"Jpeg Quality:\" and ranges from 10 to 100");
        Check(minimumShown, "a stored quality of 5 is shown as 10");
        Check(startEnabled, "its controls are enabled while JPEG is selected");
        Check(pngDisabled, "disabled when PNG is selected");
        Check(jpegEnabled, "and enabled again with JPEG");
        Check(stepped, "a line and a page step each move it by one");
    }
    Check(run.messages.empty(), "saving says nothing");
    WideString out = folder + L"out.png";
    Check(FileStart(out, 8) == "\x89PNG\r\n\x1a\n", "out.png typed with JPEG selected is written as PNG");
    Check(Title() == "Ostrivel - " + Utf8(out.c_str()), "the title shows the saved path (\"%s\")", Title().c_str());
    Check(app.unsavedResult == 0, "the unsaved mark is cleared");
    Check(ReadSettingsKey("jpeg") == "12", "the quality is written to the settings (got %s)",
          ReadSettingsKey("jpeg").c_str());
}

void SecondSaveAsAndFormats() {
    Section("a second Save As, and the four formats");
    struct Format {
        const WCHAR* name;
        int type;
        const WCHAR* written;
        std::string magic;
    } formats[] = {
        {L"as-bmp", 0, L"as-bmp.bmp", "BM"},
        {L"as-tif", 1, L"as-tif.tif", "II*"},
        {L"as-png", 2, L"as-png.png", "\x89PNG"},
        {L"as-jpg", 3, L"as-jpg.jpg", "\xFF\xD8\xFF"},
    };
    for (const Format& format : formats) {
        std::string name;
        FileCommandRun run = RunCommand(IDM_SAVE_AS, [&](HWND dialog) {
            name = FileName(dialog);
            ChooseFile(folder + format.name, format.type)(dialog);
        });
        Check(name == "photo-denoised", "Save As offers photo-denoised again (got \"%s\")", name.c_str());
        WideString written = folder + format.written;
        std::string start = FileStart(written, format.magic.size());
        Check(run.messages.empty() && start == format.magic, "a name without extension and entry %d writes %s",
              format.type, Utf8(format.written).c_str());
    }
    FileCommandRun run = RunCommand(IDM_SAVE_AS, ChooseFile(folder + L"upper.TIF", 3));
    Check(FileStart(folder + L"upper.TIF", 3) == "II*", "the typed extension counts regardless of case");
}

void SixteenBitTypes() {
    Section("the type list of a 16-bit picture");
    CBxPicBufAPI::ConvertBpcComp(document.result, 16, 3);
    int count = 0, type = -1;
    std::string first, second;
    RunCommand(IDM_SAVE_AS, [&](HWND dialog) {
        HWND types = GetDlgItem(dialog, IDC_SAVE_FILE_TYPE);
        count = static_cast<int>(SendMessageW(types, CB_GETCOUNT, 0, 0));
        WCHAR text[64] = L"";
        SendMessageW(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
        first = Utf8(text);
        SendMessageW(types, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text));
        second = Utf8(text);
        type = SelectedType(dialog);
        ChooseFile(folder + L"deep", 1)(dialog);
    });
    Check(count == 2 && first == "*.tif" && second == "*.png", "it offers *.tif and *.png (%d entries)", count);
    Check(type == 0, "the first is selected for a .JPG source (got %d)", type);
    Check(FileStart(folder + L"deep.png", 4) == "\x89PNG", "its second entry means PNG");
    CBxPicBufAPI::ConvertBpcComp(document.result, 8, 3);
}

void FailedSave() {
    Section("a save that fails");
    // A folder that takes no new files, not even from root.
    const WideString lost = L"Z:\\proc\\lost.png";
    app.unsavedResult = 1;
    std::string title = Title();
    FileCommandRun run = RunCommand(IDM_SAVE_AS, ChooseFile(lost));
    Check(run.messages.size() == 1 && run.messages[0].text == "Image format not supported!" &&
              run.messages[0].title.empty(),
          "is reported with entry 41");
    Check(!FileExists(lost), "writes nothing");
    Check(app.unsavedResult == 1 && document.result.width == 120 && Title() == title,
          "and keeps the document, its unsaved mark and the title");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartWatchdog(120);
    RemoveLanguageFile();
    RemoveSettingsFolder();
    folder = TestFilesFolder();
    for (const WCHAR* name : {L"out.png", L"as-bmp.bmp", L"as-tif.tif", L"as-png.png", L"as-jpg.jpg", L"upper.TIF",
                              L"deep.png", L"lost.png"})
        DeleteFileW((folder + name).c_str());
    WideString photo = folder + L"photo.JPG";
    if (!Check(WriteTestPicture(photo, 120, 80, SaveFormatJpeg), "the test photograph is written")) return Summary();
    window = OpenEditorWindow(instance, 900, 600);
    if (!Check(window != nullptr, "the main window is created")) return Summary();

    OpenDialog(photo);
    OpenFailure(photo);
    SaveAsDefaults();
    SecondSaveAsAndFormats();
    SixteenBitTypes();
    FailedSave();

    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    PumpMessages(20);
    return Summary();
}
