// Locks of Win32: a mutex of the user's session, and files shared with nobody.
#include <windows.h>

#include <vector>

#include "platform/locks.h"
#include "platform/win32/token.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::THandle;

TUpdaterLock::~TUpdaterLock() {
  if (handle_ == 0) return;
  ::ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool TUpdaterLock::Acquire() {
  if (handle_ != 0) return true;
  // "Local\": the session's own namespace, where another user's processes do not
  // live; named with the user's SID, so that it is this user's updaters that
  // exclude each other. Owning it, not merely finding it, is what counts: a holder
  // that died leaves it abandoned, which is as good as free.
  const std::string sid = win32::UserSidText();
  if (sid.empty()) return false;
  const std::string name = "Local\\ORBAXLiveUpdate-" + sid;
  THandle mutex(::CreateMutexA(nullptr /* the user's default access, not inherited */, FALSE, name.c_str()));
  if (!mutex.Valid()) return false;  // ERROR_ACCESS_DENIED: one made by someone else, closed to us
  const DWORD waited = ::WaitForSingleObject(mutex.Get(), 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(mutex.Release());
  return true;
}

bool TFileLock::Acquire(const std::string& path) {
  if (handle_ != 0) return true;
  // Shared with nobody: a second updater's open fails with a sharing violation.
  // Deleted on close, so that a holder that dies leaves nothing behind; a link
  // planted at the name is opened (and so deleted) as itself.
  THandle file(::CreateFileW(
      win32::LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0 /* no sharing */, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) {
    if (::GetLastError() == ERROR_SHARING_VIOLATION) ::SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file.Release());
  return true;
}

void TFileLock::Release() {
  if (handle_ == 0) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = 0;
}

}  // namespace platform
