// GUIDs, clock, version, token privileges and restart.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "platform/system.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::THandle;

std::string NewGuidText() {
  GUID g;
  if (FAILED(::CoCreateGuid(&g))) throw EOSError("Cannot create a GUID", ::GetLastError());
  char text[39];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t PlatformId() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  // Only the platform family is asked for, which the deprecation does not touch.
  if (!::GetVersionExA(&info)) return VER_PLATFORM_WIN32_NT;
#pragma GCC diagnostic pop
  return info.dwPlatformId;
}

uint32_t SetPrivilege(const std::string& name, uint32_t attributes) {
  THandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) return 0;
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = attributes;
  if (!::LookupPrivilegeValueA(nullptr /* the local system */, name.c_str(), &wanted.Privileges[0].Luid)) {
    DWORD code = ::GetLastError();
    throw EOSError("Unknown privilege \"" + name + "\". " + SysErrorMessage(code), code);
  }
  TOKEN_PRIVILEGES previous{};
  DWORD previousSize = sizeof previous;
  if (!::AdjustTokenPrivileges(token.Get(),
                               FALSE,  // change only the privilege named, leave the others
                               &wanted, sizeof previous, &previous, &previousSize)) {
    DWORD code = ::GetLastError();
    throw EOSError("System Error.  Code: " + std::to_string(code) + ".\r\n" + SysErrorMessage(code), code);
  }
  // The previous state lists only what changed. When nothing did, the privilege
  // already had the attributes asked for, and giving them back keeps a later
  // restore from switching it off.
  if (previous.PrivilegeCount == 0) return attributes;
  return previous.Privileges[0].Attributes;
}

bool RequestRestart() {
  // Planned shutdown, major reason application, minor reason installation.
  constexpr DWORD kReason =
      SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION;  // 0x80040002
  static_assert(kReason == 0x80040002u);
  // EWX_FORCEIFHUNG: applications that do not answer are closed, the others asked.
  if (::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, kReason)) return true;
  // Where an interactive logoff is refused, the shutdown service may still take it.
  return ::InitiateSystemShutdownExA(nullptr /* this computer */, nullptr /* no message */, 0 /* at once */,
                                     FALSE /* ask applications with unsaved data */, TRUE /* reboot */,
                                     kReason) != FALSE;
}

}  // namespace platform

// ---------------------------------------------------------------- build and code page

namespace platform {

bool EmulatedMachine() { return false; }

bool UnicodeToAnsi(const std::u32string& unicode, std::string& ansi) {
  std::wstring wide;
  wide.reserve(unicode.size());
  for (char32_t c : unicode) {
    if (c >= 0x10000) {  // a surrogate pair in UTF-16
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  if (wide.empty()) {
    ansi.clear();
    return true;
  }
  const int length = static_cast<int>(wide.size());
  // WC_NO_BEST_FIT_CHARS: a character without a byte of its own is reported, never
  // replaced by a look-alike ("e" for an e with a mark the code page lacks).
  BOOL usedDefault = FALSE;
  const int size =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  std::string result(static_cast<size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, result.data(), size, nullptr,
                            &usedDefault) != size ||
      usedDefault)
    return false;
  ansi = std::move(result);
  return true;
}

}  // namespace platform
