#pragma once
// The running process and the programs it starts, on Win32.

#include <memory>
#include <string>

#include "core/seams.h"
#include "win32/handles.h"

namespace tessaloom {

class ClaimServer;

class Win32Process final : public Process {
public:
    std::wstring CommandLine() override;
    std::wstring ApplicationFolder() override;
    std::wstring ExecutableName() override;
    std::wstring ProductName() override;
    std::wstring Version() override;
    std::wstring LocalTime() override;
    void Start(const std::wstring& commandLine) override;
    Claim ClaimApplicationFolder() override;
    void ReleaseApplicationFolder() override;
    void ActivateOtherInstance() override;

    Win32Process();
    ~Win32Process() override;
    Win32Process(const Win32Process&) = delete;
    Win32Process& operator=(const Win32Process&) = delete;

private:
    std::wstring ModulePath();
    std::wstring VersionString(const wchar_t* name);
    std::wstring modulePath_;             // asked once: it cannot change while we run
    std::unique_ptr<ClaimServer> claim_;  // held until released or the process ends
};

// The full path of a module, however long.
std::wstring ModuleFileName(void* module);

// The path of the executable a process runs, or the empty string.
std::wstring ProcessImage(HANDLE process);

// True when two paths name the same file as Windows compares names.
bool SamePath(const std::wstring& first, const std::wstring& second);

// The pipe whose first instance is the claim on an application folder, named
// after the folder (in upper case, hashed) and this session: updaters of
// other sessions claim other names.
std::wstring ClaimPipeName(const std::wstring& applicationFolder);

}  // namespace tessaloom
