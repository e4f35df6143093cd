#include "ui/win32_form_window.h"

namespace tessaloom {

bool Win32FormWindow::PreTranslate(MSG& message) {
    return window_ != nullptr && IsDialogMessageW(window_, &message);
}

}  // namespace tessaloom
