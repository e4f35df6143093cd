// Benchmarks of the real updater under Wine; each prints its figures.
//   bench.exe startup [launches]   no update list: updater against the null launcher
//   bench.exe discovery            32,766 listed names, all absent and all present: start to window shown
//   bench.exe apply [COUNTxKB] [updater.exe]
//                                  COUNT files of KB kilobytes (20x10000 unless said), each with a current
//                                  file: "Update" to the success message, against plain and flushed copies
//                                  and against the least transactional update (copy beside, flush, the
//                                  current file to its backup, the new one into place, file by file, then a
//                                  message box), median of 5 rounds; on the disk, then on a RAM disk (a
//                                  tmpfs that bench/run.sh mounts) where flushes cost nothing, so the
//                                  ratios are the updater's own overhead

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace tessaloom::test;
using Clock = std::chrono::steady_clock;

namespace {

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One launch from process creation to its end.
double TimeLaunch(const std::wstring& exe, const Sandbox& sandbox) {
    const auto start = Clock::now();
    UpdaterRun run(exe, L" " + sandbox.MainProgram(), sandbox.root);
    run.WaitForExit(std::chrono::seconds(30));
    return Milliseconds(Clock::now() - start);
}

int Startup(int launches) {
    Sandbox sandbox(L"bench");
    const std::wstring null = sandbox.app + L"\\null_launcher.exe";
    const std::wstring shell = sandbox.app + L"\\shell_launcher.exe";
    CopyFileW(TESSALOOM_NULL_LAUNCHER_EXE, null.c_str(), FALSE);
    CopyFileW(TESSALOOM_SHELL_LAUNCHER_EXE, shell.c_str(), FALSE);
    const std::wstring updater = sandbox.app + L"\\TessaloomUpdate.exe";
    const std::wstring programs[] = {updater, null, shell};
    std::vector<double> times[3];
    for (const std::wstring& program : programs) {
        TimeLaunch(program, sandbox);  // warm the file cache
    }
    for (int i = 0; i < launches; ++i) {  // interleaved, so drift hits all alike
        for (int p = 0; p < 3; ++p) {
            times[p].push_back(TimeLaunch(programs[p], sandbox));
        }
    }
    const double u = Median(times[0]);
    const double n = Median(times[1]);
    const double s = Median(times[2]);
    std::printf("startup: %d launches each, no update list, process start to end\n", launches);
    std::printf("  updater                     median %.2f ms\n", u);
    std::printf("  null launcher               median %.2f ms   updater/null  %.3f\n", n, u / n);
    std::printf("  null launcher + shell folder median %.2f ms   updater/shell %.3f\n", s, u / s);
    return 0;
}

double TimeToWindow(const Sandbox& sandbox) {
    const auto start = Clock::now();
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES", std::chrono::seconds(120));
    const double elapsed = Milliseconds(Clock::now() - start);
    if (window != nullptr) {
        Click(FindChild(window, L"Button", L"Cancel"));
    }
    run.WaitForExit();
    return window != nullptr ? elapsed : -1;
}

int Discovery() {
    constexpr int kNames = 32766;
    Sandbox sandbox(L"bench");
    std::string list = "path\r\n";
    for (int i = 1; i <= kNames; ++i) {
        list += "file" + std::to_string(i) + ".bin\r\n";
    }
    sandbox.WriteUpdateList(list);
    const double absent = TimeToWindow(sandbox);
    // Straight into the update folder, which is there by now: the harness's
    // WriteNewFile makes every folder on the way first, for each file.
    for (int i = 1; i <= kNames; ++i) {
        const std::wstring path = sandbox.UpdateFolder() + L"\\file" + std::to_wstring(i) + L".bin";
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, "x", 1, &written, nullptr);
        CloseHandle(file);
    }
    const double present = TimeToWindow(sandbox);
    std::printf("discovery: %d listed names, start to window shown\n", kNames);
    std::printf("  all absent  %.0f ms\n  all present %.0f ms\n", absent, present);
    return 0;
}

// Writes the host's dirty pages out, so no contender pays for another's.
void SyncHost() {
    UpdaterRun sync(L"Z:\\bin\\sync", L"", L"C:\\");
    sync.WaitForExit();
}

// The box is told by an event, not found by polling every window: on a
// machine of two cores such a poll every millisecond takes a good part of
// the processor from the updater it times.
HWND createdBox = nullptr;
void CALLBACK Created(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    if (object == OBJID_WINDOW && ClassName(window) == L"#32770") {
        createdBox = window;
    }
}

// Starts `action`, then waits for the message box `processId` shows next:
// the time between, or nothing after five minutes.
std::optional<double> TimeToMessageBox(const std::function<void()>& action, DWORD processId, HWND& box) {
    createdBox = nullptr;
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, &Created,
                                               processId, 0, WINEVENT_OUTOFCONTEXT);
    const auto start = Clock::now();
    const auto end = start + std::chrono::minutes(5);
    action();
    while (createdBox == nullptr && Clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    UnhookWinEvent(hook);
    // Made, then shown once its contents are laid out: one cheap question a millisecond.
    while (createdBox != nullptr && !IsWindowVisible(createdBox) && Clock::now() < end) {
        Sleep(1);
    }
    const double elapsed = Milliseconds(Clock::now() - start);
    box = createdBox;
    return box != nullptr && IsWindowVisible(box) ? std::optional(elapsed) : std::nullopt;
}

// Touches, then frees, more memory than a contender's copies take, so that
// each starts with memory freed a moment ago: memory left free for a while
// (here, while the updater starts and shows its window) is slower to hand
// out again, which cost the updater about 10 % on the RAM disk.
void WarmFreeMemory() {
    constexpr SIZE_T kBytes = 320 << 20;
    void* memory = VirtualAlloc(nullptr, kBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (memory != nullptr) {
        for (SIZE_T at = 0; at < kBytes; at += 4096) {
            static_cast<volatile char*>(memory)[at] = 1;
        }
        VirtualFree(memory, 0, MEM_RELEASE);
    }
}

// How many new files of what size.
struct Shape {
    int files = 20;
    int kilobytes = 10'000;
};

// The files of a shape, each with a current file, in a fresh sandbox.
struct ApplyRound {
    Shape shape;
    Sandbox sandbox;

    // `updater`, when given, replaces the updater of this build (to compare
    // builds); `parent` is the folder to work in, the temporary folder when empty.
    ApplyRound(Shape shape, const std::wstring& updater, const std::wstring& parent)
        : shape(shape), sandbox(L"bench", parent) {
        if (!updater.empty()) {
            CopyFileW(updater.c_str(), (sandbox.app + L"\\TessaloomUpdate.exe").c_str(), FALSE);
        }
        const std::string content(static_cast<std::size_t>(shape.kilobytes) * 1000, 'u');
        std::string list = "path\r\n";
        for (int i = 1; i <= shape.files; ++i) {
            list += "big" + std::to_string(i) + ".bin\r\n";
            sandbox.WriteNewFile(Name(i), content);
            sandbox.WriteAppFile(Name(i), "old");
        }
        sandbox.WriteUpdateList(list);
    }
    static std::wstring Name(int i) { return L"big" + std::to_wstring(i) + L".bin"; }

    // The least an all-or-nothing update with a kept backup must do: each
    // new file copied beside its namesake and flushed, then the current
    // file renamed to its backup and the new one into place, file by file,
    // then the message; timed until the message shows. Run in a copy of the
    // application folder, so the updater still finds the old files.
    std::optional<double> LeastTransactional() const {
        const std::wstring app = sandbox.root + L"\\least";
        MakeFolders(app);
        for (int i = 1; i <= shape.files; ++i) {
            CopyFileW((sandbox.app + L"\\" + Name(i)).c_str(), (app + L"\\" + Name(i)).c_str(), FALSE);
        }
        SyncHost();
        WarmFreeMemory();
        std::thread worker;
        HWND box = nullptr;
        const std::optional<double> elapsed = TimeToMessageBox(
            [&] {
                worker = std::thread([&] {
                    for (int i = 1; i <= shape.files; ++i) {
                        const std::wstring target = app + L"\\" + Name(i);
                        const std::wstring staged = target + L".new";
                        CopyFileW((sandbox.UpdateFolder() + L"\\" + Name(i)).c_str(), staged.c_str(), FALSE);
                        HANDLE file = CreateFileW(staged.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                        FlushFileBuffers(file);
                        CloseHandle(file);
                        MoveFileExW(target.c_str(), (app + L"\\OLD" + Name(i)).c_str(), MOVEFILE_WRITE_THROUGH);
                        MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
                    }
                    MessageBoxW(nullptr, L"Tessaloom updated with success", L"bench", MB_OK);
                });
            },
            GetCurrentProcessId(), box);
        if (box != nullptr) {
            DismissMessageBox(box);
        }
        worker.join();
        return elapsed;
    }

    // Copies of the same files into another folder, flushed or not.
    double Copies(const wchar_t* folder, bool durable) const {
        const std::wstring to = sandbox.root + L"\\" + folder;
        MakeFolders(to);
        SyncHost();
        WarmFreeMemory();
        const auto start = Clock::now();
        for (int i = 1; i <= shape.files; ++i) {
            const std::wstring target = to + L"\\" + Name(i);
            CopyFileW((sandbox.UpdateFolder() + L"\\" + Name(i)).c_str(), target.c_str(), FALSE);
            if (durable) {
                HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                FlushFileBuffers(file);
                CloseHandle(file);
            }
        }
        return Milliseconds(Clock::now() - start);
    }

    // From the press of "Update" to the success message, on one clock.
    std::optional<double> Updater() const {
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
        if (window == nullptr) {
            return std::nullopt;
        }
        HWND button = FindChild(window, L"Button", L"Update");
        SyncHost();
        // The window shows before its first paint is over: the press is timed
        // from the moment the updater reads its messages again.
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
        WarmFreeMemory();
        HWND box = nullptr;
        const std::optional<double> elapsed = TimeToMessageBox([&] { Click(button); }, run.ProcessId(), box);
        if (!elapsed) {
            return std::nullopt;
        }
        DismissMessageBox(box);
        run.WaitForExit();
        return elapsed;
    }
};

std::pair<double, double> Range(const std::vector<double>& values) {
    return {*std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end())};
}

int ApplyIn(Shape shape, const std::wstring& otherUpdater, const std::wstring& parent, const char* where) {
    constexpr int kRounds = 5;
    std::vector<double> updater, plain, durable, least, toPlain, toDurable, toLeast;
    for (int round = 0; round < kRounds; ++round) {
        const ApplyRound files(shape, otherUpdater, parent);
        plain.push_back(files.Copies(L"plain", false));
        durable.push_back(files.Copies(L"durable", true));
        const std::optional<double> transactional = files.LeastTransactional();
        const std::optional<double> applying = files.Updater();
        if (!applying || !transactional) {
            std::printf("apply: the %s did not finish\n", applying ? "least transactional update" : "updater");
            return 1;
        }
        updater.push_back(*applying);
        least.push_back(*transactional);
        toPlain.push_back(*applying / plain.back());
        toDurable.push_back(*applying / durable.back());
        toLeast.push_back(*applying / least.back());
    }
    std::printf("apply %s: %d files of %d KB, each with a current file; medians of %d rounds\n", where, shape.files,
                shape.kilobytes, kRounds);
    std::printf("  updater        %.0f ms (Update pressed to success message)\n", Median(updater));
    std::printf("  least transactional update %.0f ms (copy, flush, two renames a file, then a message box)\n",
                Median(least));
    std::printf("  plain copies   %.0f ms\n  durable copies %.0f ms\n", Median(plain), Median(durable));
    std::printf("  ratio to the least transactional update %.2f (rounds, updater/least ms:", Median(toLeast));
    for (std::size_t round = 0; round < toLeast.size(); ++round) {
        std::printf(" %.2f %.0f/%.0f", toLeast[round], updater[round], least[round]);
    }
    std::printf(")\n  ratio to plain %.2f, to durable %.2f (each taken within its round)\n", Median(toPlain),
                Median(toDurable));
    // On a shared machine a contender's writes to the disk can run several
    // times slower for a whole round: the range says how far to trust the medians.
    const auto [plainLow, plainHigh] = Range(toPlain);
    const auto [durableLow, durableHigh] = Range(toDurable);
    std::printf("  ratios ranged   to plain %.2f-%.2f, to durable %.2f-%.2f\n", plainLow, plainHigh, durableLow,
                durableHigh);
    return 0;
}

// "apply [COUNTxKB] [updater.exe]"
int Apply(int argc, wchar_t** argv) {
    Shape shape;
    std::wstring otherUpdater;
    for (int i = 2; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (const std::size_t x = argument.find(L'x'); x != std::wstring::npos && !argument.ends_with(L".exe")) {
            shape = {std::stoi(argument.substr(0, x)), std::stoi(argument.substr(x + 1))};
        } else {
            otherUpdater = argument;
        }
    }
    if (const int failed = ApplyIn(shape, otherUpdater, L"", "on disk")) {
        return failed;
    }
    const std::wstring ram = std::wstring(TESSALOOM_BUILD_DIR) + L"\\ram-drive";
    if (!IsFile(ram + L"\\mounted")) {
        std::printf(
            "apply on a RAM disk: skipped, no tmpfs at ram-drive in the build tree (bench/run.sh mounts one as root)\n");
        return 0;
    }
    return ApplyIn(shape, otherUpdater, ram, "on a RAM disk");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"startup") {
        return Startup(argc > 2 ? std::stoi(argv[2]) : 200);
    }
    if (what == L"discovery") {
        return Discovery();
    }
    if (what == L"apply") {
        return Apply(argc, argv);
    }
    std::fwprintf(stderr, L"usage: bench startup [launches] | discovery | apply [COUNTxKB] [updater.exe]\n");
    return 2;
}
