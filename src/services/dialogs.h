#pragma once
// Modal message boxes, owned by the window when it exists.

#include "core/seams.h"

namespace tessaloom {

class Win32Dialogs final : public Dialogs {
public:
    explicit Win32Dialogs(FormView& owner) : owner_(owner) {}
    void Message(const std::wstring& text, const std::wstring& caption) override;
    void Error(const std::wstring& text, const std::wstring& caption) override;

private:
    FormView& owner_;
};

}  // namespace tessaloom
