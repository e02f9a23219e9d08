// A run's own folder on Windows: an access list of the user and SYSTEM alone,
// protected from what the temporary folder would pass down, inherited by all that
// is made inside; under elevation also a high integrity label, since the user's
// own programs at medium integrity would otherwise pass that list.
#include <windows.h>

#include <vector>

#include "platform/files.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

namespace {

bool Elevated(HANDLE token) {
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  // Fails before Vista, where there is no elevation and no integrity.
  return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// An ACL of one entry per SID, in a buffer the caller keeps: allowed the whole
// access to a folder and everything in it when label is false, else the label
// that forbids writing to those of lower integrity.
bool BuildAcl(std::vector<BYTE>& buffer, const std::vector<PSID>& sids, bool label) {
  DWORD size = sizeof(ACL);
  for (PSID sid : sids)
    size +=
        (label ? sizeof(SYSTEM_MANDATORY_LABEL_ACE) : sizeof(ACCESS_ALLOWED_ACE)) - sizeof(DWORD) + ::GetLengthSid(sid);
  buffer.assign(size, 0);
  auto* acl = reinterpret_cast<PACL>(buffer.data());
  if (!::InitializeAcl(acl, size, ACL_REVISION)) return false;
  const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  for (PSID sid : sids) {
    const BOOL added = label ? ::AddMandatoryAce(acl, ACL_REVISION, inherit, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, sid)
                             : ::AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, sid);
    if (!added) return false;
  }
  return true;
}

}  // namespace

bool CreatePrivateFolder(const std::string& path) {
  win32::THandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size ? size : 1);
  if (!::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) return false;
  PSID userSid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  BYTE systemSid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof systemSid;
  if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &sidSize)) return false;

  std::vector<BYTE> dacl, sacl;
  SECURITY_DESCRIPTOR sd;
  if (!BuildAcl(dacl, {userSid, systemSid}, false) ||
      !::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(dacl.data()), FALSE /* given, not defaulted */) ||
      !::SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED /* nothing inherited from TEMP */))
    return false;
  if (Elevated(token.Get())) {
    // Given with the folder, so that no handle can be opened on it before the
    // label holds.
    BYTE highSid[SECURITY_MAX_SID_SIZE];
    sidSize = sizeof highSid;
    if (!::CreateWellKnownSid(WinHighLabelSid, nullptr, highSid, &sidSize) || !BuildAcl(sacl, {highSid}, true) ||
        !::SetSecurityDescriptorSacl(&sd, TRUE, reinterpret_cast<PACL>(sacl.data()), FALSE))
      return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &sd, FALSE /* not inherited by child processes */};
  return ::CreateDirectoryW(win32::LongPath(path).c_str(), &attributes) != FALSE;
}

}  // namespace platform
