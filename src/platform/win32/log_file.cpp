// The log file on Windows: opened for appending only, so every write lands at
// the end whoever else appends, and shared for reading, writing and deleting so
// that support can read it, and it can be rotated, while a run holds it.
#include "platform/log_file.h"

#include <windows.h>

#include <cstdio>

namespace platform {

bool TLogFile::Open() {
  HANDLE h = ::CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS,  // create it unless it exists
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  size_ = ::GetFileSizeEx(h, &size) ? size.QuadPart : 0;
  handle_ = reinterpret_cast<intptr_t>(h);
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
