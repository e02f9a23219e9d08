// The log file on Windows: opened for appending only, so every write lands at
// the end whoever else appends, and shared for reading, writing and deleting so
// that support can read it, and it can be rotated, while a run holds it. Made
// the user's alone; a link or a second name planted where it should be is
// refused, never written through.
#include "platform/log_file.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/token.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

bool TLogFile::Open() {
  win32::TOwnerOnlySecurity security;
  if (!security.Build()) return false;
  win32::THandle file(::CreateFileW(win32::LongPath(path_).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.Attributes(),
                                    OPEN_ALWAYS,  // create it unless it exists
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT /* the name itself */,
                                    nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) return false;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) || info.nNumberOfLinks > 1) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  LARGE_INTEGER size;
  size_ = ::GetFileSizeEx(file.Get(), &size) ? size.QuadPart : 0;
  handle_ = reinterpret_cast<intptr_t>(file.Release());
  return true;
}

bool TLogFile::Append(const std::string& bytes) {
  DWORD written = 0;
  return ::WriteFile(reinterpret_cast<HANDLE>(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written == bytes.size();
}

void TLogFile::Close() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  size_ = 0;
}

std::string LogTimeStamp() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  return text;
}

const char* LogLineEnd() { return "\r\n"; }

}  // namespace platform
