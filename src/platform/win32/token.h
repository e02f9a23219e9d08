// What the process's own access token says (who runs it, whether elevated) and
// the access list that gives what the updater makes to that user alone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform::win32 {

// One class of information about the process's token into buffer (a TOKEN_USER
// for TokenUser, ...); false with the last error when the system refuses.
bool TokenInformation(TOKEN_INFORMATION_CLASS what, std::vector<BYTE>& buffer);
// The user's SID in its text form ("S-1-5-21-..."); "" when it cannot be read.
std::string UserSidText();

// Security for a new file or folder of the user's own: an access list of the user
// and SYSTEM alone, protected from what the folder above would pass down,
// inherited by what is made inside; under elevation also a high integrity label,
// since the user's own programs at medium integrity would otherwise pass that
// list. Given at creation, so that no handle can be opened before it holds.
class TOwnerOnlySecurity {
 public:
  // False with the last error when it cannot be built.
  bool Build();
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  std::vector<BYTE> user_, dacl_, sacl_;
  SECURITY_DESCRIPTOR sd_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace platform::win32
