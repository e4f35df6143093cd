#pragma once
// The running process and the programs it starts, on Win32.

#include "core/seams.h"
#include "win32/handles.h"

namespace tessaloom {

class Win32Process final : public Process {
public:
    std::wstring CommandLine() override;
    std::wstring ApplicationFolder() override;
    std::wstring ExecutableName() override;
    std::wstring ProductName() override;
    std::wstring Version() override;
    std::wstring LocalTime() override;
    void Start(const std::wstring& commandLine) override;
    bool ClaimApplicationFolder() override;
    void ReleaseApplicationFolder() override { claim_.Reset(); }
    void ActivateOtherInstance() override;

private:
    std::wstring ModulePath();
    std::wstring VersionString(const wchar_t* name);
    std::wstring modulePath_;   // asked once: it cannot change while we run
    UniqueKernelHandle claim_;  // held until released or the process ends
};

// The full path of a module, however long.
std::wstring ModuleFileName(void* module);

}  // namespace tessaloom
