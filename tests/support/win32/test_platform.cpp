#include <windows.h>
#include <aclapi.h>

#include <cstdlib>

#include "support/test_platform.h"

#include <memory>

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
  PACL dacl = nullptr, sacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, &sacl, &sd) != ERROR_SUCCESS) {
    why = "no security information";
    return false;
  }
  struct TLocalFree {
    void operator()(void* p) const { ::LocalFree(p); }
  };
  std::unique_ptr<void, TLocalFree> owned(sd);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(sd, &control, &revision);
  why.clear();
  // Wine keeps no access lists of files: it answers from the Unix mode, without
  // the protection flag or a label. What it answers must still name no one else.
  const bool wine = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  if (!wine && !(control & SE_DACL_PROTECTED)) why += "access list not protected; ";
  HANDLE token = nullptr;
  BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  TOKEN_ELEVATION elevation{};
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  ::GetTokenInformation(token, TokenUser, user, sizeof user, &size);
  const bool elevated =
      ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
  ::CloseHandle(token);
  BYTE system[SECURITY_MAX_SID_SIZE], high[SECURITY_MAX_SID_SIZE];
  DWORD systemSize = sizeof system, highSize = sizeof high;
  ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize);
  ::CreateWellKnownSid(WinHighLabelSid, nullptr, high, &highSize);
  // The user and SYSTEM, each allowed everything in the folder and all inside it.
  PSID owner = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  bool userSeen = false;
  for (WORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ::GetAce(dacl, i, reinterpret_cast<void**>(&ace));
    const PSID sid = reinterpret_cast<PSID>(&ace->SidStart);
    const bool mine = ::EqualSid(sid, owner), isSystem = ::EqualSid(sid, system);
    userSeen = userSeen || mine;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (!mine && !isSystem) || ace->Mask != FILE_ALL_ACCESS ||
        (ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) !=
            (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
      why += "entry " + std::to_string(i) + " is for someone else or another access; ";
  }
  if (!dacl || !userSeen) why += "no entry for the user; ";
  if (elevated && !wine) {
    SYSTEM_MANDATORY_LABEL_ACE* label = nullptr;
    if (!sacl || sacl->AceCount != 1 || !::GetAce(sacl, 0, reinterpret_cast<void**>(&label)) ||
        label->Header.AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE ||
        !::EqualSid(reinterpret_cast<PSID>(&label->SidStart), high) ||
        !(label->Mask & SYSTEM_MANDATORY_LABEL_NO_WRITE_UP))
      why += "no high label though elevated; ";
  }
  return why.empty();
}

}  // namespace platform
