#pragma once
// Shell folders and window text through the wide shell and window APIs.

#include "core/seams.h"

namespace tessaloom {

class Win32SpecialFolder final : public SpecialFolder {
public:
    void Display_About(std::uintptr_t Window_Handler, const std::wstring& Application_Title,
                       const std::wstring& Application_Creator, std::uintptr_t icon) override;
    std::wstring Return_Special_Path(std::uintptr_t Handle_Window, std::int32_t enum_SpecialDirectories) override;
    void set_Window_Caption(std::uintptr_t Window_Handler, const std::wstring& Window_Caption) override;
    std::pair<std::int32_t, std::wstring> FolderPathCreating(std::int32_t folderId) override;
};

}  // namespace tessaloom
