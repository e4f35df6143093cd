// The window answers throughout a walk that waits: for a file someone holds,
// for a copy from a slow drive, for the instance with administrator rights.
// Another thread asks it again and again whether it is alive, as the system
// does before it marks a window "Not Responding"; every question must be
// answered within a second. Meanwhile a click on "Update", Enter and the
// close box do nothing: the walk ends once, with every file new.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "harness.h"

namespace tessaloom::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t kTitle[] = L"Tessaloom UPDATES";

// Asks a window whether it is alive every 50 ms from a thread of its own.
class Poll {
public:
    explicit Poll(HWND window)
        : thread_([this, window] {
              while (!stop_) {
                  const auto start = Clock::now();
                  DWORD_PTR answer = 0;
                  if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) == 0) {
                      ++unanswered_;
                  }
                  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
                  slowest_ = std::max<long long>(slowest_, took.count());
                  ++polls_;
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~Poll() { Stop(); }
    Poll(const Poll&) = delete;
    Poll& operator=(const Poll&) = delete;

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    int Polls() const { return polls_; }
    int Unanswered() const { return unanswered_; }
    long long Slowest() const { return slowest_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> polls_{0};
    std::atomic<int> unanswered_{0};
    std::atomic<long long> slowest_{0};
    std::thread thread_;
};

HWND Focused(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Holds a file open without sharing, from now until `seconds` have passed.
class Hold {
public:
    Hold(const std::wstring& path, int seconds)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
          release_([this, seconds] {
              std::this_thread::sleep_for(std::chrono::seconds(seconds));
              CloseHandle(file_);
          }) {}
    ~Hold() { release_.join(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    bool Held() const { return file_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE file_;
    std::thread release_;
};

struct Slow {
    const char* what;
    const wchar_t* source;  // the folder that holds the update folder, or null for the usual one
    const wchar_t* app;     // the folder that holds the application folder, or null for the usual one
    std::size_t firstSize;  // of a.dll's new content
    bool elevated;          // applied by the instance with administrator rights
    int holdSeconds;        // a.dll of the application folder held this long
};

TEST(Responsiveness, TheWindowAnswersThroughoutAWalkThatWaitsAndInputMeanwhileDoesNothing) {
    const std::wstring slowDrive = std::wstring(TESSALOOM_BUILD_DIR) + L"\\slow-drive\\drive";
    const Slow cases[] = {
        {"a file held for 4 s", nullptr, nullptr, 1000, false, 4},
        {"a copy of 5 MiB from a drive of 768 KiB/s", slowDrive.c_str(), nullptr, 5 << 20, false, 0},
        {"a flush of 5 MiB to a drive of 768 KiB/s", nullptr, slowDrive.c_str(), 5 << 20, false, 0},
        {"an elevated instance that waits 4 s for a held file", nullptr, nullptr, 1000, true, 4},
    };
    for (const Slow& slow : cases) {
        SCOPED_TRACE(slow.what);
        if ((slow.source != nullptr || slow.app != nullptr) && !IsFile(slowDrive + L"\\mounted")) {
            std::printf("[  SKIPPED ] %s: no slow drive here (it needs FUSE and python3-fuse)\n", slow.what);
            continue;
        }
        Sandbox sandbox(L"slow", slow.app != nullptr ? slow.app : L"",
                        slow.source != nullptr ? slow.source
                        : slow.app != nullptr  ? TempFolder()
                                               : L"");
        sandbox.WriteUpdateList("path\r\na.dll\r\nb.dll\r\n");
        const std::string newA(slow.firstSize, 'A');
        sandbox.WriteNewFile(L"a.dll", newA);
        sandbox.WriteNewFile(L"b.dll", "new b");
        sandbox.WriteAppFile(L"a.dll", "old a");
        sandbox.WriteAppFile(L"b.dll", "old b");

        std::wstring program = sandbox.app + L"\\TessaloomUpdate.exe";
        if (slow.elevated) {
            program = sandbox.app + L"\\elevated_parent.exe";
            ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, program.c_str(), FALSE));
            SetEnvironmentVariableW(L"TESSALOOM_PARENT_WINDOW", L"1");
        }
        UpdaterRun run(program, L" " + sandbox.MainProgram(), sandbox.root);
        SetEnvironmentVariableW(L"TESSALOOM_PARENT_WINDOW", nullptr);
        HWND window = run.WaitForWindow(kTitle);
        ASSERT_NE(window, nullptr);
        HWND update = FindChild(window, L"Button", L"Update");

        std::optional<Hold> hold;
        if (slow.holdSeconds > 0) {
            hold.emplace(sandbox.app + L"\\a.dll", slow.holdSeconds);
            ASSERT_TRUE(hold->Held());
        }
        Poll poll(window);
        const auto pressed = Clock::now();
        Click(update);
        // Well into the wait: the inputs a person might try.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        Click(update);
        if (HWND focus = Focused(window); focus != nullptr) {
            PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 1);
            PostMessageW(focus, WM_KEYUP, VK_RETURN, 0xC0000001);
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (HWND early = run.WaitForMessageBox(std::chrono::milliseconds(0)); early != nullptr) {
            ADD_FAILURE() << "the walk was over too soon: " << testing::PrintToString(MessageBoxText(early));
        }

        HWND box = run.WaitForMessageBox(std::chrono::seconds(60));
        const auto walk = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
        poll.Stop();
        std::printf("  %s: walk %lld ms, %d polls, slowest answer %lld ms\n", slow.what,
                    static_cast<long long>(walk.count()), poll.Polls(), poll.Slowest());
        EXPECT_GT(walk, std::chrono::milliseconds(3000)) << "not slow enough to show anything";
        EXPECT_GT(poll.Polls(), 10);
        EXPECT_EQ(poll.Unanswered(), 0) << "slowest answer " << poll.Slowest() << " ms";
        EXPECT_TRUE(IsWindow(window)) << "the close box ended the walk's window";
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Tessaloom updated with success");
        DismissMessageBox(box);
        EXPECT_EQ(run.WaitForExit(), 0U);
        hold.reset();
        EXPECT_TRUE(ReadBytes(sandbox.app + L"\\a.dll") == newA) << "a.dll is not new";
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\b.dll"), "new b");
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\OLDa.dll"), "old a") << "a second walk backed the new file up";
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\OLDb.dll"), "old b");
        EXPECT_EQ(sandbox.Starts().size(), 1U);
    }
}

}  // namespace
}  // namespace tessaloom::test
