// The Windows program's resources, which this test program links in and loads from its own
// module: the dialogs created from their templates, the images, the icon, the strings, the
// version and the manifest.
#ifdef _WIN32

#include "platform/Text.h"
#include "ui/win32/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

HINSTANCE Module() {
    return ::GetModuleHandleW(nullptr);
}

std::string Narrow(const wchar_t* text, std::size_t length) {
    return plat::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string WindowText(HWND window) {
    std::vector<wchar_t> buf(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1);
    const int length = ::GetWindowTextW(window, buf.data(), static_cast<int>(buf.size()));
    return Narrow(buf.data(), static_cast<std::size_t>(length));
}

std::string ItemText(HWND dialog, int id) {
    wchar_t buf[256] = {};
    const UINT length = ::GetDlgItemTextW(dialog, id, buf, 256);
    return Narrow(buf, length);
}

std::string ClassName(HWND window) {
    wchar_t buf[64] = {};
    const int length = ::GetClassNameW(window, buf, 64);
    return LowerAscii(Narrow(buf, static_cast<std::size_t>(length)));
}

LONG Style(HWND window) {
    return ::GetWindowLongW(window, GWL_STYLE);
}
LONG ExStyle(HWND window) {
    return ::GetWindowLongW(window, GWL_EXSTYLE);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

struct WindowDestroyer {
    void operator()(HWND window) const { ::DestroyWindow(window); }
};
using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// Registers the progress bar and list view classes the main dialog uses.
bool InitCommonControlClasses() {
    INITCOMMONCONTROLSEX classes = {};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES;
    return ::InitCommonControlsEx(&classes) != FALSE;
}

Window CreateFromTemplate(int id) {
    return Window(
        ::CreateDialogParamW(Module(), MAKEINTRESOURCEW(id), nullptr, PlainDialogProc, 0));
}

// A rectangle of the template, in dialog units, in pixels. Like the dialog manager, this maps
// the corner and the size each on its own, so the far edges round as the controls' do.
RECT DialogUnitsToPixels(HWND dialog, int x, int y, int cx, int cy) {
    RECT corner = {x, y, x, y};
    RECT size = {0, 0, cx, cy};
    ::MapDialogRect(dialog, &corner);
    ::MapDialogRect(dialog, &size);
    return {corner.left, corner.top, corner.left + size.right, corner.top + size.bottom};
}

// A control as its template describes it.
struct Control {
    const char* className;
    int id;
    const char* text; // UTF-8; nullptr for a control whose window text is not a caption
    int x, y, cx, cy; // dialog units
    LONG style;       // style bits that must be set, the button or static type among them
    unsigned traits;  // kBordered, kSizesItself
};

constexpr unsigned kPlain = 0;
// WS_BORDER, which the dialog manager may draw as a sunken edge (WS_EX_CLIENTEDGE) instead.
constexpr unsigned kBordered = 1;
// An icon or picture static that takes the size of its image.
constexpr unsigned kSizesItself = 2;

// The children of dialog, in z-order (the template's order, which the Tab key follows), are the
// controls, in that order, with their class, id, text, place, size and styles.
void ExpectControls(HWND dialog, const std::vector<Control>& expected) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    ASSERT_EQ(children.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Control& want = expected[i];
        const HWND child = children[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(::GetDlgCtrlID(child), want.id);
        EXPECT_EQ(ClassName(child), LowerAscii(want.className));
        if (want.text != nullptr) {
            EXPECT_EQ(WindowText(child), want.text);
        }
        EXPECT_EQ(Style(child) & want.style, want.style);
        // Push button, default push button or group box; text label, icon or picture.
        if (ClassName(child) == "button") {
            EXPECT_EQ(Style(child) & BS_TYPEMASK, want.style & BS_TYPEMASK);
        } else if (ClassName(child) == "static") {
            EXPECT_EQ(Style(child) & SS_TYPEMASK, want.style & SS_TYPEMASK);
        }
        if ((want.traits & kBordered) != 0) {
            EXPECT_TRUE((Style(child) & WS_BORDER) != 0 ||
                        (ExStyle(child) & WS_EX_CLIENTEDGE) != 0);
        }

        RECT placed = {};
        ::GetWindowRect(child, &placed);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
        const RECT designed = DialogUnitsToPixels(dialog, want.x, want.y, want.cx, want.cy);
        EXPECT_EQ(placed.left, designed.left);
        EXPECT_EQ(placed.top, designed.top);
        if ((want.traits & kSizesItself) == 0) {
            EXPECT_EQ(placed.right, designed.right);
            EXPECT_EQ(placed.bottom, designed.bottom);
        }
    }
}

// The dialog's client area has the template's size, and its font is the template's.
void ExpectSizeAndFont(HWND dialog, int cx, int cy) {
    RECT client = {};
    ::GetClientRect(dialog, &client);
    const RECT designed = DialogUnitsToPixels(dialog, 0, 0, cx, cy);
    EXPECT_EQ(client.right, designed.right);
    EXPECT_EQ(client.bottom, designed.bottom);

    const auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW logFont = {};
    ASSERT_EQ(::GetObjectW(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
    EXPECT_EQ(Narrow(logFont.lfFaceName, std::wcslen(logFont.lfFaceName)), "굴림");
    const HDC screen = ::GetDC(nullptr);
    const int pixelsPerInch = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(logFont.lfHeight, -::MulDiv(9, pixelsPerInch, 72));
}

// The ids of the controls the Tab key visits, starting from the first.
std::vector<int> TabOrder(HWND dialog) {
    std::vector<int> ids;
    const HWND first = ::GetNextDlgTabItem(dialog, nullptr, FALSE);
    HWND control = first;
    while (control != nullptr && ids.size() < 32) {
        ids.push_back(::GetDlgCtrlID(control));
        control = ::GetNextDlgTabItem(dialog, control, FALSE);
        if (control == first) {
            break;
        }
    }
    return ids;
}

constexpr LONG kPush = BS_PUSHBUTTON | WS_TABSTOP;
constexpr LONG kDefault = BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr LONG kEdit = ES_AUTOHSCROLL | WS_TABSTOP;

BITMAP BitmapInfo(HBITMAP bitmap) {
    BITMAP info = {};
    EXPECT_EQ(::GetObjectW(bitmap, sizeof(info), &info), static_cast<int>(sizeof(info)));
    return info;
}

struct BitmapDeleter {
    void operator()(HBITMAP bitmap) const { ::DeleteObject(bitmap); }
};
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

Bitmap LoadBitmapResource(int id) {
    return Bitmap(static_cast<HBITMAP>(
        ::LoadImageW(Module(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

// The bytes of a resource of this module; empty if there is none.
std::string_view ResourceBytes(LPCWSTR name, LPCWSTR type) {
    const HRSRC found = ::FindResourceW(Module(), name, type);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = ::LoadResource(Module(), found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return {};
    }
    return std::string_view(static_cast<const char*>(bytes), ::SizeofResource(Module(), found));
}

std::string LoadStringResource(UINT id) {
    wchar_t buf[256] = {};
    const int length = ::LoadStringW(Module(), id, buf, 256);
    return Narrow(buf, static_cast<std::size_t>(length));
}

// ---- dialogs -------------------------------------------------------------------------------

TEST(Resources, AboutDialog) {
    const Window dialog = CreateFromTemplate(IDD_ABOUTBOX);
    ASSERT_NE(dialog, nullptr) << ::GetLastError();
    const HWND d = dialog.get();

    EXPECT_EQ(WindowText(d), "Vento 정보");
    EXPECT_EQ(Style(d) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    ExpectSizeAndFont(d, 235, 55);
    ExpectControls(d, {
                          {"Static", IDC_STATIC, nullptr, 11, 17, 20, 20, SS_ICON, kSizesItself},
                          {"Static", IDC_STATIC, "Vento 버전 1.0", 40, 10, 119, 8, 0, kPlain},
                          {"Static", IDC_STATIC_ABOUT2, "Lumen Forge 버전 관리 프로그램", 40, 25,
                           119, 8, 0, kPlain},
                          {"Button", IDOK, "확인", 178, 7, 50, 14, kDefault, kPlain},
                      });
    EXPECT_EQ(ItemText(d, IDC_STATIC_ABOUT2), "Lumen Forge 버전 관리 프로그램");
    EXPECT_EQ(ItemText(d, IDOK), "확인");
    const HWND icon = ::GetWindow(d, GW_CHILD);
    EXPECT_NE(::SendMessageW(icon, STM_GETICON, 0, 0), 0) << "the program icon is shown";
}

TEST(Resources, MainDialog) {
    ASSERT_TRUE(InitCommonControlClasses());
    const Window dialog = CreateFromTemplate(IDD_VENTO_DIALOG);
    ASSERT_NE(dialog, nullptr) << ::GetLastError();
    const HWND d = dialog.get();

    // A bordered window without a caption bar or system menu that still has a taskbar button.
    EXPECT_NE(Style(d) & WS_BORDER, 0);
    EXPECT_NE(Style(d) & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(Style(d) & WS_SYSMENU, 0);
    EXPECT_NE(Style(d) & WS_POPUP, 0);
    EXPECT_NE(ExStyle(d) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(WindowText(d), "");
    ExpectSizeAndFont(d, 267, 226);

    // A progress bar always trades its border for a thin static edge, so only PBS_SMOOTH shows.
    const LONG progress = PBS_SMOOTH;
    const LONG list = LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER | WS_TABSTOP;
    ExpectControls(
        d, {
               {"Button", IDOK, "닫기(&X)", 166, 125, 50, 14, kPush, kPlain},
               {"Static", IDC_STATIC, "진행단계 :", 7, 33, 34, 8, 0, kPlain},
               {"Static", IDC_STATIC_STEP, "Static", 41, 33, 153, 8, 0, kPlain},
               {"Button", IDC_STATIC, "진행상태", 7, 49, 254, 70, BS_GROUPBOX, kPlain},
               {"Static", IDC_STATIC, "전체진행율 :", 15, 65, 40, 8, 0, kPlain},
               {"Static", IDC_STATIC_TOTAL, "Static", 57, 65, 160, 8, 0, kPlain},
               {"msctls_progress32", IDC_PROGRESS_TOTAL, "", 14, 77, 239, 7, progress, kPlain},
               {"Static", IDC_STATIC, "파일 이름 :", 14, 91, 35, 8, 0, kPlain},
               {"Static", IDC_STATIC_FILENAME, "Static", 52, 91, 179, 8, 0, kPlain},
               {"msctls_progress32", IDC_PROGRESS_FILE, "", 14, 104, 238, 7, progress, kPlain},
               {"Button", IDC_BUTTON_START, "시작(&S)", 47, 125, 50, 14, kDefault, kPlain},
               {"Button", IDC_BUTTON_STOP, "중지(&T)", 106, 125, 50, 14, kPush, kPlain},
               {"Button", IDC_BUTTON_CONFIG, "설정", 233, 34, 26, 14, kPush, kPlain},
               {"SysListView32", IDC_LIST_STATUS, "", 7, 146, 253, 73, list, kBordered},
               {"Static", IDC_STATIC, nullptr, 7, 7, 253, 20, SS_BITMAP, kSizesItself},
           });
    EXPECT_EQ(ItemText(d, IDOK), "닫기(&X)");
    EXPECT_EQ(ItemText(d, IDC_STATIC_STEP), "Static");
    EXPECT_EQ(ItemText(d, IDC_STATIC_TOTAL), "Static");
    EXPECT_EQ(ItemText(d, IDC_STATIC_FILENAME), "Static");
    EXPECT_EQ(ItemText(d, IDC_BUTTON_START), "시작(&S)");
    EXPECT_EQ(ItemText(d, IDC_BUTTON_STOP), "중지(&T)");
    EXPECT_EQ(ItemText(d, IDC_BUTTON_CONFIG), "설정");
    EXPECT_EQ(Style(::GetDlgItem(d, IDC_LIST_STATUS)) & LVS_TYPEMASK, LVS_REPORT);

    // Enter starts the update; Tab begins at the Close button.
    EXPECT_EQ(LOWORD(::SendMessageW(d, DM_GETDEFID, 0, 0)), IDC_BUTTON_START);
    EXPECT_EQ(TabOrder(d), (std::vector<int>{IDOK, IDC_BUTTON_START, IDC_BUTTON_STOP,
                                             IDC_BUTTON_CONFIG, IDC_LIST_STATUS}));

    // The banner static shows the banner bitmap at its own size.
    const HWND banner = ::GetWindow(::GetWindow(d, GW_CHILD), GW_HWNDLAST);
    ASSERT_NE(banner, nullptr);
    const auto shown =
        reinterpret_cast<HBITMAP>(::SendMessageW(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(shown, nullptr);
    const BITMAP info = BitmapInfo(shown);
    EXPECT_EQ(info.bmWidth, 442);
    EXPECT_EQ(info.bmHeight, 28);
}

TEST(Resources, SettingsDialog) {
    const Window dialog = CreateFromTemplate(IDD_CONFIG_DIALOG);
    ASSERT_NE(dialog, nullptr) << ::GetLastError();
    const HWND d = dialog.get();

    EXPECT_EQ(WindowText(d), "환경설정");
    EXPECT_EQ(Style(d) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_NE(ExStyle(d) & WS_EX_TOOLWINDOW, 0);
    ExpectSizeAndFont(d, 255, 142);
    ExpectControls(
        d, {
               {"Button", IDOK, "확인", 72, 121, 50, 14, kDefault, kPlain},
               {"Button", IDCANCEL, "취소", 131, 121, 50, 14, kPush, kPlain},
               {"Static", IDC_STATIC, "서버 IP 주소 :", 14, 22, 44, 8, 0, kPlain},
               {"Static", IDC_STATIC, "서버 포트 번호 :", 14, 37, 51, 8, 0, kPlain},
               {"Static", IDC_STATIC, "기본 URL :", 14, 53, 35, 8, 0, kPlain},
               {"Static", IDC_STATIC, "리스트 파일 이름 :", 14, 68, 58, 8, 0, kPlain},
               {"Static", IDC_STATIC, "링크 이름 추가 :", 14, 83, 51, 8, 0, kPlain},
               {"Edit", IDC_EDIT_SERVER_IP, "", 82, 20, 95, 12, kEdit, kBordered},
               {"Edit", IDC_EDIT_SERVER_PORT, "", 82, 35, 40, 12, kEdit, kBordered},
               {"Edit", IDC_EDIT_BASE_URL, "", 82, 50, 160, 12, kEdit, kBordered},
               {"Edit", IDC_EDIT_LIST_FILE, "", 82, 65, 81, 12, kEdit, kBordered},
               {"Edit", IDC_EDIT_LINK_APPEND, "", 82, 80, 159, 12, kEdit, kBordered},
               {"Button", IDC_STATIC, "환경 정보", 7, 7, 241, 109, BS_GROUPBOX, kPlain},
               {"Static", IDC_STATIC, "로컬 기본 디렉토리 :", 14, 98, 65, 8, 0, kPlain},
               {"Edit", IDC_EDIT_LOCAL_DIR, "", 82, 96, 159, 12, kEdit | ES_READONLY, kBordered},
           });
    EXPECT_EQ(ItemText(d, IDOK), "확인");
    EXPECT_EQ(ItemText(d, IDCANCEL), "취소");
    EXPECT_EQ(TabOrder(d),
              (std::vector<int>{IDOK, IDCANCEL, IDC_EDIT_SERVER_IP, IDC_EDIT_SERVER_PORT,
                                IDC_EDIT_BASE_URL, IDC_EDIT_LIST_FILE, IDC_EDIT_LINK_APPEND,
                                IDC_EDIT_LOCAL_DIR}));

    // Only the local folder is read-only: it is where the program is, not a setting.
    EXPECT_NE(Style(::GetDlgItem(d, IDC_EDIT_LOCAL_DIR)) & ES_READONLY, 0);
    for (const int id : {IDC_EDIT_SERVER_IP, IDC_EDIT_SERVER_PORT, IDC_EDIT_BASE_URL,
                         IDC_EDIT_LIST_FILE, IDC_EDIT_LINK_APPEND}) {
        EXPECT_EQ(Style(::GetDlgItem(d, id)) & ES_READONLY, 0) << id;
    }
}

// ---- images --------------------------------------------------------------------------------

// Red, green and blue of a pixel of a bottom-up 24-bit DIB section, row 0 at the top.
struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const BITMAP& info, int x, int y) {
    const auto* row = static_cast<const unsigned char*>(info.bmBits) +
                      static_cast<std::size_t>(info.bmHeight - 1 - y) * info.bmWidthBytes;
    const unsigned char* p = row + 3 * x;
    return {p[2], p[1], p[0]};
}

TEST(Resources, StatusImages) {
    const Bitmap bitmap = LoadBitmapResource(IDB_STATUS_IMAGES);
    ASSERT_NE(bitmap, nullptr) << ::GetLastError();
    const BITMAP info = BitmapInfo(bitmap.get());
    EXPECT_EQ(info.bmWidth, 32);
    EXPECT_EQ(info.bmHeight, 16);
    ASSERT_EQ(info.bmBitsPixel, 24);
    ASSERT_NE(info.bmBits, nullptr);

    // The list draws the images without a mask, so their background is the list's white.
    for (const POINT corner : {POINT{15, 15}, POINT{16, 0}, POINT{31, 0}, POINT{31, 15}}) {
        const Rgb p = PixelAt(info, corner.x, corner.y);
        EXPECT_TRUE(p.r == 255 && p.g == 255 && p.b == 255) << corner.x << "," << corner.y;
    }
    // Image 0 holds a blue "i"; image 1 is a red disc with a white cross through its middle.
    const Rgb stem = PixelAt(info, 8, 7);
    EXPECT_GT(stem.b, stem.r + 100);
    const Rgb disc = PixelAt(info, 19, 8);
    EXPECT_GT(disc.r, disc.g + 100);
    const Rgb cross = PixelAt(info, 24, 8);
    EXPECT_TRUE(cross.r > 240 && cross.g > 240 && cross.b > 240);
}

TEST(Resources, Banner) {
    const Bitmap bitmap = LoadBitmapResource(IDB_BANNER);
    ASSERT_NE(bitmap, nullptr) << ::GetLastError();
    const BITMAP info = BitmapInfo(bitmap.get());
    EXPECT_EQ(info.bmWidth, 442);
    EXPECT_EQ(info.bmHeight, 28);
    EXPECT_EQ(info.bmBitsPixel, 24);
}

TEST(Resources, IconHasBothSizes) {
    for (const int size : {16, 32}) {
        SCOPED_TRACE(size);
        const auto icon = static_cast<HICON>(
            ::LoadImageW(Module(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << ::GetLastError();
        ICONINFO parts = {};
        ASSERT_TRUE(::GetIconInfo(icon, &parts));
        const Bitmap colour(parts.hbmColor);
        const Bitmap mask(parts.hbmMask);
        ASSERT_NE(colour, nullptr);
        EXPECT_EQ(BitmapInfo(colour.get()).bmWidth, size);
        EXPECT_EQ(BitmapInfo(colour.get()).bmHeight, size);
        ::DestroyIcon(icon);

        // The icon group holds an image drawn at this size, not one scaled to it.
        const std::string_view group =
            ResourceBytes(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
        ASSERT_FALSE(group.empty());
        auto* directory = reinterpret_cast<BYTE*>(const_cast<char*>(group.data()));
        const int imageId = ::LookupIconIdFromDirectoryEx(directory, TRUE, size, size, 0);
        ASSERT_NE(imageId, 0);
        const std::string_view image = ResourceBytes(MAKEINTRESOURCEW(imageId), RT_ICON);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header = {};
        std::memcpy(&header, image.data(), sizeof(header));
        EXPECT_EQ(header.biWidth, size);
        EXPECT_EQ(header.biHeight, 2 * size) << "colour and mask";
        EXPECT_EQ(header.biBitCount, 32);
    }
}

// ---- strings, version, manifest ------------------------------------------------------------

TEST(Resources, Strings) {
    EXPECT_EQ(LoadStringResource(IDS_ABOUTBOX), "Vento 정보(&A)...");
    EXPECT_EQ(LoadStringResource(IDS_SOCKET_INIT_FAILED), "Windows 소켓 초기화에 실패하였습니다.");
}

TEST(Resources, Version) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u) << ::GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (15u << 16) | 3u);
    EXPECT_EQ(fixed->dwFileVersionLS, (3u << 16) | 1u);
    EXPECT_EQ(fixed->dwProductVersionMS, (15u << 16) | 3u);
    EXPECT_EQ(fixed->dwProductVersionLS, (3u << 16) | 1u);

    // Korean, Unicode.
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0412);
    EXPECT_EQ(translation[1], 1200);

    const auto text = [&](const wchar_t* name) -> std::string {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041204b0\\") + name;
        void* found = nullptr;
        UINT chars = 0;
        if (!::VerQueryValueW(block.data(), query.c_str(), &found, &chars) || chars == 0) {
            return "(none)";
        }
        const auto* begin = static_cast<const wchar_t*>(found);
        return Narrow(begin, std::wcslen(begin));
    };
    EXPECT_EQ(text(L"FileVersion"), "15, 3, 3, 1");
    EXPECT_EQ(text(L"ProductVersion"), "15, 3, 3, 1");
    EXPECT_EQ(text(L"ProductName"), "KestrelSync");
    EXPECT_EQ(text(L"FileDescription"), "Lumen Forge 버전 관리");
}

TEST(Resources, ManifestAsksForAdministratorAndCommonControls6) {
    const std::string_view manifest =
        ResourceBytes(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_FALSE(manifest.empty());
    const std::string text(manifest);
    EXPECT_NE(
        text.find(R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)"),
        std::string::npos);
    EXPECT_NE(text.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"),
              std::string::npos);
    EXPECT_NE(text.find(R"(publicKeyToken="6595b64144ccf1df")"), std::string::npos);
}

} // namespace

#endif // _WIN32
