// What the tests and their helpers ask of the system that the program itself never
// does: changing this process's environment, naming the programs they start. Under
// the platform layer's namespace, beside the services the program uses.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Sets or removes an environment variable of this process; the C runtime's getenv
// sees the change on both targets.
bool SetEnv(const std::string& name, const std::string& value);
bool UnsetEnv(const std::string& name);
// The file-name suffix of programs: ".exe" on Win32, "" on the Linux port.
std::string ExecutableSuffix();
// This process's file mode creation mask (the Linux port; Win32 has none: 0).
uint32_t CreationMask();
// Whether a folder is this user's alone, as CreatePrivateFolder makes it: the
// Linux port's mode 0700; on Win32 a protected access list of the user and SYSTEM
// passed on to what is inside, and the high label when the process is elevated.
// False with what differs in why.
bool OwnerOnlyFolder(const std::string& path, std::string& why);
// Makes link lead to target, a folder or a file, as another account or a lesser
// program could plant one: a symbolic link on the Linux port; on Win32 a symbolic
// link, else (for a folder) a junction. False where the system makes neither.
bool MakeLink(const std::string& link, const std::string& target, bool folder = true);

// Gives HKEY_CURRENT_USER back to this process's own user after ActForUser.
void StopActingForUser();

}  // namespace platform
