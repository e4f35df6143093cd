#pragma once
// The real window behind Form1.

#include <windows.h>

#include <functional>
#include <string_view>

#include "app/platform.h"

namespace tessaloom {

class Win32FormWindow final : public FormView {
public:
    explicit Win32FormWindow(HINSTANCE instance) : instance_(instance) {}
    // Called with "Command1" or "Command2" when a button is clicked.
    void OnClick(std::function<void(std::wstring_view)> handler) { onClick_ = std::move(handler); }
    // Lets the dialog manager handle keyboard navigation; true when it took the message.
    bool PreTranslate(MSG& message);

    std::uintptr_t Handle() override { return reinterpret_cast<std::uintptr_t>(window_); }
    void SetBackColor(ControlRef, std::uint32_t) override {}
    void SetBorderColor(ControlRef, std::uint32_t) override {}
    void ClearList() override {}
    void AddListLine(const std::wstring&) override {}
    int ListCount() override { return 0; }
    float Left(ControlRef) override { return 0; }
    float Width(ControlRef) override { return 0; }
    void SetLeft(ControlRef, float) override {}
    void SetWidth(ControlRef, float) override {}
    void SetVisible(ControlRef, bool) override {}
    void SetCaption(ControlRef, const std::wstring&) override {}
    void Show() override {}
    void Refresh() override {}
    void Unload() override {}

private:
    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::function<void(std::wstring_view)> onClick_;
};

}  // namespace tessaloom
