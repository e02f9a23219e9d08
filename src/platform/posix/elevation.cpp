// The Linux port has no elevation: it runs with the rights it was given, for
// the one user of its emulated machine.
#include "platform/elevation.h"

#include "platform/posix/posix_internal.h"

namespace platform {

bool CanElevate() { return false; }

bool FolderRefused(const std::string&) { return false; }

std::string CurrentUserSid() { return std::string(); }

bool RunElevated(const std::vector<std::string>&, uint32_t&) { return posix::Fail(50); }  // not supported

bool ActForUser(const std::string&) { return posix::Fail(50); }

}  // namespace platform
