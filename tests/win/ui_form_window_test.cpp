// The real window under Wine and Xvfb, built and driven through FormView as
// the update flow drives it: geometry, styles, colours on screen, the
// progress bar, the file label, keyboard, close box, embedded pictures.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "harness.h"
#include "ui/layout.h"
#include "ui/resources/resource_ids.h"
#include "ui/win32_form_window.h"
#include "ui/win32_newer_api.h"
#include "ui/win32_paint.h"
#include "core/error.h"
#include "win32/handles.h"

namespace tessaloom {
namespace {

using test::ErrorNumber;

using test::FindChild;
using test::WindowText;

constexpr COLORREF kLight = RGB(194, 215, 225);
constexpr COLORREF kMedium = RGB(127, 172, 193);
// Where the fill's picture starts in the client area: the panel at (3, 144)
// plus the fill at (237, 183) inside it.
constexpr POINT kFillOrigin{240, 327};

// A window's device context for one scope.
class WindowDc {
public:
    explicit WindowDc(HWND window, bool withFrame = false)
        : window_(window), dc_(withFrame ? GetWindowDC(window) : GetDC(window)) {}
    ~WindowDc() { ReleaseDC(window_, dc_); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    [[nodiscard]] HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Pixels read back from the screen or from a bitmap, top-down, 0x00RRGGBB.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> bits;

    [[nodiscard]] COLORREF At(int x, int y) const {
        const std::uint32_t p = bits.at(static_cast<std::size_t>(y) * width + x);
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

BITMAPINFO TopDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

Pixels BitmapPixels(HDC dc, HBITMAP bitmap, int width, int height) {
    Pixels pixels{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
    BITMAPINFO info = TopDown32(width, height);
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.bits.data(), &info, DIB_RGB_COLORS);
    return pixels;
}

// What the window shows: its client area, or the whole window with its frame.
Pixels Capture(HWND window, bool withFrame = false) {
    RECT r{};
    if (withFrame) {
        GetWindowRect(window, &r);
    } else {
        GetClientRect(window, &r);
    }
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    WindowDc screen(window, withFrame);
    UniqueDc memory(CreateCompatibleDC(screen.Get()));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
    HGDIOBJ old = SelectObject(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), 0, 0, SRCCOPY);
    SelectObject(memory.Get(), old);
    return BitmapPixels(memory.Get(), static_cast<HBITMAP>(bitmap.Get()), width, height);
}

// Saves pixels as a 24-bit BMP under the build tree for people to look at.
void SaveBmp(const Pixels& pixels, const std::wstring& name) {
    const std::wstring folder = std::wstring(TESSALOOM_BUILD_DIR) + L"\\ui-screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    const int stride = (pixels.width * 3 + 3) & ~3;
    std::string data;
    for (int y = pixels.height - 1; y >= 0; --y) {
        std::string row(static_cast<std::size_t>(stride), '\0');
        for (int x = 0; x < pixels.width; ++x) {
            const COLORREF c = pixels.At(x, y);
            row[x * 3] = static_cast<char>(GetBValue(c));
            row[x * 3 + 1] = static_cast<char>(GetGValue(c));
            row[x * 3 + 2] = static_cast<char>(GetRValue(c));
        }
        data += row;
    }
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(data.size());
    info.biSize = sizeof info;
    info.biWidth = pixels.width;
    info.biHeight = pixels.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(data.size());
    UniqueFile out(CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(out);
    DWORD written = 0;
    WriteFile(out.Get(), &file, sizeof file, &written, nullptr);
    WriteFile(out.Get(), &info, sizeof info, &written, nullptr);
    WriteFile(out.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

// A callback of the system's own calling convention (stdcall on 32-bit
// Windows), which a lambda cannot be given.
BOOL CALLBACK AddChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, AddChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

// A child's rectangle in its top-level window's client coordinates.
RECT ClientRectOf(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetAncestor(child, GA_ROOT), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void ExpectRect(const RECT& r, int left, int top, int width, int height) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
}

class FormWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The pictures and icons live in the updater's resources.
        resources.Reset(
            LoadLibraryExW(TESSALOOM_UPDATER_EXE, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(resources) << "cannot load the updater's resources, error " << GetLastError();
        window = std::make_unique<Win32FormWindow>(GetModuleHandleW(nullptr), resources.Get());
        window->OnClick([this](std::wstring_view name) { clicks.emplace_back(name); });
    }

    void TearDown() override {
        window.reset();
        Pump();
    }

    // As update discovery leaves the window: Form1 loads on it with these
    // files waiting, themes it, lists them and shows it with the fill at 0.
    void ShowAsDiscoveryLeavesIt(const std::vector<std::string>& names = {"Tessaloom.exe", "TessaloomCore.dll"}) {
        std::string list = "path\r\n";
        for (const std::string& name : names) {
            list += name + "\r\n";
            machine.NewFile(std::wstring(name.begin(), name.end()), "new");
        }
        machine.List(list);
        flow = std::make_unique<Form1>(machine.PlatformFor(*window));
        flow->Load();
        Pump();
    }

    // Handles what is queued, as the program's loop would; notes a quit.
    void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                continue;
            }
            if (!window || !window->PreTranslate(message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

    void Key(UINT key) {
        MSG message{GetFocus(), WM_KEYDOWN, key, 1, GetTickCount(), {}};
        if (!window->PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // Bits 30 and 31 set: the key was down and is being released.
        MSG up{GetFocus(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001U), GetTickCount(), {}};
        if (!window->PreTranslate(up)) {
            DispatchMessageW(&up);
        }
        Pump();
    }

    HWND Form() const { return reinterpret_cast<HWND>(window->Handle()); }

    // Paints what changed (Refresh may leave it for later), then reads the screen.
    Pixels Screen() {
        window->Paint();
        return Capture(Form());
    }

    // The bar's pictures as the resources hold them.
    Pixels Picture(int id) {
        UniqueGdiObject bitmap = ui::LoadPackedBitmap(resources.Get(), id);
        BITMAP info{};
        GetObjectW(bitmap.Get(), sizeof info, &info);
        WindowDc screen(nullptr);
        return BitmapPixels(screen.Get(), static_cast<HBITMAP>(bitmap.Get()), info.bmWidth, info.bmHeight);
    }

    UniqueModule resources;
    std::unique_ptr<Win32FormWindow> window;
    test::FakeMachine machine;
    std::unique_ptr<Form1> flow;
    std::vector<std::wstring> clicks;
    bool quit = false;
};

TEST_F(FormWindowTest, NoWindowExistsUntilShownThenItHoldsWhatWasSetBefore) {
    window->AddListLine(L"a.dll");
    window->SetCaption(kFileLabel, L"b.dll");
    EXPECT_EQ(window->Handle(), 0U);
    EXPECT_EQ(FindWindowW(nullptr, L"Tessaloom UPDATES"), nullptr);

    window->Show();
    Pump();
    ASSERT_NE(Form(), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, L"Tessaloom UPDATES"), Form());
    EXPECT_TRUE(IsWindowVisible(Form()));
    HWND list = FindChild(Form(), L"ListBox");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
}

TEST_F(FormWindowTest, FixedFrameCentredWithTitleIconAndTheTablesClientSize) {
    ShowAsDiscoveryLeavesIt();
    RECT client{};
    GetClientRect(Form(), &client);
    EXPECT_EQ(client.right, 392);
    EXPECT_EQ(client.bottom, 396);
    const LONG_PTR style = GetWindowLongPtrW(Form(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(WindowText(Form()), L"Tessaloom UPDATES");

    RECT frame{};
    GetWindowRect(Form(), &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(Form(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_NEAR(frame.left + frame.right, monitor.rcWork.left + monitor.rcWork.right, 1);
    EXPECT_NEAR(frame.top + frame.bottom, monitor.rcWork.top + monitor.rcWork.bottom, 1);

    auto icon = reinterpret_cast<HICON>(SendMessageW(Form(), WM_GETICON, ICON_SMALL, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    UniqueGdiObject colour(info.hbmColor);
    UniqueGdiObject mask(info.hbmMask);
    BITMAP bitmap{};
    GetObjectW(colour.Get(), sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 16);
    EXPECT_EQ(bitmap.bmHeight, 16);
}

TEST_F(FormWindowTest, OnlyButtonsPanelAndListAreWindowsAtTheTablesPixelRectangles) {
    ShowAsDiscoveryLeavesIt();
    EXPECT_EQ(Children(Form()).size(), 4U);  // panel, list, two buttons: nothing else
    HWND update = FindChild(Form(), L"Button", L"Update");
    HWND cancel = FindChild(Form(), L"Button", L"Cancel");
    HWND list = FindChild(Form(), L"ListBox");
    ASSERT_TRUE(update && cancel && list);
    HWND panel = GetParent(list);
    EXPECT_EQ(WindowText(panel), L"Frame1");
    EXPECT_EQ(GetParent(panel), Form());
    ExpectRect(ClientRectOf(update), 75, 359, 84, 32);
    ExpectRect(ClientRectOf(cancel), 207, 359, 84, 32);
    ExpectRect(ClientRectOf(panel), 3, 144, 385, 206);
    ExpectRect(ClientRectOf(list), 12, 181, 368, 130);
    for (HWND button : {update, cancel}) {
        EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    }
    const LONG_PTR listStyle = GetWindowLongPtrW(list, GWL_STYLE);
    EXPECT_EQ(listStyle & (LBS_SORT | LBS_MULTIPLESEL | LBS_EXTENDEDSEL), 0);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
}

TEST_F(FormWindowTest, ThemeColoursShowOnPanelWindowButtonsAndOutlines) {
    ShowAsDiscoveryLeavesIt();
    const Pixels shot = Screen();
    SaveBmp(shot, L"form_client.bmp");
    SaveBmp(Capture(Form(), true), L"form_window.bmp");

    EXPECT_EQ(shot.At(200, 346), kLight) << "panel";
    EXPECT_EQ(shot.At(20, 380), kLight) << "window";
    EXPECT_EQ(shot.At(79, 363), kLight) << "Update face";
    EXPECT_EQ(shot.At(211, 363), kLight) << "Cancel face";
    EXPECT_EQ(shot.At(7, 248), kMedium) << "list outline";
    EXPECT_EQ(shot.At(8, 248), kMedium) << "list outline, second pixel";
    EXPECT_EQ(shot.At(7, 163), kMedium) << "header box outline";
    EXPECT_EQ(shot.At(8, 332), kMedium) << "progress row outline";
    EXPECT_EQ(shot.At(9, 332), kLight) << "inside the progress row";
}

TEST_F(FormWindowTest, FillShowsTheLeftPartOfItsPictureNeverStretched) {
    ShowAsDiscoveryLeavesIt();
    const Pixels bar = Picture(IDB_BAR_FILL);
    ASSERT_EQ(bar.width, 127);
    const int row = 5;
    auto shown = [&](const Pixels& shot, int x) { return shot.At(kFillOrigin.x + x, kFillOrigin.y + row); };

    const Pixels empty = Screen();
    for (int x = 0; x < bar.width; ++x) {
        ASSERT_EQ(shown(empty, x), kLight) << "width 0, column " << x;
    }

    window->SetWidth(kFill, 1905);
    const Pixels full = Screen();
    SaveBmp(full, L"form_full_bar.bmp");
    for (int x = 0; x < bar.width; ++x) {
        ASSERT_EQ(shown(full, x), bar.At(x, row)) << "full width, column " << x;
    }

    window->SetWidth(kFill, 1905.0F / 2);  // 63.5 px, shown as 64
    const Pixels half = Screen();
    for (int x = 0; x < bar.width; ++x) {
        ASSERT_EQ(shown(half, x), x < 64 ? bar.At(x, row) : kLight) << "half width, column " << x;
    }
}

TEST_F(FormWindowTest, EndCapLiesInFrontOfTheFillAtItsRightEdge) {
    // 127 files, a pixel of the bar each; all but the first 40 are gone when
    // Update is pressed, so the bar stops at 40 px while the success box shows.
    std::vector<std::string> names;
    for (int i = 0; i < 127; ++i) {
        names.push_back("f" + std::to_string(i) + ".dll");
    }
    ShowAsDiscoveryLeavesIt(names);
    for (int i = 40; i < 127; ++i) {
        machine.files.files.erase(std::wstring(test::FakeMachine::kUpdate) + L"\\f" + std::to_wstring(i) + L".dll");
    }
    Pixels shot;
    machine.dialogs.whileShown = [&] { shot = Screen(); };
    flow->Command1_Click();
    ASSERT_EQ(shot.width, 392) << "no success box";
    const Pixels cap = Picture(IDB_BAR_CAP);
    const Pixels bar = Picture(IDB_BAR_FILL);
    SaveBmp(shot, L"form_cap.bmp");
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 4; ++x) {
            ASSERT_EQ(shot.At(kFillOrigin.x + 36 + x, kFillOrigin.y + y), cap.At(x, y)) << x << "," << y;
        }
        ASSERT_EQ(shot.At(kFillOrigin.x + 35, kFillOrigin.y + y), bar.At(35, y));
        ASSERT_EQ(shot.At(kFillOrigin.x + 40, kFillOrigin.y + y), kLight);
    }
}

TEST_F(FormWindowTest, BannerAndTitleSitAtTheirPlacesAndTheFileLabelIsBlack) {
    ShowAsDiscoveryLeavesIt();
    const Pixels shot = Screen();
    const Pixels banner = Picture(IDB_BANNER);  // from 2 px left of the window, behind the white box
    for (int y = 0; y < banner.height; ++y) {
        for (int x = 0; x + 2 < banner.width; ++x) {
            if (x < 340 || y > 65) {
                ASSERT_EQ(shot.At(x, y), banner.At(x + 2, y)) << "banner " << x << "," << y;
            }
        }
    }
    const Pixels title = Picture(IDB_TITLE);
    for (int y = 0; y < title.height; ++y) {
        for (int x = 0; x < title.width; ++x) {
            ASSERT_EQ(shot.At(76 + x, 103 + y), title.At(x, y)) << "title " << x << "," << y;
        }
    }
    // "File: " left of the bar: its darkest pixels are black, not a dark colour.
    auto brightness = [](COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); };
    COLORREF darkest = kLight;
    for (int y = 324; y < 342; ++y) {
        for (int x = 150; x < 233; ++x) {
            darkest = brightness(shot.At(x, y)) < brightness(darkest) ? shot.At(x, y) : darkest;
        }
    }
    EXPECT_EQ(darkest, RGB(0, 0, 0));
}

TEST_F(FormWindowTest, LongFileNameMakesTheLabelGrowLeftwardsInFrontOfTheRow) {
    ShowAsDiscoveryLeavesIt();
    window->SetWidth(kFill, 1905);
    const std::wstring name = L"A much longer file name than the label had.dll";
    window->SetCaption(kFileLabel, name);
    const float right = 3060 + 375;
    EXPECT_GT(window->Width(kFileLabel), 375.0F * 4);
    EXPECT_FLOAT_EQ(window->Left(kFileLabel) + window->Width(kFileLabel), right);

    const Pixels shot = Screen();
    SaveBmp(shot, L"form_long_label.bmp");
    // Dark text pixels now stand well left of the label's first place, over
    // the row's outline, and none at the bar.
    auto darkIn = [&](int fromX, int toX) {
        int dark = 0;
        for (int y = 324; y < 342; ++y) {
            for (int x = fromX; x < toX; ++x) {
                const COLORREF c = shot.At(x, y);
                dark += GetRValue(c) + GetGValue(c) + GetBValue(c) < 150 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_GT(darkIn(60, 200), 20);
    EXPECT_EQ(darkIn(233, 240), 0);
}

TEST_F(FormWindowTest, AnElementOutsideItsGroupIsARunTimeErrorBeforeAndAfterShowing) {
    EXPECT_EQ(ErrorNumber([&] { window->SetCaption({L"npercent_txt_up", 1}, L"x"); }), kErrControlArrayElement);
    ShowAsDiscoveryLeavesIt();
    EXPECT_EQ(ErrorNumber([&] { window->SetCaption({L"npercent_txt_up", 1}, L"x"); }), kErrControlArrayElement);
    EXPECT_EQ(ErrorNumber([&] { window->SetBorderColor({L"Shape1_up", 3}, 0); }), kErrControlArrayElement);
    EXPECT_EQ(ErrorNumber([&] { (void)window->Width({L"ShapeprogressU", 1}); }), kErrControlArrayElement);
}

TEST_F(FormWindowTest, ListHasTheFocusTabGoesToUpdateThenCancelAndEnterOrSpacePressesTheFocusedButton) {
    ShowAsDiscoveryLeavesIt();
    HWND list = FindChild(Form(), L"ListBox");
    HWND update = FindChild(Form(), L"Button", L"Update");
    HWND cancel = FindChild(Form(), L"Button", L"Cancel");
    EXPECT_EQ(GetFocus(), list);
    EXPECT_NE(HIWORD(SendMessageW(Form(), DM_GETDEFID, 0, 0)), DC_HASDEFID);
    struct Step {
        UINT key;
        HWND focus;                        // where the focus is after the key
        std::vector<std::wstring> clicks;  // every click so far
    };
    const std::vector<Step> steps = {
        {VK_RETURN, list, {}},  // no default button: Enter in the list does nothing
        {VK_ESCAPE, list, {}},
        {VK_TAB, update, {}},
        {VK_RETURN, update, {L"Command1"}},
        {VK_SPACE, update, {L"Command1", L"Command1"}},
        {VK_TAB, cancel, {L"Command1", L"Command1"}},
        {VK_ESCAPE, cancel, {L"Command1", L"Command1"}},
        {VK_RETURN, cancel, {L"Command1", L"Command1", L"Command2"}},
        {VK_TAB, list, {L"Command1", L"Command1", L"Command2"}},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Key(steps[i].key);
        EXPECT_EQ(GetFocus(), steps[i].focus) << "step " << i;
        EXPECT_EQ(clicks, steps[i].clicks) << "step " << i;
    }
    EXPECT_TRUE(IsWindow(Form()));
}

TEST_F(FormWindowTest, ButtonsReportTheirClicksByName) {
    ShowAsDiscoveryLeavesIt();
    SendMessageW(FindChild(Form(), L"Button", L"Update"), BM_CLICK, 0, 0);
    SendMessageW(FindChild(Form(), L"Button", L"Cancel"), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, (std::vector<std::wstring>{L"Command1", L"Command2"}));
}

TEST_F(FormWindowTest, CloseBoxUnloadsAndEndsTheLoopWithoutAnyHandler) {
    ShowAsDiscoveryLeavesIt();
    HWND form = Form();
    SendMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_FALSE(IsWindow(form));
    EXPECT_EQ(window->Handle(), 0U);
    EXPECT_TRUE(quit);
    EXPECT_TRUE(clicks.empty());
}

TEST_F(FormWindowTest, UnloadWithoutAWindowStillEndsTheLoop) {
    window->Unload();
    Pump();
    EXPECT_TRUE(quit);
    EXPECT_EQ(FindWindowW(nullptr, L"Tessaloom UPDATES"), nullptr);
}

TEST_F(FormWindowTest, OperationsOnTheShownWindowReachItsControls) {
    ShowAsDiscoveryLeavesIt();
    HWND list = FindChild(Form(), L"ListBox");
    window->AddListLine(L"third.dll");
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
    wchar_t line[32] = {};
    SendMessageW(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, L"third.dll");
    EXPECT_EQ(window->ListCount(), 3);
    window->ClearList();
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);

    window->SetVisible({L"List_up"}, false);
    EXPECT_FALSE(IsWindowVisible(list));
    window->SetCaption({L"Form1"}, L"Another title");
    EXPECT_EQ(WindowText(Form()), L"Another title");
    window->Show();  // already shown: stays as it is
    EXPECT_EQ(Children(Form()).size(), 4U);
}

TEST_F(FormWindowTest, MovedToA144DpiMonitorItRedrawsEverythingAtThatDpi) {
    ShowAsDiscoveryLeavesIt();
    window->SetWidth(kFill, 1905);
    RECT suggested{};
    GetWindowRect(Form(), &suggested);
    SendMessageW(Form(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT client{};
    GetClientRect(Form(), &client);
    EXPECT_EQ(client.right, 588);
    // The frame is sized for a 144-DPI caption, which Wine, still at 96 DPI, draws smaller.
    EXPECT_GE(client.bottom, 594);
    ExpectRect(ClientRectOf(FindChild(Form(), L"Button", L"Update")), 113, 539, 126, 48);
    ExpectRect(ClientRectOf(FindChild(Form(), L"ListBox")), 19, 272, 552, 195);

    const Pixels shot = Screen();
    SaveBmp(shot, L"form_dpi_changed_144.bmp");
    const Pixels banner = Picture(SCALED_PICTURE(IDB_BANNER, 2));
    const Pixels bar = Picture(SCALED_PICTURE(IDB_BAR_FILL, 2));
    ASSERT_EQ(banner.width, 591);
    ASSERT_EQ(bar.width, 191);
    // The banner (from x = -3) reaches the white corner; the bar's picture
    // (panel at 5, 216; fill at 356, 275 in it) runs its whole width.
    for (const int x : {10, 300, 450, 505}) {
        EXPECT_EQ(shot.At(x, 100), banner.At(x + 3, 100)) << "banner, column " << x;
    }
    for (const int x : {0, 100, 150, 180}) {
        EXPECT_EQ(shot.At(361 + x, 498), bar.At(x, 7)) << "bar, column " << x;
    }
}

// While a button's work runs, Refresh paints at once and reads what waits,
// so the window answers; clicks, keys and the close box then do nothing.
TEST_F(FormWindowTest, WhileAButtonsWorkRunsRefreshPaintsAndReadsInputThatDoesNothing) {
    ShowAsDiscoveryLeavesIt();
    HWND form = Form();
    HWND list = FindChild(form, L"ListBox");
    HWND update = FindChild(form, L"Button", L"Update");
    struct Input {
        HWND to;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Input inputs[] = {
        {update, BM_CLICK, 0, 0},
        {update, WM_KEYDOWN, VK_SPACE, 1},
        {update, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0000001)},
        {update, WM_KEYDOWN, VK_RETURN, 1},
        {form, WM_SYSCOMMAND, SC_CLOSE, 0},
        {form, WM_CLOSE, 0, 0},
        {list, WM_KEYDOWN, VK_DOWN, 1},
    };
    Pixels shot;
    UINT closeState = 0;
    window->OnClick([&](std::wstring_view name) {
        clicks.emplace_back(name);
        if (clicks.size() > 1) {
            return;  // started again from within: the fault this looks for
        }
        for (const Input& input : inputs) {
            PostMessageW(input.to, input.message, input.wParam, input.lParam);
        }
        closeState = GetMenuState(GetSystemMenu(form, FALSE), SC_CLOSE, MF_BYCOMMAND);
        window->SetWidth(kFill, 1905);
        window->Refresh();  // its first paint is never put off
        shot = Capture(form);
        MSG message;
        EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) << "input left unread";
        EXPECT_TRUE(IsWindow(form));
    });
    SendMessageW(update, BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, std::vector<std::wstring>{L"Command1"});
    EXPECT_NE(shot.At(kFillOrigin.x + 60, kFillOrigin.y + 5), kLight);
    EXPECT_TRUE(closeState & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(GetSystemMenu(form, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(quit);
    // Once the work has ended, the close box works again.
    SendMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_FALSE(IsWindow(form));
}

// Refresh paints and reads input at most every few hundredths of a second:
// a change it puts off is painted by the message loop once the work is done,
// and input waits for the next Refresh after the interval.
TEST_F(FormWindowTest, WhatRefreshPutsOffTheNextMessageLoopPaints) {
    ShowAsDiscoveryLeavesIt();
    HWND form = Form();
    HWND list = FindChild(form, L"ListBox");
    window->OnClick([&](std::wstring_view) {
        window->Refresh();  // paints now
        PostMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
        Sleep(40);
        window->Refresh();  // the interval is over: reads the input
        MSG message;
        EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_INPUT | PM_QS_POSTMESSAGE))
            << "input left unread";
        window->SetWidth(kFill, 1905);
        window->Refresh();  // a moment later: leaves the paint for later
    });
    SendMessageW(FindChild(form, L"Button", L"Update"), BM_CLICK, 0, 0);
    EXPECT_EQ(Capture(form).At(kFillOrigin.x + 60, kFillOrigin.y + 5), kLight) << "painted too soon";
    Pump();
    EXPECT_NE(Capture(form).At(kFillOrigin.x + 60, kFillOrigin.y + 5), kLight) << "the change was never painted";
}

// Readers hear a move of the bar as a change of the row's value and a new
// file's name as a change of its name, each once, and nothing else.
std::vector<DWORD> heardEvents;
void CALLBACK HearEvent(HWINEVENTHOOK, DWORD event, HWND, LONG, LONG, DWORD, DWORD) { heardEvents.push_back(event); }

TEST_F(FormWindowTest, ReadersHearTheBarAsTheRowsValueAndTheFileAsItsName) {
    ShowAsDiscoveryLeavesIt();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, &HearEvent,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const std::function<void()> changes[] = {[&] { window->SetWidth(kFill, 1905); },
                                             [&] { window->SetCaption(kFileLabel, L"b.dll"); }};
    const DWORD told[] = {EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_NAMECHANGE};
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        heardEvents.clear();
        changes[i]();
        Pump();
        EXPECT_EQ(heardEvents, std::vector<DWORD>{told[i]}) << "change " << i;
    }
    UnhookWinEvent(hook);
}

// --- Windows 7: the fallbacks of the newer DPI functions ---------------------

// Under Wine the newer functions exist, so the fallbacks are held against them.
TEST(Windows7Fallbacks, AgreeWithThePerMonitorFunctions) {
    const int system = ui::SystemDpi();
    EXPECT_EQ(ui::windows7::SystemDpi(), system);
    for (const int dpi : {96, 120, 144, 192}) {
        for (const int metric : {SM_CXSMICON, SM_CYSMICON, SM_CXICON, SM_CYICON}) {
            EXPECT_EQ(ui::windows7::SystemMetricForDpi(metric, dpi), ui::SystemMetricForDpi(metric, dpi))
                << "metric " << metric << " at " << dpi;
        }
    }
    // Windows 7 draws every window at the system's DPI: the frame is only asked for there.
    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT newer{0, 0, 392, 396};
    RECT older = newer;
    ASSERT_TRUE(ui::AdjustWindowRectForDpi(newer, kStyle, 0, system));
    ASSERT_TRUE(ui::windows7::AdjustWindowRectForDpi(older, kStyle, 0, system));
    EXPECT_TRUE(EqualRect(&older, &newer));
}

// --- the embedded pictures ---------------------------------------------------

std::string_view ResourceBytes(HMODULE module, int id, LPCWSTR type) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return {};
    }
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return {data, SizeofResource(module, found)};
}

// Frames of a GIF and whether it has a global table of 256 colours.
std::pair<int, bool> GifFrames(std::string_view gif, int& width, int& height) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(gif.at(i)); };
    width = byte(6) | (byte(7) << 8);
    height = byte(8) | (byte(9) << 8);
    const bool table256 = (byte(10) & 0x80) != 0 && (byte(10) & 0x07) == 7;
    std::size_t at = 13 + ((byte(10) & 0x80) != 0 ? 3U << ((byte(10) & 0x07) + 1) : 0U);
    auto skipSubBlocks = [&] {
        while (byte(at) != 0) {
            at += byte(at) + 1U;
        }
        ++at;
    };
    int frames = 0;
    while (at < gif.size() && byte(at) != 0x3B) {
        if (byte(at) == 0x21) {  // extension
            at += 2;
            skipSubBlocks();
        } else if (byte(at) == 0x2C) {  // image
            ++frames;
            const unsigned char packed = byte(at + 9);
            at += 10 + ((packed & 0x80) != 0 ? 3U << ((packed & 0x07) + 1) : 0U);
            ++at;  // LZW code size
            skipSubBlocks();
        } else {
            return {-1, table256};
        }
    }
    return {frames, table256};
}

TEST_F(FormWindowTest, EveryPictureIsEmbeddedInItsFormatAtItsControlsSize) {
    for (const ui::ControlRow& row : ui::FormLayout()) {
        if (row.picture == 0) {
            continue;
        }
        SCOPED_TRACE(std::string(row.name.begin(), row.name.end()));
        switch (row.format) {
        case ui::PictureFormat::Bitmap:
            for (int step = 0; step < PICTURE_SCALE_STEPS; ++step) {
                UniqueGdiObject bitmap = ui::LoadPackedBitmap(resources.Get(), SCALED_PICTURE(row.picture, step));
                ASSERT_TRUE(bitmap) << "step " << step;
                DIBSECTION dib{};
                ASSERT_EQ(GetObjectW(bitmap.Get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
                // Drawn at the control's size at 96, 120, 144, 168 and 192 DPI.
                const int dpi = 96 + 24 * step;
                EXPECT_EQ(dib.dsBmih.biBitCount, 24);
                EXPECT_EQ(dib.dsBm.bmWidth, ui::TwipsToPixels(row.width, dpi)) << "step " << step;
                EXPECT_EQ(dib.dsBm.bmHeight, ui::TwipsToPixels(row.height, dpi)) << "step " << step;
            }
            break;
        case ui::PictureFormat::Icon:
            // Each icon group holds one image of 256 colours (8 bits a pixel): 16 x 16, 4 more a step.
            for (int step = 0; step < PICTURE_SCALE_STEPS; ++step) {
                const std::string_view group =
                    ResourceBytes(resources.Get(), SCALED_PICTURE(row.picture, step), RT_GROUP_ICON);
                ASSERT_GE(group.size(), 6U + 14U) << "step " << step;
                EXPECT_EQ(group[4], 1);  // one image
                EXPECT_EQ(static_cast<unsigned char>(group[6]), 16 + 4 * step);
                EXPECT_EQ(static_cast<unsigned char>(group[7]), 16 + 4 * step);
                EXPECT_EQ(static_cast<unsigned char>(group[12]), 8);  // bits per pixel
            }
            if (row.kind != ui::ControlKind::Window) {
                EXPECT_EQ(row.width, 16 * 15);
                EXPECT_EQ(row.height, 16 * 15);
            }
            break;
        case ui::PictureFormat::Gif: {
            const std::string_view gif = ResourceBytes(resources.Get(), row.picture, RT_RCDATA);
            ASSERT_GT(gif.size(), 13U);
            EXPECT_EQ(gif.substr(0, 4), "GIF8");
            int width = 0;
            int height = 0;
            const auto [frames, table256] = GifFrames(gif, width, height);
            EXPECT_EQ(frames, 1);
            EXPECT_TRUE(table256);
            EXPECT_EQ(width * 15, row.width);
            EXPECT_EQ(height * 15, row.height);
            break;
        }
        case ui::PictureFormat::None:
            ADD_FAILURE() << "a picture without a format";
        }
    }
}

TEST_F(FormWindowTest, PicturesComeInTheVersionNearestTheDpiShownAtTheirSizeScaled) {
    const ui::ControlRow& banner = *std::ranges::find(ui::FormLayout(), IDB_BANNER, &ui::ControlRow::picture);
    ui::PaintResources paint;
    paint.UsePictures(resources.Get());
    const struct {
        int dpi;
        int drawnAt;  // the DPI of the version drawn
    } cases[] = {{96, 96},   {144, 144}, {130, 120}, {240, 192}, {140, 144}, {110, 120}, {168, 168},
                 {250, 192}, {107, 96},  {160, 168}, {182, 192}, {72, 96},   {96, 96}};
    for (const auto& c : cases) {
        paint.UseDpi(c.dpi);
        const ui::ScaledBitmap picture = paint.Bitmap(IDB_BANNER);
        ASSERT_NE(picture.bitmap, nullptr) << c.dpi;
        EXPECT_EQ(picture.drawn.cx, ui::TwipsToPixels(banner.width, c.drawnAt)) << c.dpi;
        EXPECT_EQ(picture.shown.cx, ui::TwipsToPixels(banner.width, c.dpi)) << c.dpi;
        EXPECT_EQ(picture.shown.cy, ui::TwipsToPixels(banner.height, c.dpi)) << c.dpi;
        EXPECT_NE(paint.Icon(IDI_HEADER), nullptr) << c.dpi;
    }
}

// An icon as it shows on white, drawn at a size.
Pixels IconPixels(HICON icon, int width, int height) {
    WindowDc screen(nullptr);
    UniqueDc memory(CreateCompatibleDC(screen.Get()));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
    HGDIOBJ old = SelectObject(memory.Get(), bitmap.Get());
    PatBlt(memory.Get(), 0, 0, width, height, WHITENESS);
    DrawIconEx(memory.Get(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    SelectObject(memory.Get(), old);
    return BitmapPixels(memory.Get(), static_cast<HBITMAP>(bitmap.Get()), width, height);
}

TEST_F(FormWindowTest, TitleAndTaskSwitcherIconsAreTheVersionsDrawnNearestTheirOwnSizes) {
    ShowAsDiscoveryLeavesIt();
    const int picture = std::ranges::find(ui::FormLayout(), ui::kFormName, &ui::ControlRow::name)->picture;
    // The version (16 pixels at step 0, 4 more a step) nearest each size the
    // system asks: the big icon's 32 pixels at 96 DPI are the 200 % version.
    const struct {
        int dpi;
        int smallStep;
        int bigStep;
    } cases[] = {{96, 0, 4}, {120, 1, 4}, {144, 2, 4}, {168, 3, 4}, {192, 4, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        RECT suggested{};
        GetWindowRect(Form(), &suggested);
        SendMessageW(Form(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi), reinterpret_cast<LPARAM>(&suggested));
        const struct {
            WPARAM which;
            int width;
            int height;
            int step;
        } icons[] = {
            {ICON_SMALL, ui::SystemMetricForDpi(SM_CXSMICON, c.dpi), ui::SystemMetricForDpi(SM_CYSMICON, c.dpi),
             c.smallStep},
            {ICON_BIG, ui::SystemMetricForDpi(SM_CXICON, c.dpi), ui::SystemMetricForDpi(SM_CYICON, c.dpi), c.bigStep},
        };
        for (const auto& icon : icons) {
            auto shown = reinterpret_cast<HICON>(SendMessageW(Form(), WM_GETICON, icon.which, 0));
            ASSERT_NE(shown, nullptr) << icon.which;
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(shown, &info));
            UniqueGdiObject colour(info.hbmColor);
            UniqueGdiObject mask(info.hbmMask);
            BITMAP bitmap{};
            GetObjectW(colour.Get(), sizeof bitmap, &bitmap);
            EXPECT_EQ(bitmap.bmWidth, icon.width) << icon.which;
            EXPECT_EQ(bitmap.bmHeight, icon.height) << icon.which;
            UniqueIcon drawn(
                static_cast<HICON>(LoadImageW(resources.Get(), MAKEINTRESOURCEW(SCALED_PICTURE(picture, icon.step)),
                                              IMAGE_ICON, icon.width, icon.height, 0)));
            ASSERT_TRUE(drawn);
            const Pixels seen = IconPixels(shown, icon.width, icon.height);
            const Pixels expected = IconPixels(drawn.Get(), icon.width, icon.height);
            EXPECT_EQ(std::ranges::mismatch(seen.bits, expected.bits).in1 - seen.bits.begin(), std::ssize(seen.bits))
                << "icon " << icon.which << " is not the version drawn for step " << icon.step;
        }
    }
}

TEST_F(FormWindowTest, APictureMissingOrNotPackedIsAnError) {
    EXPECT_THROW(ui::LoadPackedBitmap(resources.Get(), 999), RuntimeError);
    try {
        ui::LoadPackedBitmap(resources.Get(), IDR_GLOBE_GIF);
        ADD_FAILURE() << "a GIF unpacked";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), ERROR_INVALID_DATA);
    }
}

TEST_F(FormWindowTest, EndCapIsTheRightEndOfTheFillPicture) {
    const Pixels bar = Picture(IDB_BAR_FILL);
    const Pixels cap = Picture(IDB_BAR_CAP);
    ASSERT_EQ(cap.width, 4);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(cap.At(x, y), bar.At(bar.width - 4 + x, y));
        }
    }
}

}  // namespace
}  // namespace tessaloom
