// System error codes and their texts.
#include <windows.h>

#include "platform/system.h"

namespace platform {

uint32_t LastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

std::string SysErrorMessage(uint32_t code) {
  char* text = nullptr;
  DWORD len =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,  // some texts hold %1 placeholders we cannot fill
                       nullptr, code,
                       0,                               // the user's language, falling back as the system sees fit
                       reinterpret_cast<char*>(&text),  // with ALLOCATE_BUFFER this receives a LocalAlloc'd text
                       0, nullptr);
  std::string result;
  if (len != 0 && text != nullptr) result.assign(text, len);
  if (text != nullptr) ::LocalFree(text);
  // The system ends its texts with CR LF (some with a blank before it).
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == ' ')) result.pop_back();
  if (result.empty()) result = "System error " + std::to_string(code);
  return result;
}

}  // namespace platform
