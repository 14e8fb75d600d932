// The Options dialog: picks the current translation of the language file.
// The choice is stored at once and takes effect at the next start.
#include "settings.h"

#include "resources/resource.h"

namespace {

// Position only: the dialog's centre over the owner's centre.
void CentreOverOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (!owner) return;
    RECT ownerRect, dialogRect;
    GetWindowRect(owner, &ownerRect);
    GetWindowRect(dialog, &dialogRect);
    int left = ownerRect.left + (ownerRect.right - ownerRect.left) / 2 - (dialogRect.right - dialogRect.left) / 2;
    int top = ownerRect.top + (ownerRect.bottom - ownerRect.top) / 2 - (dialogRect.bottom - dialogRect.top) / 2;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitOptionsDialog(HWND dialog) {
    CentreOverOwner(dialog);
    HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < languageCount; ++i)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(languageList[i].name));
    SendMessageW(list, CB_SETCURSEL, currentLanguage, 0);
    SetWindowTextW(dialog, Lang(kOptionsTitleEntry));
    SetDlgItemTextW(dialog, IDC_LANGUAGE_LABEL, Lang(kSelectLanguageEntry));
    SetDlgItemTextW(dialog, IDOK, Lang(kOkEntry));
    SetDlgItemTextW(dialog, IDCANCEL, Lang(kCancelEntry));
}

// OK: the selected position becomes the current translation (-1 when nothing
// is selected, which selects no section and so the English texts), kept in
// the user's settings file.
void StoreChosenLanguage(HWND dialog) {
    currentLanguage = static_cast<int32_t>(SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_GETCURSEL, 0, 0));
    WriteSettingsInt(kLanguageCurrentKey, currentLanguage);
}

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitOptionsDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            StoreChosenLanguage(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void ShowOptionsDialog(HWND owner) {
    // Only the language list is read again here: reloading the whole
    // settings file would drop the parameter changes made since start-up,
    // which are written at exit.
    LoadLanguageList();
    int32_t previousLanguage = currentLanguage;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_OPTIONS), owner, OptionsDialogProc, 0) != IDOK) return;
    // The remaining texts change at the next start; this message is already
    // in the chosen language.
    LoadLanguageEntry(kRestartForLanguageEntry);
    LoadLanguageEntry(kReportEntry);
    if (currentLanguage != previousLanguage)
        MessageBoxW(owner, Lang(kRestartForLanguageEntry), Lang(kReportEntry), MB_ICONINFORMATION);
}
