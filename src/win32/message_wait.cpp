#include "win32/message_wait.h"

#include <optional>

#include "win32/win32_error.h"

namespace tessaloom {
namespace {

// Dispatches every message waiting for this thread. A WM_QUIT is kept for
// the caller to post again once it has finished waiting: posted again at
// once, it would be read again at once.
void DispatchAll(std::optional<WPARAM>& quit, Painting painting = Painting::kDo) {
    const UINT which = painting == Painting::kDo ? 0 : PM_QS_INPUT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | which)) {
        if (message.message == WM_QUIT) {
            quit = message.wParam;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Posts a WM_QUIT that was read while waiting again when it goes.
class QuitKeeper {
public:
    QuitKeeper() = default;
    ~QuitKeeper() {
        if (quit) {
            PostQuitMessage(static_cast<int>(*quit));
        }
    }
    QuitKeeper(const QuitKeeper&) = delete;
    QuitKeeper& operator=(const QuitKeeper&) = delete;

    std::optional<WPARAM> quit;
};

}  // namespace

std::size_t WaitDispatching(std::span<const HANDLE> handles, DWORD milliseconds) {
    const DWORD count = static_cast<DWORD>(handles.size());
    const ULONGLONG start = GetTickCount64();
    QuitKeeper keeper;
    for (;;) {
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            left = elapsed >= milliseconds ? 0 : static_cast<DWORD>(milliseconds - elapsed);
        }
        // MWMO_INPUTAVAILABLE: messages that arrived before the wait, and were
        // only looked at, count too.
        const DWORD result = MsgWaitForMultipleObjectsEx(count, handles.data(), left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result < WAIT_OBJECT_0 + count) {
            return result - WAIT_OBJECT_0;
        }
        if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) {
            return result - WAIT_ABANDONED_0;
        }
        if (result == WAIT_OBJECT_0 + count) {
            DispatchAll(keeper.quit);
            continue;
        }
        if (result == WAIT_TIMEOUT) {
            return handles.size();
        }
        throw LastError();
    }
}

void DispatchWaitingMessages(Painting painting) {
    QuitKeeper keeper;
    DispatchAll(keeper.quit, painting);
}

}  // namespace tessaloom
