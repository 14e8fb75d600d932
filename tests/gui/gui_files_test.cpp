// Window tests of the open and save dialogs as the user meets them: the open
// dialog and its failure messages keeping the shown picture; Save As with
// its default name and type, the JPEG quality panel, the format from a typed
// name or the type entry, the type list of a 16-bit picture and a failed
// save; and saving a result whose opened file has been moved away, with its
// metadata kept or lost. The real common dialogs are driven from a timer
// while they run.
#include <string.h>

#include <algorithm>

#include "app/app.h"
#include "gui_harness.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

HWND window;
std::wstring folder;
const std::string kNote = "Harbour at dusk";  // the photograph's JPEG comment

std::string Title() { return WindowText(window); }

// How many of the quality panel's controls are enabled.
int PanelEnabled(HWND panel) {
    int enabled = 0;
    for (int id : {IDC_JPEG_SLIDER, IDC_JPEG_LABEL, IDC_JPEG_RANGE, IDC_JPEG_VALUE})
        enabled += IsWindowEnabled(GetDlgItem(panel, id)) != FALSE;
    return enabled;
}

// Save As with the type entry and the name typed; a message box that
// appears is answered with `answer`. `offered` gets the name and the type
// entry the dialog opened with.
FileCommandRun SaveAs(const std::wstring& name, int type, int answer = IDOK,
                      std::pair<std::string, int>* offered = nullptr) {
    return RunFileCommand(
        window, IDM_SAVE_AS,
        [&](HWND dialog) {
            if (offered) *offered = {FileName(dialog), SelectedType(dialog)};
            ChooseFile(name, type)(dialog);
        },
        answer);
}

bool Contains(const std::wstring& path, const std::string& text) {
    return FileStart(path, 1 << 20).find(text) != std::string::npos;
}

void Opening(const std::wstring& photo) {
    Section("the open dialog and files that cannot be opened");
    FileCommandRun run = RunFileCommand(window, IDM_OPEN, [](HWND dialog) { PressButton(dialog, IDCANCEL); });
    Check(run.fileDialogs.size() == 1 && run.messages.empty() && !document.original.pixels,
          "cancelling it opens nothing and says nothing");
    run = RunFileCommand(window, IDM_OPEN, ChooseFile(photo));
    Check(run.fileDialogs.size() == 1 && document.original.width == 120 && Title() == "Ostrivel - " + Utf8(photo.c_str()),
          "the chosen picture is opened, the title shows its path");

    // 58 bytes of a BMP that claims 20000 x 20000 pixels.
    std::string huge = "BM";
    for (uint32_t field : {58u, 0u, 54u, 40u, 20000u, 20000u, 0x180001u, 0u, 0u, 0u, 0u, 0u, 0u, 0u})
        huge.append(reinterpret_cast<const char*>(&field), 4);
    WriteTextFile(folder + L"huge.bmp", huge);
    WriteTextFile(folder + L"damaged.png", "\x89PNG\r\n\x1a\n but nothing after the signature");
    const struct {
        const WCHAR* name;
        std::string message;
    } failures[] = {{L"damaged.png", "Image format not supported!"},
                    {L"missing.jpg", "Image format not supported!"},
                    {L"huge.bmp", Utf8(DefaultLang(kPictureTooLargeEntry))}};
    const uint8_t firstByte = document.original.pixels[0];
    for (const auto& f : failures) {
        run = RunFileCommand(window, IDM_OPEN, ChooseFile(folder + f.name));
        Check(run.messages.size() == 1 && run.messages[0].text == f.message && run.messages[0].title.empty() &&
                  run.messages[0].owner == window,
              "%s: says \"%s\" without caption, owned by the main window", Utf8(f.name).c_str(), f.message.c_str());
        Check(document.original.width == 120 && document.original.pixels[0] == firstByte &&
                  document.result.width == 120 && lstrcmpW(document.currentPath, photo.c_str()) == 0 &&
                  Title() == "Ostrivel - " + Utf8(photo.c_str()),
              "%s: the shown picture, its path and the title stay", Utf8(f.name).c_str());
    }
    std::vector<SeenDialog> seen = WithDialogs([&] { DropFile(window, folder + L"missing.jpg"); });
    Check(seen.size() == 1 && document.original.width == 120, "a dropped file fails the same way");
    CreateDirectoryW((folder + L"album.png").c_str(), nullptr);
    seen = WithDialogs([&] { DropFile(window, folder + L"album.png"); });
    Check(seen.size() == 1 && seen[0].text == Utf8(DefaultLang(kNotAFileEntry)) && document.original.width == 120,
          "a folder is called one, not a format fault (got \"%s\")", seen.empty() ? "" : seen[0].text.c_str());
    RemoveDirectoryW((folder + L"album.png").c_str());
}

BOOL CALLBACK FindFileList(HWND child, LPARAM found) {
    WCHAR className[32] = L"";
    GetClassNameW(child, className, 32);
    if (lstrcmpW(className, L"SysListView32") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// The names the open dialog lists, sorted and joined by spaces.
std::string ListedNames(HWND dialog) {
    HWND list = nullptr;
    EnumChildWindows(dialog, FindFileList, reinterpret_cast<LPARAM>(&list));
    std::vector<std::string> names;
    for (int i = 0; list && i < SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); ++i) {
        WCHAR text[64] = L"";
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        names.push_back(Utf8(text));
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

// Each type entry of the open dialog lists the files of its kinds.
void OpenTypes() {
    Section("the open dialog's file types");
    const std::wstring types = folder + L"types\\";
    CreateDirectoryW(types.c_str(), nullptr);
    for (const WCHAR* name : {L"a.bmp", L"b.jpg", L"c.jpeg", L"d.jpe", L"e.tif", L"f.tiff", L"g.png", L"h.gif"})
        WriteTextFile(types + name, "x");
    const std::string expected[] = {"a.bmp b.jpg c.jpeg d.jpe e.tif f.tiff g.png", "a.bmp", "b.jpg c.jpeg d.jpe",
                                    "e.tif f.tiff", "g.png", "a.bmp b.jpg c.jpeg d.jpe e.tif f.tiff g.png h.gif"};
    const int count = sizeof(expected) / sizeof(expected[0]);
    std::vector<std::string> listed;
    std::string entries[2];  // the first one and a format's
    int entryCount = -1;
    RunFileCommand(window, IDM_OPEN, [&](HWND dialog) {
        ChooseFile(types)(dialog);  // a folder's name and OK go into that folder
        PumpMessages(200);
        entryCount = static_cast<int>(SendDlgItemMessageW(dialog, IDC_SAVE_FILE_TYPE, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < 2; ++i) {
            WCHAR text[128] = L"";
            SendDlgItemMessageW(dialog, IDC_SAVE_FILE_TYPE, CB_GETLBTEXT, i * 2, reinterpret_cast<LPARAM>(text));
            entries[i] = Utf8(text);
        }
        for (int i = 0; i < count; ++i) {
            SelectType(dialog, i);
            PumpMessages(50);
            listed.push_back(ListedNames(dialog));
        }
        PressButton(dialog, IDCANCEL);
    });
    Check(entryCount == count && entries[0] == "All supported pictures (*.bmp;*.jpg;*.jpeg;*.jpe;*.tif;*.tiff;*.png)" &&
              entries[1] == "JPEG (*.jpg;*.jpeg;*.jpe)",
          "it offers %d types, each named with its patterns (got %d, \"%s\", \"%s\")", count, entryCount,
          entries[0].c_str(), entries[1].c_str());
    for (int i = 0; i < count && i < static_cast<int>(listed.size()); ++i)
        Check(listed[i] == expected[i], "entry %d lists \"%s\" (got \"%s\")", i, expected[i].c_str(), listed[i].c_str());
}

void SaveAsDefaults() {
    Section("Save As: default name, type and the quality panel");
    WriteSettingsKey("jpeg", "5");
    app.unsavedResult = 1;
    std::string name, shownQuality, stepped;
    int type = -1, atStart = -1, withPng = -1, withJpeg = -1;
    FileCommandRun run = RunFileCommand(window, IDM_SAVE_AS, [&](HWND dialog) {
        name = FileName(dialog);
        type = SelectedType(dialog);
        if (HWND panel = QualityPanel(dialog)) {
            atStart = PanelEnabled(panel);
            shownQuality = WindowText(GetDlgItem(panel, IDC_JPEG_VALUE));
            SelectType(dialog, 2);
            withPng = PanelEnabled(panel);
            SelectType(dialog, 3);
            withJpeg = PanelEnabled(panel);
            Check(Shot(dialog, L"save_dialog"), "save_dialog.png is written");
            HWND jpegSlider = GetDlgItem(panel, IDC_JPEG_SLIDER);
            SendMessageW(panel, WM_HSCROLL, TB_LINEDOWN, reinterpret_cast<LPARAM>(jpegSlider));
            SendMessageW(panel, WM_HSCROLL, TB_PAGEDOWN, reinterpret_cast<LPARAM>(jpegSlider));
            stepped = WindowText(GetDlgItem(panel, IDC_JPEG_VALUE));
        }
        // The JPEG entry stays selected; the typed name asks for PNG.
        ChooseFile(folder + L"out.png")(dialog);
    });
    if (!Check(run.fileDialogs.size() == 1, "the save dialog opens")) return;
    Check(run.fileDialogs[0].title == "Save As..." && name == "photo-denoised" && type == 3,
          "\"Save As...\" offers photo.JPG as photo-denoised with the JPEG entry (\"%s\", %d)", name.c_str(), type);
    Check(atStart == 4 && withPng == 0 && withJpeg == 4,
          "the quality panel is enabled with JPEG only (%d, %d, %d controls)", atStart, withPng, withJpeg);
    Check(shownQuality == "10" && stepped == "12",
          "a stored quality of 5 shows as 10; a line and a page step add 1 each");
    std::wstring out = folder + L"out.png";
    Check(run.messages.empty() && FileStart(out, 8) == "\x89PNG\r\n\x1a\n",
          "out.png typed with JPEG selected is written as PNG, without a word");
    Check(Title() == "Ostrivel - " + Utf8(out.c_str()) && app.unsavedResult == 0 && ReadSettingsKey("jpeg") == "12",
          "the title shows it, the unsaved mark is cleared, the quality is stored");
    // The other end of the range: 100 stays 100 however far it is pushed.
    WriteSettingsKey("jpeg", "100");
    RunFileCommand(window, IDM_SAVE_AS, [&](HWND dialog) {
        HWND panel = QualityPanel(dialog);
        SelectType(dialog, 3);
        for (WPARAM step : {TB_LINEDOWN, TB_PAGEDOWN})
            SendMessageW(panel, WM_HSCROLL, step, reinterpret_cast<LPARAM>(GetDlgItem(panel, IDC_JPEG_SLIDER)));
        stepped = WindowText(GetDlgItem(panel, IDC_JPEG_VALUE));
        PressButton(dialog, IDCANCEL);
    });
    Check(stepped == "100" && ReadSettingsKey("jpeg") == "100", "a quality of 100 is not stepped past (got %s)",
          stepped.c_str());
}

void Formats() {
    Section("the format from the typed name or the type entry");
    const struct {
        const WCHAR* name;
        int type;  // the entry selected
        const WCHAR* written;
        std::string magic;
    } formats[] = {
        {L"as-bmp", 0, L"as-bmp.bmp", "BM"},           {L"as-tif", 1, L"as-tif.tif", "II*"},
        {L"as-png", 2, L"as-png.png", "\x89PNG"},      {L"as-jpg", 3, L"as-jpg.jpg", "\xFF\xD8\xFF"},
        {L"upper.TIF", 3, L"upper.TIF", "II*"},        {L"typed.jpeg", 0, L"typed.jpeg", "\xFF\xD8\xFF"},
        {L"typed.TIFF", 2, L"typed.TIFF", "II*"},
    };
    for (const auto& f : formats) {
        std::pair<std::string, int> offered;
        FileCommandRun run = SaveAs(folder + f.name, f.type, IDOK, &offered);
        Check(run.messages.empty() && offered.first == "photo-denoised" &&
                  FileStart(folder + f.written, f.magic.size()) == f.magic,
              "%s with entry %d writes %s", Utf8(f.name).c_str(), f.type, Utf8(f.written).c_str());
    }
    Check(!FileExists(folder + L"typed.jpeg.bmp") && !FileExists(folder + L"typed.TIFF.png"),
          "names with a long extension are kept as typed");
    DropFile(window, folder + L"typed.TIFF");
    std::pair<std::string, int> offered;
    SaveAs(folder + L"again.png", 2, IDOK, &offered);
    Check(offered.second == 1, "an opened .TIFF file offers the *.tif entry (got %d)", offered.second);

    Section("the type list of a 16-bit picture");
    DropFile(window, folder + L"photo.JPG");
    CBxPicBufAPI::ConvertBpcComp(document.result, 16, 3);
    std::string types;
    RunFileCommand(window, IDM_SAVE_AS, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_SAVE_FILE_TYPE);
        for (int i = 0; i < SendMessageW(list, CB_GETCOUNT, 0, 0); ++i) {
            WCHAR text[64] = L"";
            SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            types += Utf8(text) + (i == SelectedType(dialog) ? "* " : " ");
        }
        ChooseFile(folder + L"deep", 1)(dialog);
    });
    Check(types == "*.tif* *.png ", "it offers *.tif (selected for a .JPG source) and *.png (got \"%s\")",
          types.c_str());
    Check(FileStart(folder + L"deep.png", 4) == "\x89PNG", "its second entry means PNG");
    CBxPicBufAPI::ConvertBpcComp(document.result, 8, 3);

    Section("a save that fails");
    // A folder that takes no new files, not even from root.
    const std::wstring lost = L"Z:\\proc\\lost.png";
    app.unsavedResult = 1;
    std::string title = Title();
    FileCommandRun run = SaveAs(lost, -1);
    const std::string said = run.messages.empty() ? "" : run.messages[0].text;
    const std::string lead = "The picture could not be written:\n\n";
    Check(run.messages.size() == 1 && said.compare(0, lead.size(), lead) == 0 && said.size() > lead.size() + 3 &&
              run.messages[0].title.empty() && !FileExists(lost),
          "is reported with entry 97 and the system's reason, and writes nothing (got \"%s\")", said.c_str());
    Check(app.unsavedResult == 1 && document.result.width == 120 && Title() == title,
          "and keeps the document, its unsaved mark and the title");
}

void MovedAway(const std::wstring& photo) {
    Section("the opened file moved away");
    app.unsavedResult = 0;
    DropFile(window, photo);
    MoveFileW(photo.c_str(), (folder + L"moved.jpg").c_str());
    app.unsavedResult = 1;
    FileCommandRun run = SaveAs(folder + L"kept.jpg", 3);
    Check(run.messages.empty() && Contains(folder + L"kept.jpg", kNote) && app.unsavedResult == 0,
          "with its metadata kept, it is saved with its comment without a word");

    document.metadata.reset();  // as when keeping them failed
    app.unsavedResult = 1;
    const std::string title = Title();
    run = SaveAs(folder + L"declined.jpg", 3, IDNO);
    Check(run.messages.size() == 1 && run.messages[0].text == Utf8(DefaultLang(kDropMetadataEntry)) &&
              run.messages[0].title == "Warning" && run.messages[0].owner == window,
          "without them the editor asks entry 88, caption Warning, owned by the main window");
    Check(!FileExists(folder + L"declined.jpg") && app.unsavedResult == 1 && Title() == title,
          "No writes nothing and keeps the unsaved mark and the title");
    run = SaveAs(folder + L"bare.jpg", 3, IDYES);
    Check(run.messages.size() == 1 && FileExists(folder + L"bare.jpg") && !Contains(folder + L"bare.jpg", kNote) &&
              app.unsavedResult == 0 && Title() == "Ostrivel - " + Utf8((folder + L"bare.jpg").c_str()),
          "Yes saves the picture without the metadata");
    run = SaveAs(folder + L"after.png", 2);
    Check(run.messages.empty() && FileExists(folder + L"after.png"), "the next save asks no more");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    StartTest(120);
    folder = TestFilesFolder() + L"files";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\";
    for (const WCHAR* name : {L"out.png", L"as-bmp.bmp", L"as-tif.tif", L"as-png.png", L"as-jpg.jpg", L"upper.TIF",
                              L"typed.jpeg", L"typed.TIFF", L"typed.jpeg.bmp", L"typed.TIFF.png", L"deep.png",
                              L"moved.jpg", L"kept.jpg", L"declined.jpg", L"bare.jpg", L"again.png", L"after.png"})
        DeleteFileW((folder + name).c_str());
    // A photograph with a comment segment right after the JPEG's start marker.
    const std::wstring photo = folder + L"photo.JPG", commented = folder + L"commented.jpg";
    std::string bytes;
    if (WriteTestPicture(photo, 120, 80, SaveFormatJpeg)) bytes = FileStart(photo, 1 << 20);
    if (bytes.size() > 100) bytes.insert(2, "\xFF\xFE" + std::string{char(0), char(kNote.size() + 2)} + kNote);
    if (!Check(bytes.size() > 100 && WriteTextFile(commented, bytes), "the test photographs are written"))
        return Summary();
    window = OpenEditorWindow(instance, 900, 600);
    if (!window) return Summary();

    Opening(photo);
    OpenTypes();
    SaveAsDefaults();
    Formats();
    MovedAway(commented);

    SendMessageW(window, WM_COMMAND, IDM_EXIT, 0);
    PumpMessages(20);
    return Summary();
}
