#include "platform/win32/token.h"

#include <sddl.h>

#include "platform/win32/win32_handles.h"

namespace platform::win32 {

namespace {

bool Elevated() {
  TOKEN_ELEVATION elevation{};
  std::vector<BYTE> buffer;
  // Fails before Vista, where there is no elevation and no integrity.
  if (!TokenInformation(TokenElevation, buffer) || buffer.size() < sizeof elevation) return false;
  return reinterpret_cast<TOKEN_ELEVATION*>(buffer.data())->TokenIsElevated != 0;
}

// An ACL of one entry per SID into buffer: allowed the whole access to a folder
// and everything in it when label is false, else the label that forbids writing
// to those of lower integrity.
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

bool TokenInformation(TOKEN_INFORMATION_CLASS what, std::vector<BYTE>& buffer) {
  THandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), what, nullptr, 0, &size);
  buffer.assign(size ? size : 1, 0);
  return ::GetTokenInformation(token.Get(), what, buffer.data(), size, &size) != FALSE;
}

std::string UserSidText() {
  std::vector<BYTE> user;
  char* text = nullptr;
  if (!TokenInformation(TokenUser, user) ||
      !::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
    return std::string();
  std::string sid = text;
  ::LocalFree(text);
  return sid;
}

bool TOwnerOnlySecurity::Build() {
  if (!TokenInformation(TokenUser, user_)) return false;
  PSID userSid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
  BYTE systemSid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof systemSid;
  if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &sidSize)) return false;
  if (!BuildAcl(dacl_, {userSid, systemSid}, false) ||
      !::InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorDacl(&sd_, TRUE, reinterpret_cast<PACL>(dacl_.data()),
                                   FALSE /* given, not defaulted */) ||
      !::SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED /* nothing inherited */))
    return false;
  if (Elevated()) {
    BYTE highSid[SECURITY_MAX_SID_SIZE];
    sidSize = sizeof highSid;
    if (!::CreateWellKnownSid(WinHighLabelSid, nullptr, highSid, &sidSize) || !BuildAcl(sacl_, {highSid}, true) ||
        !::SetSecurityDescriptorSacl(&sd_, TRUE, reinterpret_cast<PACL>(sacl_.data()), FALSE))
      return false;
  }
  attributes_ = {sizeof attributes_, &sd_, FALSE /* not inherited by child processes */};
  return true;
}

}  // namespace platform::win32
