#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>

#include "support/test_platform.h"

namespace platform {

bool SetEnv(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  // The process block serves child processes and GetEnvironmentVariable; the C
  // runtime keeps a copy of its own for getenv. Both must change.
  if (!::SetEnvironmentVariableA(name.c_str(), value.c_str())) return false;
  // The runtime cannot hold an empty value: "" removes its copy, so getenv then
  // answers NULL while the process block keeps the empty text.
  return ::_putenv_s(name.c_str(), value.c_str()) == 0;
}

bool UnsetEnv(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  ::SetEnvironmentVariableA(name.c_str(), nullptr);  // nullptr removes it
  return ::_putenv_s(name.c_str(), "") == 0;         // "" removes it from the runtime's copy
}

std::string ExecutableSuffix() { return ".exe"; }

uint32_t CreationMask() { return 0; }

bool OwnerOnlyFolder(const std::string& path, std::string& why) {
  const SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR sd = nullptr;
  char* text = nullptr;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, info, nullptr, nullptr, nullptr, nullptr, &sd) ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, info, &text, nullptr)) {
    why = "no security information";
    ::LocalFree(sd);
    return false;
  }
  why = text;
  ::LocalFree(text);
  ::LocalFree(sd);
  HANDLE token = nullptr;
  BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  TOKEN_ELEVATION elevation{};
  char* sid = nullptr;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  const bool elevated =
      ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
  const bool named = ::GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                     ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
  ::CloseHandle(token);
  if (!named) return false;
  const std::string mine = "(A;OICI;FA;;;" + std::string(sid) + ")", system = "(A;OICI;FA;;;SY)";
  ::LocalFree(sid);
  // Wine keeps no access lists of files: it answers from the Unix mode (SYSTEM
  // first, no protection, no label). What it answers must still name nobody else.
  if (::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version")) return why == "D:" + system + mine;
  return why == "D:P" + mine + system + (elevated ? "S:(ML;OICI;NW;;;HI)" : "");
}

void StopActingForUser() { ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr); }

}  // namespace platform
