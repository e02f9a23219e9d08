// The Windows shell: shortcut files and the folder browser.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Writes a shell-link (.lnk) file. Returns whether it was saved.
bool SaveShellLink(const std::string& linkFile, const std::string& target, const std::string& arguments,
                   const std::string& workingFolder);
// Lets the user pick a folder ("" when cancelled or the item has no file-system path).
std::string BrowseForFolder(intptr_t ownerWindow, const std::string& title);

}  // namespace platform
