// The file commands' user-interface side: the open dialog and its failure
// message, and the Save As dialog with its default name, its type lists by
// depth, the format from the typed name and the JPEG quality panel hooked
// into it. Reading and writing are the core's (picbuf/image_file.h); every
// exception it throws ends here.
#include "app.h"

#include <commdlg.h>
#include <dlgs.h>
#include <stdio.h>

#include <algorithm>

#include "picbuf/image_file.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

const int kQualityMin = 10;
const int kQualityMax = 100;
const int kJpegTypeEntry = 3;  // the fourth entry of the 8-bit list

// The open dialog's types: all pictures first, each format with every
// extension it goes by, then all files.
struct OpenType {
    const WCHAR* name;
    const WCHAR* patterns;
};
const OpenType kOpenTypes[] = {{L"BMP", L"*.bmp"},
                               {L"JPEG", L"*.jpg;*.jpeg;*.jpe"},
                               {L"TIFF", L"*.tif;*.tiff"},
                               {L"PNG", L"*.png"}};
const WCHAR kAllPicturePatterns[] = L"*.bmp;*.jpg;*.jpeg;*.jpe;*.tif;*.tiff;*.png";
// Room for the two translated names (each shown in at most 1024 characters)
// and the fixed entries.
const int kOpenFilterChars = 3 * 1024;
const WCHAR kSaveFilter8[] = L"*.bmp\0*.bmp\0*.tif\0*.tif\0*.png\0*.png\0*.jpg\0*.jpg\0";
const WCHAR kSaveFilter16[] = L"*.tif\0*.tif\0*.png\0*.png\0";

struct SaveType {
    const WCHAR* extension;
    const WCHAR* longExtension;  // the common long form, or null
    int format;
};
const SaveType kSaveTypes8[] = {{L".bmp", nullptr, SaveFormatBmp},
                                {L".tif", L".tiff", SaveFormatTiff},
                                {L".png", nullptr, SaveFormatPng},
                                {L".jpg", L".jpeg", SaveFormatJpeg}};
const SaveType kSaveTypes16[] = {{L".tif", L".tiff", SaveFormatTiff}, {L".png", nullptr, SaveFormatPng}};

struct SaveTypeList {
    const SaveType* types;
    int count;
};

SaveTypeList TypesForDepth(int bitsPerComponent) {
    if (bitsPerComponent == 16) return {kSaveTypes16, 2};
    return {kSaveTypes8, 4};
}

// One "<name> (<patterns>)" and "<patterns>" pair of a filter string.
WCHAR* AppendFilterEntry(WCHAR* end, const WCHAR* name, const WCHAR* patterns) {
    end += wsprintfW(end, L"%s (%s)", name, patterns) + 1;
    lstrcpyW(end, patterns);
    return end + lstrlenW(patterns) + 1;
}

void MakeOpenFilter(WCHAR filter[kOpenFilterChars]) {
    WCHAR* end = AppendFilterEntry(filter, Lang(kAllPicturesEntry), kAllPicturePatterns);
    for (const OpenType& type : kOpenTypes) end = AppendFilterEntry(end, type.name, type.patterns);
    end = AppendFilterEntry(end, Lang(kAllFilesEntry), L"*.*");
    *end = 0;  // the list ends with an empty pair
}

void ShowFailure(HWND owner) { MessageBoxW(owner, Lang(kFormatNotSupportedEntry), L"", MB_OK); }

// A save the system refused (a read-only folder, a full disk): entry 97 and
// the system's own reason, rather than blaming the format.
void ShowNotWritten(HWND owner) {
    const std::string reason = LastSaveErrorText();
    WCHAR text[LANGUAGE_TEXT_SIZE + 512];
    int length = wsprintfW(text, L"%s\n\n", Lang(kNotWrittenEntry));
    MultiByteToWideChar(CP_UTF8, 0, reason.c_str(), -1, text + length, static_cast<int>(std::size(text)) - length);
    text[std::size(text) - 1] = 0;
    MessageBoxW(owner, text, L"", MB_OK);
}

// Whether text ends in the type's extension or its long form, in any case.
bool HasExtension(const WCHAR* text, const SaveType& type) {
    const int length = lstrlenW(text);
    for (const WCHAR* extension : {type.extension, type.longExtension}) {
        const int count = extension ? lstrlenW(extension) : 0;
        if (count > 0 && length >= count && lstrcmpiW(text + length - count, extension) == 0) return true;
    }
    return false;
}

// Start of the name part of a path (after its last backslash), or null.
const WCHAR* NamePart(const WCHAR* path) {
    const WCHAR* name = nullptr;
    for (const WCHAR* p = path; *p; ++p)
        if (*p == L'\\') name = p + 1;
    return name;
}

const WCHAR* LastDot(const WCHAR* text) {
    const WCHAR* dot = nullptr;
    for (const WCHAR* p = text; *p; ++p)
        if (*p == L'.') dot = p;
    return dot;
}

// "<name>-denoised" (entry 96) and the list entry of the current file's extension.
void DefaultSaveName(const WCHAR* currentPath, const SaveTypeList& list, WCHAR name[PATH_CHARS], int& typeIndex) {
    name[0] = 0;
    typeIndex = 1;
    const WCHAR* namePart = NamePart(currentPath);
    const WCHAR* dot = namePart ? LastDot(namePart) : nullptr;
    if (!dot) return;
    WCHAR stem[PATH_CHARS];
    lstrcpynW(stem, namePart, static_cast<int>(dot - namePart) + 1);
    WCHAR suffix[64];
    lstrcpynW(suffix, Lang(kSaveNameSuffixEntry), 64);
    wsprintfW(name, L"%s%s", stem, suffix);
    for (int i = 0; i < list.count; ++i)
        if (HasExtension(dot, list.types[i])) typeIndex = i + 1;
}

// The format from the chosen name's extension (".jpeg" and ".tiff" count as
// ".jpg" and ".tif", so that the name is kept as typed), else from the
// selected entry, whose extension is then appended.
int ChooseSaveFormat(WCHAR path[PATH_CHARS + 8], const SaveTypeList& list, int typeIndex) {
    for (int i = 0; i < list.count; ++i)
        if (HasExtension(path, list.types[i])) return list.types[i].format;
    if (typeIndex < 1 || typeIndex > list.count) typeIndex = 1;
    const SaveType& type = list.types[typeIndex - 1];
    lstrcatW(path, type.extension);
    return type.format;
}

// --- JPEG quality panel (dialog 159) ---------------------------------------

void ShowQuality(HWND panel) {
    SetDlgItemInt(panel, IDC_JPEG_VALUE, static_cast<UINT>(jpegQuality), FALSE);
}

// The panel's controls work only while the JPEG type is selected.
void EnableQualityControls(HWND panel) {
    HWND saveDialog = GetParent(panel);
    bool jpeg = SendDlgItemMessageW(saveDialog, IDC_SAVE_FILE_TYPE, CB_GETCURSEL, 0, 0) == kJpegTypeEntry;
    for (int id : {IDC_JPEG_SLIDER, IDC_JPEG_LABEL, IDC_JPEG_RANGE, IDC_JPEG_VALUE})
        EnableWindow(GetDlgItem(panel, id), jpeg);
}

const UINT kFocusFileName = WM_APP + 1;

// The name box is an edit (edt1) in some versions of the dialog and the
// edit of a combo box (cmb13) in others.
void FocusFileName(HWND saveDialog) {
    HWND name = GetDlgItem(saveDialog, cmb13);
    if (name) {
        COMBOBOXINFO info = {};
        info.cbSize = sizeof(info);
        if (GetComboBoxInfo(name, &info) && info.hwndItem) name = info.hwndItem;
    } else {
        name = GetDlgItem(saveDialog, edt1);
    }
    if (!name) return;
    SendMessageW(saveDialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(name), TRUE);
    SendMessageW(name, EM_SETSEL, 0, -1);
}

void QualityScrolled(HWND panel, WPARAM wParam) {
    HWND slider = GetDlgItem(panel, IDC_JPEG_SLIDER);
    int position = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
    switch (LOWORD(wParam)) {
    case TB_LINEUP:
    case TB_PAGEUP: --position; break;
    case TB_LINEDOWN:
    case TB_PAGEDOWN: ++position; break;
    case TB_THUMBPOSITION:
    case TB_THUMBTRACK: position = static_cast<short>(HIWORD(wParam)); break;
    default: break;
    }
    position = std::max(kQualityMin, std::min(kQualityMax, position));
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
    jpegQuality = position;
    ShowQuality(panel);
}

UINT_PTR CALLBACK QualityPanelHook(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        HWND slider = GetDlgItem(panel, IDC_JPEG_SLIDER);
        SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(kQualityMin, kQualityMax));
        // The handler adds the one step of a key or click itself.
        SendMessageW(slider, TBM_SETPAGESIZE, 0, 0);
        SendMessageW(slider, TBM_SETLINESIZE, 0, 0);
        jpegQuality = std::max(jpegQuality, kQualityMin);
        SendMessageW(slider, TBM_SETPOS, TRUE, jpegQuality);
        ShowQuality(panel);
        SetDlgItemTextW(panel, IDC_JPEG_LABEL, Lang(kJpegQualityEntry));
        return TRUE;
    }
    case WM_NOTIFY:
        EnableQualityControls(panel);
        // The save dialog puts the focus on its type box; the name comes
        // first, selected, so that typing replaces the offered name.
        if (reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE) PostMessageW(panel, kFocusFileName, 0, 0);
        return 0;
    case kFocusFileName:
        FocusFileName(GetParent(panel));
        return TRUE;
    case WM_HSCROLL:
        QualityScrolled(panel, wParam);
        return TRUE;
    }
    return 0;
}

enum WriteOutcome { Written, WriteFailed, MetadataLost };

// One attempt at writing the result, with the opened file's metadata or without.
WriteOutcome TryWrite(const CorePath& target, int format, bool withMetadata) {
    try {
        bool written;
        if (!withMetadata) {
            written = SavePicture(document.result, target.c_str(), nullptr, format);
        } else if (document.metadata) {
            written = SavePicture(document.result, target.c_str(), *document.metadata, format);
        } else {
            // A source named without a record of its metadata is read again.
            CorePath source;
            if (!ToCorePath(document.metadataSource, source)) return MetadataLost;  // its folder is gone
            written = SavePicture(document.result, target.c_str(), source.c_str(), format);
        }
        return written ? Written : WriteFailed;
    } catch (const ImageReadError&) {
        return MetadataLost;
    } catch (const UnsupportedImageFormat& error) {
        return error.what()[0] ? MetadataLost : WriteFailed;  // a path names the metadata source
    } catch (...) {
        return WriteFailed;  // memory
    }
}

// Writes the result picture. When the opened file's metadata are neither
// kept nor readable any more, asks once whether to save without them (after
// Yes the document has no metadata source); a write the system refused is
// reported with its reason, other failures with entry 41.
bool WritePicture(HWND owner, const WCHAR* path, int format) {
    CorePath target;
    // A path fails to convert when its folder is not there.
    if (!ToCorePath(path, target)) {
        ShowFailure(owner);
        return false;
    }
    WriteOutcome outcome = TryWrite(target, format, document.metadata || document.metadataSource[0]);
    if (outcome == MetadataLost) {
        if (MessageBoxW(owner, Lang(kDropMetadataEntry), Lang(kWarningEntry), MB_YESNO | MB_ICONWARNING) != IDYES)
            return false;
        document.metadata.reset();
        document.metadataSource[0] = 0;
        outcome = TryWrite(target, format, false);
    }
    if (outcome == WriteFailed && LastSaveSystemError() != 0) {
        ShowNotWritten(owner);
    } else if (outcome != Written) {
        ShowFailure(owner);
    }
    return outcome == Written;
}

}  // namespace

bool ToCorePath(const WCHAR* windowsPath, CorePath& corePath) {
    corePath.clear();
    if (!windowsPath || !windowsPath[0]) return false;
    corePath = windowsPath;
    return true;
}

bool OpenPicture(HWND owner, const WCHAR* path) {
    WCHAR chosen[PATH_CHARS];
    lstrcpynW(chosen, path ? path : L"", PATH_CHARS);
    if (!chosen[0]) {
        static WCHAR filter[kOpenFilterChars];
        MakeOpenFilter(filter);
        OPENFILENAMEW dialog = {};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = owner;
        dialog.lpstrFilter = filter;
        dialog.nFilterIndex = 1;
        dialog.lpstrFile = chosen;
        dialog.nMaxFile = PATH_CHARS;
        dialog.lpstrTitle = Lang(kOpenTitleEntry);
        dialog.Flags = OFN_EXPLORER | OFN_NOREADONLYRETURN | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        if (!GetOpenFileNameW(&dialog)) return false;
    }

    PicBufHolder loaded;
    PictureMetadataHolder metadata;
    CorePath corePath;
    PictureRefusal refusal = PictureRefusal::None;
    bool read = false;
    try {
        read = ToCorePath(chosen, corePath) && LoadPicture(loaded.buf, corePath.c_str(), &metadata, &refusal);
    } catch (...) {
        read = false;
    }
    if (!read) {
        // A picture too large, or a folder, is not a format fault: say so.
        if (refusal == PictureRefusal::TooLarge)
            MessageBoxW(owner, Lang(kPictureTooLargeEntry), L"", MB_OK);
        else if (refusal == PictureRefusal::NotAFile)
            MessageBoxW(owner, Lang(kNotAFileEntry), L"", MB_OK);
        else
            ShowFailure(owner);
        return false;
    }
    CBxPicBufAPI::DoneHeap(document.original);
    document.original = loaded.buf;  // the document takes the pixels over
    CBxPicBufAPI::Init(loaded.buf);
    document.metadata = std::move(metadata);  // a moved or deleted file costs nothing at save
    lstrcpynW(document.currentPath, chosen, PATH_CHARS);
    return true;
}

bool SavePictureAs(HWND owner, WCHAR savedPath[PATH_CHARS + 8]) {
    savedPath[0] = 0;
    if (!HasPicture()) return false;
    const int depth = document.result.bitsPerComponent;
    const SaveTypeList list = TypesForDepth(depth);

    WCHAR name[PATH_CHARS];
    int typeIndex;
    DefaultSaveName(document.currentPath, list, name, typeIndex);
    // The dialog opens in the folder of the opened picture.
    WCHAR folder[PATH_CHARS];
    lstrcpynW(folder, document.currentPath, PATH_CHARS);
    const WCHAR* namePart = NamePart(folder);
    if (namePart) folder[namePart - folder] = 0;

    WCHAR saveAsQuality[16];
    wsprintfW(saveAsQuality, L"%d", kJpegQualitySaveAs);
    jpegQuality = ReadSettingsInt(L"jpeg", saveAsQuality);

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.hInstance = app.instance;
    dialog.lpstrFilter = depth == 16 ? kSaveFilter16 : kSaveFilter8;
    dialog.nFilterIndex = typeIndex;
    dialog.lpstrFile = name;
    dialog.nMaxFile = PATH_CHARS;
    dialog.lpstrInitialDir = namePart ? folder : nullptr;
    dialog.lpstrTitle = Lang(kSaveAsItemEntry);
    dialog.lpstrDefExt = list.types[typeIndex - 1].extension + 1;
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOREADONLYRETURN | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK |
                   OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    dialog.lpTemplateName = MAKEINTRESOURCEW(IDD_JPEG_QUALITY);
    dialog.lpfnHook = QualityPanelHook;
    if (!GetSaveFileNameW(&dialog)) return false;

    lstrcpynW(savedPath, name, PATH_CHARS);
    int format = ChooseSaveFormat(savedPath, list, static_cast<int>(dialog.nFilterIndex));
    if (!WritePicture(owner, savedPath, format)) return false;
    WriteSettingsInt(L"jpeg", jpegQuality);
    return true;
}
