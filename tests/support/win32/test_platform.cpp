#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdlib>
#include <string>

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

namespace {

// The reparse data of a junction (a mount point), as the file system keeps it.
struct TMountPoint {
  DWORD Tag;
  WORD DataLength;
  WORD Reserved;
  WORD SubstituteOffset, SubstituteLength, PrintOffset, PrintLength;
  WCHAR Names[1024];
};

std::wstring Wide(const std::string& s) {
  std::wstring w(s.size() + 1, L'\0');
  w.resize(static_cast<size_t>(::MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], static_cast<int>(w.size())) - 1));
  return w;
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE h = ::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const std::wstring substitute = L"\\??\\" + target;
  TMountPoint data{};
  data.Tag = IO_REPARSE_TAG_MOUNT_POINT;
  const size_t bytes = substitute.size() * sizeof(WCHAR);
  std::copy(substitute.begin(), substitute.end(), data.Names);
  std::copy(target.begin(), target.end(), data.Names + substitute.size() + 1);
  data.SubstituteLength = static_cast<WORD>(bytes);
  data.PrintOffset = static_cast<WORD>(bytes + sizeof(WCHAR));
  data.PrintLength = static_cast<WORD>(target.size() * sizeof(WCHAR));
  data.DataLength = static_cast<WORD>(8 + data.PrintOffset + data.PrintLength + sizeof(WCHAR));
  DWORD returned = 0;
  const BOOL made =
      ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &data, data.DataLength + 8, nullptr, 0, &returned, nullptr);
  ::CloseHandle(h);
  if (!made) ::RemoveDirectoryW(link.c_str());
  return made != FALSE;
}

}  // namespace

bool MakeLink(const std::string& link, const std::string& target, bool folder) {
  const std::wstring l = Wide(link), t = Wide(target);
  constexpr DWORD kFolder = 0x1 /* SYMBOLIC_LINK_FLAG_DIRECTORY */, kUnprivileged = 0x2;
  // Some systems answer the call and make nothing: what counts is a link there.
  if (::CreateSymbolicLinkW(l.c_str(), t.c_str(), (folder ? kFolder : 0) | kUnprivileged) &&
      ::GetFileAttributesW(l.c_str()) != INVALID_FILE_ATTRIBUTES)
    return true;
  return folder && MakeJunction(l, t);
}

void StopActingForUser() { ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr); }

}  // namespace platform
