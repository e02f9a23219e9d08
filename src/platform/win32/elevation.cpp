// Elevation on Windows: a probe of the folder, the consent prompt through the
// shell's "runas", and the user's hive in place of the elevated account's.
#include "platform/elevation.h"

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/win32/token.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

bool CanElevate() { return true; }

bool FolderRefused(const std::string& folder) {
  // Where a new file or folder of the installation would be made first.
  std::string at = folder;
  while (!DirectoryExists(at)) {
    const std::string parent = text::ExtractFileDir(at);
    if (parent.empty() || parent == at) return false;
    at = parent;
  }
  const std::wstring probe = win32::LongPath(at + "\\~ORBAXLU" + NewGuidText() + ".tmp");
  win32::THandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,  // gone as it closes
                                    nullptr));
  return !file.Valid() && ::GetLastError() == ERROR_ACCESS_DENIED;
}

std::string CurrentUserSid() { return win32::UserSidText(); }

bool RunElevated(const std::vector<std::string>& arguments, uint32_t& exitStatus) {
  const std::string program = ProgramPath();
  const std::string parameters = JoinCommandLine(arguments);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // The process to wait for; no error box of the shell's own (the caller reports).
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  // An elevated program would start in the system's folder otherwise.
  char folder[MAX_PATH + 1] = "";
  const DWORD n = ::GetCurrentDirectoryA(sizeof folder, folder);
  info.lpDirectory = n > 0 && n < sizeof folder ? folder : nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExA(&info)) return false;
  if (!info.hProcess) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  win32::THandle process(info.hProcess);
  // The thread's windows stay answerable while it waits.
  HANDLE waited = process.Get();
  DWORD woken;
  while ((woken = ::MsgWaitForMultipleObjects(1, &waited, FALSE, INFINITE, QS_ALLINPUT)) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  if (woken != WAIT_OBJECT_0) ::WaitForSingleObject(waited, INFINITE);
  DWORD code = 1;
  if (!::GetExitCodeProcess(process.Get(), &code)) code = 1;
  exitStatus = code;
  return true;
}

bool ActForUser(const std::string& sid) {
  if (!IsSidText(sid)) {
    ::SetLastError(ERROR_INVALID_SID);
    return false;
  }
  // Kept open for the rest of the process: the override refers to it.
  HKEY hive = nullptr;
  LONG rc = ::RegOpenKeyExA(HKEY_USERS, sid.c_str(), 0, MAXIMUM_ALLOWED, &hive);
  if (rc == ERROR_SUCCESS) rc = ::RegOverridePredefKey(HKEY_CURRENT_USER, hive);
  ::SetLastError(static_cast<DWORD>(rc));
  return rc == ERROR_SUCCESS;
}

}  // namespace platform
