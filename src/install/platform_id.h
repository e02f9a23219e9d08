// The platform family the system reports. Installation and uninstallation pick
// registry roots and command interpreters by it, and so does the worker.
#pragma once

#include <cstdint>

namespace install {

// The version query's identifier of the NT family; every other value is the
// older family (COMMAND.COM, uninstall entries below HKEY_LOCAL_MACHINE).
constexpr uint32_t kPlatformWin32NT = 2;

// The platform identifier of the running system, or of the source put in its place.
uint32_t GetPlatformId();

// Puts another source of the identifier in the system's place (nullptr: the
// system again) and returns the one it replaces, so that one machine can go
// through both families' registry roots and commands.
using TPlatformIdSource = uint32_t (*)();
TPlatformIdSource SetPlatformIdSource(TPlatformIdSource source);

}  // namespace install
