#include "ui/win32_form_window.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/resources/resource_ids.h"
#include "ui/win32_newer_api.h"
#include "win32/message_wait.h"
#include "win32/win32_error.h"
#include "win32/window_names.h"

namespace tessaloom {
namespace {

constexpr const wchar_t* kFormClass = kFormWindowClass;
constexpr wchar_t kPanelClass[] = L"TessaloomUpdatePanel";
// Fixed single border with title, system menu and close box; no sizing, no
// minimize or maximize box.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;
// Child windows' identifiers: the control's position in the table plus this.
// Well above IDOK and IDCANCEL, which the dialog manager sends for Enter and
// Escape: Enter presses the focused button, Escape does nothing.
constexpr int kFirstChildId = 100;

// What the progress row shows: the fill within its track, and the file's name.
constexpr ControlRef kProgressRow{L"Shape1_up", 1};
// The list's heading, painted above it: the list's name for a reader.
constexpr ControlRef kListHeading{L"npercent_txt_up", 3};

using ui::RectHeight;
using ui::RectWidth;

// The outer size of a window whose client area has the table's size.
SIZE FrameSize(const ui::ControlState& form, int dpi) {
    RECT frame{0, 0, ui::TwipsToPixels(form.width, dpi), ui::TwipsToPixels(form.height, dpi)};
    if (!ui::AdjustWindowRectForDpi(frame, kFormStyle, kFormExStyle, dpi)) {
        throw LastError();
    }
    return {RectWidth(frame), RectHeight(frame)};
}

template <typename Self>
Self* Instance(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<Self*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void RegisterClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, name, &existing)) {
        return;
    }
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = name;
    if (RegisterClassExW(&windowClass) == 0) {
        throw LastError();
    }
}

}  // namespace

Win32FormWindow::Win32FormWindow(HINSTANCE instance, HMODULE resources)
    : instance_(instance),
      resources_(resources != nullptr ? resources : instance),
      model_([this](const ui::ControlRow& row, std::wstring_view text) {
          if (!paint_.HasFonts()) {
              paint_.UseDpi(window_ ? ui::WindowDpi(window_.Get()) : ui::SystemDpi());
          }
          return ui::MeasureText(paint_, row, text);
      }) {}

bool Win32FormWindow::PreTranslate(MSG& message) { return window_ && IsDialogMessageW(window_.Get(), &message); }

// --- operations -----------------------------------------------------------

template <typename Operation>
void Win32FormWindow::Change(ControlRef control, Operation operation) {
    const std::size_t position = model_.IndexOf(control);
    const RECT before = ui::PixelRect(model_.Controls()[position], paint_.Dpi());
    operation();
    if (window_) {
        Sync(position, before);
    }
}

void Win32FormWindow::SetBackColor(ControlRef control, std::uint32_t colour) {
    Change(control, [&] { model_.SetBackColor(control, colour); });
}

void Win32FormWindow::SetBorderColor(ControlRef control, std::uint32_t colour) {
    Change(control, [&] { model_.SetBorderColor(control, colour); });
}

void Win32FormWindow::SetLeft(ControlRef control, float twips) {
    Change(control, [&] { model_.SetLeft(control, twips); });
}

void Win32FormWindow::SetWidth(ControlRef control, float twips) {
    Change(control, [&] { model_.SetWidth(control, twips); });
}

void Win32FormWindow::SetVisible(ControlRef control, bool visible) {
    Change(control, [&] { model_.SetVisible(control, visible); });
}

void Win32FormWindow::SetCaption(ControlRef control, const std::wstring& caption) {
    Change(control, [&] { model_.SetCaption(control, caption); });
}

void Win32FormWindow::ClearList() {
    model_.ClearList();
    if (HWND list = ListWindow(); list != nullptr) {
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
    }
}

void Win32FormWindow::AddListLine(const std::wstring& line) {
    if (HWND list = ListWindow(); list != nullptr) {
        const LRESULT added = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        if (added == LB_ERR || added == LB_ERRSPACE) {
            throw RuntimeError(kErrOutOfMemory, L"Out of memory");
        }
    }
    model_.AddListLine(line);
}

void Win32FormWindow::Show() {
    const bool first = !window_;
    if (first) {
        Create();
    }
    model_.Show();
    HWND window = window_.Get();
    if (first) {
        ShowWindow(window, SW_SHOWNORMAL);
        SetForegroundWindow(window);
        SetFocus(focus_);
        Paint();
    } else if (!IsWindowVisible(window)) {
        ShowWindow(window, SW_SHOW);
        Paint();
    }
}

void Win32FormWindow::Refresh() {
    // A walk of small files moves the bar far faster than anyone can see, and
    // each paint costs about as much as copying a megabyte: about 33 a second
    // show every change a person could follow, and the input read as often
    // keeps the window answering.
    if (!window_ || GetTickCount64() - painted_ < kPaintInterval) {
        return;
    }
    Paint();
    // Whatever else waits is read too, so the window can be moved and answers
    // while the work goes on; a button's work is under way, so input that
    // would start or end work does nothing (see OnCommand and WM_CLOSE).
    if (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0) {
        DispatchWaitingMessages(Painting::kLeave);
    }
}

void Win32FormWindow::Paint() {
    if (window_) {
        Invalidate();
        // Sends WM_PAINT now to the window and every child that needs it.
        RedrawWindow(window_.Get(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        painted_ = GetTickCount64();
    }
}

// Marks what changed in painted controls for the next paint, and tells
// readers of the progress row's changes.
void Win32FormWindow::Invalidate() {
    if (!window_) {
        return;
    }
    for (std::size_t i = 0; i < unpainted_.size(); ++i) {
        if (unpainted_[i].left < unpainted_[i].right) {
            // The form is the one container without a child window of its own.
            InvalidateRect(children_[i] != nullptr ? children_[i] : window_.Get(), &unpainted_[i], FALSE);
            unpainted_[i] = {};
        }
    }
    if (std::exchange(untoldValue_, false)) {
        NotifyProgress(model_.At(kFill));
    }
    if (std::exchange(untoldName_, false)) {
        NotifyProgress(model_.At(kFileLabel));
    }
}

void Win32FormWindow::Unload() {
    model_.Unload();
    window_.Reset();
    PostQuitMessage(0);
}

// --- the real window ------------------------------------------------------

void Win32FormWindow::Create() {
    ui::LoadCommonControls();
    RegisterClass(instance_, kFormClass, FormProc);
    RegisterClass(instance_, kPanelClass, PanelProc);
    paint_.UsePictures(resources_);
    const ui::ControlState& form = model_.At({ui::kFormName});
    // Created hidden; sized and centred below, once its DPI is known.
    window_.Reset(CreateWindowExW(kFormExStyle, kFormClass, form.caption.c_str(), kFormStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this));
    if (!window_) {
        throw LastError();
    }
    try {
        const int dpi = ui::WindowDpi(window_.Get());
        paint_.UseDpi(dpi);
        model_.FitAutoSizeLabels();
        CentreOnScreen(dpi);
        LoadIcons(dpi);
        CreateChildren();
        focus_ = ListWindow();
    } catch (...) {
        window_.Reset();
        throw;
    }
}

void Win32FormWindow::CentreOnScreen(int dpi) {
    HWND window = window_.Get();
    const SIZE frame = FrameSize(model_.At({ui::kFormName}), dpi);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        throw LastError();
    }
    const RECT& work = monitor.rcWork;
    SetWindowPos(window, nullptr, work.left + (RectWidth(work) - frame.cx) / 2,
                 work.top + (RectHeight(work) - frame.cy) / 2, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The title bar's and the task switcher's icons, at the sizes the system uses at a DPI.
void Win32FormWindow::LoadIcons(int dpi) {
    const int picture = model_.At({ui::kFormName}).row->picture;
    auto icon = [&](int width, int height) {
        // The version drawn nearest the size: the icon has 16 pixels at 96 DPI.
        const int step = ui::PictureScaleStep(width * 96 / 16);
        UniqueIcon loaded(static_cast<HICON>(
            LoadImageW(resources_, MAKEINTRESOURCEW(SCALED_PICTURE(picture, step)), IMAGE_ICON, width, height, 0)));
        if (!loaded) {
            throw LastError();
        }
        return loaded;
    };
    smallIcon_ = icon(ui::SystemMetricForDpi(SM_CXSMICON, dpi), ui::SystemMetricForDpi(SM_CYSMICON, dpi));
    bigIcon_ = icon(ui::SystemMetricForDpi(SM_CXICON, dpi), ui::SystemMetricForDpi(SM_CYICON, dpi));
    SendMessageW(window_.Get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
    SendMessageW(window_.Get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
}

// Child windows in tab order, which is also the order the dialog manager
// walks; the panel comes before the list it holds.
void Win32FormWindow::CreateChildren() {
    const auto controls = model_.Controls();
    children_.assign(controls.size(), nullptr);
    unpainted_.assign(controls.size(), RECT{});
    std::vector<int> order;  // of int, as other lists of numbers are: one copy of their code
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (ui::IsWindowed(controls[i].row->kind)) {
            order.push_back(static_cast<int>(i));
        }
    }
    std::ranges::sort(order, {}, [&](int i) { return controls[static_cast<std::size_t>(i)].row->tabIndex; });
    for (const int position : order) {
        CreateChild(static_cast<std::size_t>(position));
    }
}

void Win32FormWindow::CreateChild(std::size_t position) {
    const ui::ControlState& state = model_.Controls()[position];
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (state.visible ? WS_VISIBLE : 0);
    DWORD exStyle = 0;
    const wchar_t* windowClass = nullptr;
    switch (state.row->kind) {
    case ui::ControlKind::Button:
        windowClass = L"BUTTON";
        style |= WS_TABSTOP | BS_OWNERDRAW;  // drawn here, so the face takes the back colour
        break;
    case ui::ControlKind::Panel:
        windowClass = kPanelClass;
        style |= WS_CLIPCHILDREN;
        exStyle |= WS_EX_CONTROLPARENT;  // the dialog manager tabs into it
        break;
    case ui::ControlKind::ListBox:
        windowClass = L"LISTBOX";
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    default:
        return;
    }
    const RECT r = ui::PixelRect(state, paint_.Dpi());
    HWND child =
        CreateWindowExW(exStyle, windowClass, state.caption.c_str(), style, r.left, r.top, RectWidth(r), RectHeight(r),
                        ContainerWindow(state.row->container),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstChildId + position)), instance_, this);
    if (child == nullptr) {
        throw LastError();
    }
    children_[position] = child;
    if (state.row->font != ui::FontStyle::None) {
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(paint_.Font(state.row->font)), FALSE);
    }
    if (!state.lines.empty()) {
        // One allocation and one redraw for the whole list, however long.
        std::size_t characters = 0;
        for (const std::wstring& line : state.lines) {
            characters += line.size() + 1;
        }
        SendMessageW(child, WM_SETREDRAW, FALSE, 0);
        SendMessageW(child, LB_INITSTORAGE, state.lines.size(), static_cast<LPARAM>(characters * sizeof(wchar_t)));
        for (const std::wstring& line : state.lines) {
            SendMessageW(child, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        }
        SendMessageW(child, WM_SETREDRAW, TRUE, 0);
    }
    // Subclassed last: every message through a subclass costs, and a long
    // list sends one per line.
    if (state.row->kind != ui::ControlKind::Panel) {
        ui::SubclassWindow(child, ChildProc, position, reinterpret_cast<DWORD_PTR>(this));
    }
}

// Puts every child window where the model says, at a DPI, in its font.
void Win32FormWindow::Place(int dpi) {
    const auto controls = model_.Controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (HWND child = children_[i]; child != nullptr) {
            const RECT r = ui::PixelRect(controls[i], dpi);
            SetWindowPos(child, nullptr, r.left, r.top, RectWidth(r), RectHeight(r), SWP_NOZORDER | SWP_NOACTIVATE);
            if (controls[i].row->font != ui::FontStyle::None) {
                SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(paint_.Font(controls[i].row->font)), TRUE);
            }
        }
    }
}

void Win32FormWindow::Sync(std::size_t position, const RECT& before) {
    const ui::ControlState& state = model_.Controls()[position];
    const ui::ControlKind kind = state.row->kind;
    if (kind == ui::ControlKind::Window) {
        SetWindowTextW(window_.Get(), state.caption.c_str());
        InvalidateRect(window_.Get(), nullptr, FALSE);
        return;
    }
    const RECT after = ui::PixelRect(state, paint_.Dpi());
    if (HWND child = children_[position]; child != nullptr) {
        SetWindowPos(child, nullptr, after.left, after.top, RectWidth(after), RectHeight(after),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (kind != ui::ControlKind::ListBox) {
            SetWindowTextW(child, state.caption.c_str());
        }
        ShowWindow(child, state.visible ? SW_SHOWNA : SW_HIDE);
        InvalidateRect(child, nullptr, FALSE);
        return;
    }
    const std::size_t container = model_.IndexOf({state.row->container});
    PutOff(container, before);
    PutOff(container, after);
    untoldValue_ = untoldValue_ || &state == &model_.At(kFill);
    untoldName_ = untoldName_ || &state == &model_.At(kFileLabel);
    if (!busy_) {
        Invalidate();  // no work under way: the message loop paints it
    }
}

// Adds an area of a container to what the next paint redraws.
void Win32FormWindow::PutOff(std::size_t container, const RECT& area) {
    UnionRect(&unpainted_[container], &unpainted_[container], &area);
}

// Tells readers that the progress row's value or name changed.
void Win32FormWindow::NotifyProgress(const ui::ControlState& state) {
    const bool value = &state == &model_.At(kFill);
    if (!value && &state != &model_.At(kFileLabel)) {
        return;
    }
    // The row is the panel's child after its child windows.
    const auto controls = model_.Controls();
    LONG id = 1;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        id += children_[i] != nullptr && controls[i].row->container == state.row->container ? 1 : 0;
    }
    NotifyWinEvent(value ? EVENT_OBJECT_VALUECHANGE : EVENT_OBJECT_NAMECHANGE, ContainerWindow(state.row->container),
                   OBJID_CLIENT, id);
}

ui::ProgressReading Win32FormWindow::Progress(HWND panel) const {
    const ui::ControlState& label = model_.At(kFileLabel);
    const float track = model_.At(kTrack).width;
    ui::ProgressReading reading;
    reading.name = label.caption.substr(0, label.caption.find_last_not_of(L' ') + 1);
    reading.percent = track > 0 ? static_cast<int>(std::lround(100.0 * model_.At(kFill).width / track)) : 0;
    reading.percent = std::clamp(reading.percent, 0, 100);
    reading.screen = ui::PixelRect(model_.At(kProgressRow), paint_.Dpi());
    MapWindowPoints(panel, nullptr, reinterpret_cast<POINT*>(&reading.screen), 2);
    reading.visible = model_.At(kProgressRow).visible && IsWindowVisible(panel);
    return reading;
}

HWND Win32FormWindow::ContainerWindow(std::wstring_view container) const {
    if (container == ui::kFormName) {
        return window_.Get();
    }
    return children_[model_.IndexOf({container})];
}

HWND Win32FormWindow::ListWindow() const {
    if (!window_) {
        return nullptr;
    }
    return children_[model_.IndexOf(kList)];
}

// --- messages ---------------------------------------------------------------

LRESULT CALLBACK Win32FormWindow::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* self = Instance<Win32FormWindow>(window, message, lParam);
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->OnFormMessage(window, message, wParam, lParam);
}

LRESULT Win32FormWindow::OnFormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        ui::PaintWindow(window, model_, ui::kFormName, paint_);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel
    case WM_DRAWITEM:
        if (OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
            return TRUE;
        }
        break;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_ACTIVATE:
        OnActivate(window, LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_CLOSE:
        // The close box, Alt+F4 and the system menu. While a button's work
        // runs (an update being applied) the window stays: the work ends it.
        if (!busy_) {
            Unload();  // no handler of the flow runs: the target is not started
        }
        return 0;
    case WM_DPICHANGED:
        OnDpiChanged(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_NCDESTROY:
        // The window and its children are gone, whoever destroyed them.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        window_.Release();
        std::ranges::fill(children_, nullptr);
        std::ranges::fill(unpainted_, RECT{});
        untoldValue_ = untoldName_ = false;
        focus_ = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool Win32FormWindow::OnDrawItem(const DRAWITEMSTRUCT& item) {
    const std::size_t position = item.CtlID - kFirstChildId;
    if (item.CtlType != ODT_BUTTON || position >= children_.size()) {
        return false;
    }
    ui::DrawGraphicalButton(item, model_.Controls()[position], paint_);
    return true;
}

void Win32FormWindow::OnCommand(WORD id, WORD code) {
    if (id == IDOK) {
        // Enter, as the dialog manager reports it: it presses the focused
        // push button, as Space does. There is no default button.
        if (const std::size_t position = FocusedButton(); position < children_.size()) {
            id = static_cast<WORD>(kFirstChildId + position);
            code = BN_CLICKED;
        }
    }
    const std::size_t position = static_cast<std::size_t>(id) - kFirstChildId;
    if (code == BN_CLICKED && position < children_.size() &&
        model_.Controls()[position].row->kind == ui::ControlKind::Button && onClick_ && !busy_) {
        // The work reads messages as it goes: until it ends, clicks, keys
        // and the close box do nothing, and the close box says so.
        busy_ = true;
        EnableClose(false);
        painted_ = 0;  // the work's first Refresh paints and reads at once
        onClick_(model_.Controls()[position].row->name);  // may unload the window
        EnableClose(true);
        busy_ = false;
        Invalidate();  // what the work's last Refresh put off
    }
    // Anything else, among others IDCANCEL from Escape: nothing to do.
}

void Win32FormWindow::EnableClose(bool enabled) {
    if (window_) {
        EnableMenuItem(GetSystemMenu(window_.Get(), FALSE), SC_CLOSE,
                       MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

// The position of the button that has the focus, or past the end when none has.
std::size_t Win32FormWindow::FocusedButton() const {
    HWND focus = GetFocus();
    const auto controls = model_.Controls();
    for (std::size_t i = 0; i < children_.size(); ++i) {
        if (focus != nullptr && children_[i] == focus && controls[i].row->kind == ui::ControlKind::Button) {
            return i;
        }
    }
    return children_.size();
}

// Keeps the focus where the user left it when the window is deactivated and
// gives it back on activation.
void Win32FormWindow::OnActivate(HWND window, bool active) {
    if (!active) {
        if (HWND focus = GetFocus(); focus != nullptr && IsChild(window, focus)) {
            focus_ = focus;
        }
    } else if (focus_ != nullptr && IsWindow(focus_)) {
        SetFocus(focus_);
    }
}

// The window moved to a monitor of another DPI: everything again at that DPI.
void Win32FormWindow::OnDpiChanged(HWND window, int dpi, const RECT& suggested) {
    try {
        paint_.UseDpi(dpi);
        model_.FitAutoSizeLabels();
        const SIZE frame = FrameSize(model_.At({ui::kFormName}), dpi);
        SetWindowPos(window, nullptr, suggested.left, suggested.top, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        LoadIcons(dpi);
    } catch (const RuntimeError&) {
        // Without fonts for the new DPI the window keeps the old scale.
    }
    Place(paint_.Dpi());
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

LRESULT CALLBACK Win32FormWindow::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* self = Instance<Win32FormWindow>(window, message, lParam);
    if (self != nullptr) {
        switch (message) {
        case WM_PAINT: {
            const std::size_t position = static_cast<std::size_t>(GetDlgCtrlID(window)) - kFirstChildId;
            ui::PaintWindow(window, self->model_, self->model_.Controls()[position].row->name, self->paint_);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_COMMAND:
        case WM_DRAWITEM:
            // Notifications of controls in the panel are the window's business.
            return SendMessageW(GetParent(window), message, wParam, lParam);
        case WM_GETOBJECT: {
            // The panel's caption is never shown, so it is no name; the
            // painted progress row is a progress bar inside it.
            ui::AccessibleChanges changes;
            changes.name = std::wstring();
            changes.progress = [self, window] { return self->Progress(window); };
            if (auto answer = ui::AnswerGetObject(window, wParam, lParam, std::move(changes))) {
                return *answer;
            }
            break;
        }
        default:
            break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The buttons and the list: their standard accessible objects, named and
// given their roles here, as a system with only generic objects needs.
LRESULT CALLBACK Win32FormWindow::ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR position,
                                            DWORD_PTR self) noexcept {
    if (message == WM_GETOBJECT) {
        const auto& form = *reinterpret_cast<const Win32FormWindow*>(self);
        ui::AccessibleChanges changes;
        if (form.model_.Controls()[position].row->kind == ui::ControlKind::ListBox) {
            changes.name = form.model_.At(kListHeading).caption;  // the heading painted above it
            changes.role = ROLE_SYSTEM_LIST;
        } else {
            changes.role = ROLE_SYSTEM_PUSHBUTTON;  // named by its caption
        }
        if (auto answer = ui::AnswerGetObject(window, wParam, lParam, std::move(changes))) {
            return *answer;
        }
    } else if (message == WM_NCDESTROY) {
        ui::RemoveSubclass(window, ChildProc, position);
    }
    return ui::DefaultSubclassProc(window, message, wParam, lParam);
}

}  // namespace tessaloom
