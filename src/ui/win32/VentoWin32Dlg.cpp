#include "ui/win32/VentoWin32Dlg.h"

#include "config/ConfigKeys.h"
#include "platform/LocalTime.h"
#include "platform/win32/WinText.h"
#include "ui/win32/resource.h"

#include <commctrl.h>

#include <cstdio>

// The portable dialog names controls and messages by these numbers.
static_assert(kIdcClose == IDOK && kIdcStart == IDC_BUTTON_START && kIdcStop == IDC_BUTTON_STOP);
static_assert(kWmClose == WM_CLOSE && kWmSyncDone == WM_USER + 101 &&
              kWmSyncStart == WM_USER + 102);

namespace {

// Which progress values changed since they were last shown.
enum : unsigned {
    kChangedTotalText = 1,
    kChangedFileText = 2,
    kChangedTotalRange = 4,
    kChangedTotalPos = 8,
    kChangedFileRange = 16,
    kChangedFilePos = 32,
};
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressIntervalMs = 50;
// Sent by the worker to have the progress values shown at once.
constexpr UINT kWmShowProgress = WM_APP + 1;

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    const int n = ::LoadStringW(Instance(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return n > 0 ? std::wstring(text, static_cast<std::size_t>(n)) : std::wstring();
}

std::string DialogItemText(HWND hDlg, int nId) {
    const int n = ::GetWindowTextLengthW(::GetDlgItem(hDlg, nId));
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    ::GetDlgItemTextW(hDlg, nId, &text[0], n + 1);
    text.resize(static_cast<std::size_t>(n));
    return plat::Narrow(text);
}

// The settings fields the policy may set, by the key that names them.
struct CPolicyField {
    int nId;
    const char* pszKey;
};
const CPolicyField kPolicyFields[] = {
    {IDC_EDIT_BASE_URL, kKeyDownloadBaseUrl},
    {IDC_EDIT_SERVER_IP, kKeyServerIp},
    {IDC_EDIT_LIST_FILE, kKeyListFileName},
    {IDC_EDIT_SERVER_PORT, kKeyServerPort},
};

void ShowConfigFields(HWND hDlg, const CConfigFields& fields) {
    ::SetDlgItemTextW(hDlg, IDC_EDIT_BASE_URL, plat::Wide(fields.m_strDownloadBaseUrl).c_str());
    ::SetDlgItemTextW(hDlg, IDC_EDIT_SERVER_IP, plat::Wide(fields.m_strServerIp).c_str());
    ::SetDlgItemTextW(hDlg, IDC_EDIT_LIST_FILE, plat::Wide(fields.m_strListFileName).c_str());
    ::SetDlgItemTextW(hDlg, IDC_EDIT_SERVER_PORT, plat::Wide(fields.m_strServerPort).c_str());
    ::SetDlgItemTextW(hDlg, IDC_EDIT_LINK_APPEND, plat::Wide(fields.m_strLinkAppendName).c_str());
    ::SetDlgItemTextW(hDlg, IDC_EDIT_LOCAL_DIR, plat::Wide(fields.m_strLocalBaseDir).c_str());
    for (const CPolicyField& field : kPolicyFields) {
        if (fields.m_setPolicyKeys.count(field.pszKey) != 0)
            ::SendDlgItemMessageW(hDlg, field.nId, EM_SETREADONLY, TRUE, 0);
    }
}

// The settings dialog: six edit fields (those the policy sets read-only), read back on OK.
INT_PTR CALLBACK ConfigDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* fields = reinterpret_cast<CConfigFields*>(::GetWindowLongPtrW(hDlg, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        ShowConfigFields(hDlg, *reinterpret_cast<const CConfigFields*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && fields != nullptr) {
            fields->m_strDownloadBaseUrl = DialogItemText(hDlg, IDC_EDIT_BASE_URL);
            fields->m_strServerIp = DialogItemText(hDlg, IDC_EDIT_SERVER_IP);
            fields->m_strListFileName = DialogItemText(hDlg, IDC_EDIT_LIST_FILE);
            fields->m_strServerPort = DialogItemText(hDlg, IDC_EDIT_SERVER_PORT);
            fields->m_strLinkAppendName = DialogItemText(hDlg, IDC_EDIT_LINK_APPEND);
            ::EndDialog(hDlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(hDlg, IDCANCEL);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

CVentoWin32Dlg::CVentoWin32Dlg(CVentoApp* pApp, const std::string& strArgument)
    : CVentoDlg(pApp, strArgument),
      m_hIcon(static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                              IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {}

CVentoWin32Dlg::~CVentoWin32Dlg() {
    EndRun();
    if (m_imageList != nullptr)
        ImageList_Destroy(m_imageList);
}

INT_PTR CVentoWin32Dlg::DoModal() {
    return ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_VENTO_DIALOG), nullptr,
                             &CVentoWin32Dlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CVentoWin32Dlg::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CVentoWin32Dlg*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CVentoWin32Dlg*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    return dialog != nullptr ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CVentoWin32Dlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_BUTTON_START:
            OnButtonStart();
            return TRUE;
        case IDC_BUTTON_STOP:
            OnButtonStop();
            return TRUE;
        case IDC_BUTTON_CONFIG:
            OnButtonConfig();
            return TRUE;
        case IDOK:
        case IDCANCEL:
            End(LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        End(IDCANCEL);
        return TRUE;
    case WM_TIMER:
        if (wParam == kProgressTimer) {
            ShowProgress();
            return TRUE;
        }
        return FALSE;
    case kWmShowProgress:
        ShowProgress();
        return TRUE;
    case kWmSyncDone:
        ShowProgress();
        OnSyncDone(static_cast<int>(wParam));
        return TRUE;
    case kWmSyncStart:
        OnSyncStart();
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), m_hWnd, &AboutDialogProc,
                              0);
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        if (::IsIconic(m_hWnd)) {
            OnPaint();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
        return TRUE;
    default:
        static_cast<void>(lParam);
        return FALSE;
    }
}

// A run still in progress is stopped before the controls it writes into go away.
void CVentoWin32Dlg::End(INT_PTR result) {
    EndRun();
    ::EndDialog(m_hWnd, result);
}

BOOL CVentoWin32Dlg::OnInitDialog() {
    if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
        const std::wstring about = LoadResourceString(IDS_ABOUTBOX);
        if (!about.empty()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_nUiThread = ::GetCurrentThreadId();
    ::SetTimer(m_hWnd, kProgressTimer, kProgressIntervalMs, nullptr);
    SetUpStatusList();
    InitDialogState();
    return TRUE;
}

void CVentoWin32Dlg::SetUpStatusList() {
    const HWND list = ::GetDlgItem(m_hWnd, IDC_LIST_STATUS);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = 140;
    column.pszText = const_cast<wchar_t*>(L"일시");
    ::SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    column.cx = 300;
    column.iSubItem = 1;
    column.pszText = const_cast<wchar_t*>(L"내용");
    ::SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
    const LRESULT style = ::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style | LVS_EX_FULLROWSELECT);
    m_imageList = ImageList_LoadImageW(Instance(), MAKEINTRESOURCEW(IDB_STATUS_IMAGES), 16, 1,
                                       CLR_NONE, IMAGE_BITMAP, LR_CREATEDIBSECTION);
    ::SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_imageList));
}

void CVentoWin32Dlg::OnPaint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
}

void CVentoWin32Dlg::SetText(int nId, const std::string& text) {
    ::SetDlgItemTextW(m_hWnd, nId, plat::Wide(text).c_str());
}

void CVentoWin32Dlg::ShowProgress() {
    CProgress shown;
    {
        std::lock_guard<std::mutex> lock(m_progressMutex);
        shown = m_progress;
        m_progress.nChanged = 0;
    }
    if (shown.nChanged & kChangedTotalText)
        SetText(IDC_STATIC_TOTAL, shown.strTotal);
    if (shown.nChanged & kChangedFileText)
        SetText(IDC_STATIC_FILENAME, shown.strFile);
    if (shown.nChanged & kChangedTotalRange)
        ::SendDlgItemMessageW(m_hWnd, IDC_PROGRESS_TOTAL, PBM_SETRANGE, 0,
                              MAKELPARAM(shown.nTotalLow, shown.nTotalHigh));
    if (shown.nChanged & kChangedTotalPos)
        ::SendDlgItemMessageW(m_hWnd, IDC_PROGRESS_TOTAL, PBM_SETPOS,
                              static_cast<WPARAM>(shown.nTotalPos), 0);
    if (shown.nChanged & kChangedFileRange)
        ::SendDlgItemMessageW(m_hWnd, IDC_PROGRESS_FILE, PBM_SETRANGE, 0,
                              MAKELPARAM(shown.nFileLow, shown.nFileHigh));
    if (shown.nChanged & kChangedFilePos)
        ::SendDlgItemMessageW(m_hWnd, IDC_PROGRESS_FILE, PBM_SETPOS,
                              static_cast<WPARAM>(shown.nFilePos), 0);
}

void CVentoWin32Dlg::FlushProgress() {
    bool bPending = false;
    {
        std::lock_guard<std::mutex> lock(m_progressMutex);
        bPending = m_progress.nChanged != 0;
    }
    if (bPending)
        ::SendMessageW(m_hWnd, kWmShowProgress, 0, 0);
}

void CVentoWin32Dlg::SetStepText(const std::string& text) {
    FlushProgress();
    SetText(IDC_STATIC_STEP, text);
}

template <typename Assign>
void CVentoWin32Dlg::ChangeProgress(unsigned nChanged, Assign assign) {
    {
        std::lock_guard<std::mutex> lock(m_progressMutex);
        assign(m_progress);
        m_progress.nChanged |= nChanged;
    }
    if (OnUiThread())
        ShowProgress();
}

void CVentoWin32Dlg::SetTotalText(const std::string& text) {
    ChangeProgress(kChangedTotalText, [&text](CProgress& p) { p.strTotal = text; });
}
void CVentoWin32Dlg::SetFileNameText(const std::string& text) {
    ChangeProgress(kChangedFileText, [&text](CProgress& p) { p.strFile = text; });
}
void CVentoWin32Dlg::SetTotalRange(int nLow, int nHigh) {
    ChangeProgress(kChangedTotalRange, [=](CProgress& p) {
        p.nTotalLow = nLow;
        p.nTotalHigh = nHigh;
    });
}
void CVentoWin32Dlg::SetTotalPos(int nPos) {
    ChangeProgress(kChangedTotalPos, [=](CProgress& p) { p.nTotalPos = nPos; });
}
void CVentoWin32Dlg::SetFileRange(int nLow, int nHigh) {
    ChangeProgress(kChangedFileRange, [=](CProgress& p) {
        p.nFileLow = nLow;
        p.nFileHigh = nHigh;
    });
}
void CVentoWin32Dlg::SetFilePos(int nPos) {
    ChangeProgress(kChangedFilePos, [=](CProgress& p) { p.nFilePos = nPos; });
}

void CVentoWin32Dlg::ClearStatusList() {
    FlushProgress();
    ::SendDlgItemMessageW(m_hWnd, IDC_LIST_STATUS, LVM_DELETEALLITEMS, 0, 0);
}

// Each call inserts its own row at the end and sets column 1 of the row it inserted, so
// rows of the two threads never mix.
void CVentoWin32Dlg::AddStatusRow(int nKind, const std::string& text) {
    if (nKind != kStatusError && nKind != kStatusNormal)
        return;
    FlushProgress();
    const plat::LocalTime now = plat::GetLocalNow();
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04d-%02d-%02d %02d:%02d:%02d", now.nYear, now.nMonth, now.nDay,
                  now.nHour, now.nMinute, now.nSecond);
    const HWND list = ::GetDlgItem(m_hWnd, IDC_LIST_STATUS);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = stamp;
    item.iImage = nKind == kStatusError ? 1 : 0;
    const int index =
        static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0)
        return;
    std::wstring content = plat::Wide(text);
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = &content[0];
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&sub));
}

int CVentoWin32Dlg::ShowMessageBox(const std::string& text, const std::string& caption,
                                   unsigned nType) {
    FlushProgress();
    return ::MessageBoxW(m_hWnd, plat::Wide(text).c_str(), plat::Wide(caption).c_str(), nType);
}

void CVentoWin32Dlg::HideWindow() {
    FlushProgress();
    ::ShowWindow(m_hWnd, SW_HIDE);
}

void CVentoWin32Dlg::PostSyncDone(int nOutcome) {
    ::PostMessageW(m_hWnd, kWmSyncDone, static_cast<WPARAM>(nOutcome), 0);
}

void CVentoWin32Dlg::EnableButton(int nId, bool bEnable) {
    ::EnableWindow(::GetDlgItem(m_hWnd, nId), bEnable ? TRUE : FALSE);
}

void CVentoWin32Dlg::PostDialogMessage(int nMessage) {
    ::PostMessageW(m_hWnd, static_cast<UINT>(nMessage), 0, 0);
}

bool CVentoWin32Dlg::RunConfigDialog(CConfigFields& fields) {
    return ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_CONFIG_DIALOG), nullptr,
                             &ConfigDialogProc, reinterpret_cast<LPARAM>(&fields)) == IDOK;
}
