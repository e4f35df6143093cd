#pragma once
// The real window behind Form1. Until Show() everything lives in the model
// of the control states and no window exists; Show() creates the window and
// its child windows (buttons, panel, list box) from the layout table, and
// from then on every operation updates both the model and the screen.
// Labels, pictures and shapes are painted by their container from the model.

#include <windows.h>

#include <functional>
#include <string_view>
#include <vector>

#include "core/seams.h"
#include "ui/form_model.h"
#include "ui/win32_accessibility.h"
#include "ui/win32_paint.h"
#include "win32/handles.h"

namespace tessaloom {

class Win32FormWindow final : public FormView {
public:
    // `resources` is the module holding the icons and pictures; null means `instance`.
    explicit Win32FormWindow(HINSTANCE instance, HMODULE resources = nullptr);
    ~Win32FormWindow() override = default;
    Win32FormWindow(const Win32FormWindow&) = delete;
    Win32FormWindow& operator=(const Win32FormWindow&) = delete;

    // Called with "Command1" or "Command2" when a button is clicked.
    void OnClick(std::function<void(std::wstring_view)> handler) { onClick_ = std::move(handler); }
    // Lets the dialog manager handle keyboard navigation; true when it took the message.
    bool PreTranslate(MSG& message);

    std::uintptr_t Handle() override { return reinterpret_cast<std::uintptr_t>(window_.Get()); }
    void SetBackColor(ControlRef control, std::uint32_t colour) override;
    void SetBorderColor(ControlRef control, std::uint32_t colour) override;
    void ClearList() override;
    void AddListLine(const std::wstring& line) override;
    int ListCount() override { return model_.ListCount(); }
    float Left(ControlRef control) override { return model_.Left(control); }
    float Width(ControlRef control) override { return model_.Width(control); }
    void SetLeft(ControlRef control, float twips) override;
    void SetWidth(ControlRef control, float twips) override;
    void SetVisible(ControlRef control, bool visible) override;
    void SetCaption(ControlRef control, const std::wstring& caption) override;
    // Creates the window on first use, centred on the screen, and shows it
    // with the focus in the list.
    void Show() override;
    // At most every kPaintInterval milliseconds, paints what changed and
    // dispatches the messages waiting for the window's thread: what changed
    // meanwhile is painted by the next call, or by the next message loop.
    void Refresh() override;
    // Paints what changed and tells readers of the progress row's changes.
    void Paint() override;
    // Destroys the window, if any, and ends the message loop.
    void Unload() override;

private:
    static constexpr ULONGLONG kPaintInterval = 30;

    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    static LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR self) noexcept;
    [[nodiscard]] ui::ProgressReading Progress(HWND panel) const;
    void NotifyProgress(const ui::ControlState& state);
    LRESULT OnFormMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool OnDrawItem(const DRAWITEMSTRUCT& item);
    void OnCommand(WORD id, WORD code);
    void OnActivate(HWND window, bool active);
    [[nodiscard]] std::size_t FocusedButton() const;
    void EnableClose(bool enabled);
    void OnDpiChanged(HWND window, int dpi, const RECT& suggested);
    void Create();
    void CentreOnScreen(int dpi);
    void LoadIcons(int dpi);
    void CreateChildren();
    void CreateChild(std::size_t position);
    void Place(int dpi);
    [[nodiscard]] HWND ContainerWindow(std::wstring_view container) const;
    [[nodiscard]] HWND ListWindow() const;
    template <typename Operation>
    void Change(ControlRef control, Operation operation);
    void Sync(std::size_t position, const RECT& before);
    void PutOff(std::size_t container, const RECT& area);
    void Invalidate();

    HINSTANCE instance_;
    HMODULE resources_;
    std::function<void(std::wstring_view)> onClick_;
    ui::PaintResources paint_;
    ui::FormModel model_;
    UniqueIcon smallIcon_;
    UniqueIcon bigIcon_;
    // One slot per control of the model: its child window, or null. The
    // windows belong to window_ and go with it.
    std::vector<HWND> children_;
    HWND focus_ = nullptr;   // the control to give the focus back to on activation
    bool busy_ = false;      // a button's work is under way
    ULONGLONG painted_ = 0;  // when Paint last ran (GetTickCount64)
    // While a button's work runs: what changed in painted controls since the
    // last paint, by the position of their container, and whether readers
    // are yet to be told of the progress row's changes. Each change asks the
    // window server, so a walk of small files that moves the bar a thousand
    // times a second asks it only when painting.
    std::vector<RECT> unpainted_;
    bool untoldValue_ = false;
    bool untoldName_ = false;
    // Last, so the window goes before the fonts and pictures it uses.
    UniqueWindow window_;
};

}  // namespace tessaloom
