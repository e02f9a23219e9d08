// Rights the user lacks. On Windows the updater runs as the user; a folder only
// an administrator may change is left to an elevated instance of the program,
// which acts for the user who started it. The Linux port has no elevation: it
// runs with the rights it was given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Whether the system can start this program with more rights than the user's
// (Windows' consent prompt); false on the Linux port.
bool CanElevate();

// Whether the system refuses this process a new file in folder or, when the
// folder is not there yet, in the nearest folder above it that is: true only for
// a refused access, never for another failure, which the run meets and reports
// itself. Leaves nothing behind.
bool FolderRefused(const std::string& folder);

// The security identifier of the user this process runs as ("S-1-5-21-..."), ""
// where there is none.
std::string CurrentUserSid();

// Whether text is a security identifier's text form: "S-1-", then numbers
// separated by "-".
bool IsSidText(const std::string& text);

// Starts this program with the system's elevated rights (after the consent
// prompt) with these arguments, from the current folder, and waits for it to
// end, serving the thread's window messages meanwhile. True with its exit
// status; false when it did not start, LastError() saying why (1223 for a
// declined prompt).
bool RunElevated(const std::vector<std::string>& arguments, uint32_t& exitStatus);
constexpr uint32_t kErrorCancelled = 1223;

// Makes HKEY_CURRENT_USER the hive of the user with this identifier
// (HKEY_USERS\<sid>) for the rest of the process, so that the settings, the
// records, the journal and the shell folders are that user's whoever's rights
// the process has. False, with nothing changed, when sid is no identifier or its
// hive is not loaded; always false on the Linux port, which has one user.
bool ActForUser(const std::string& sid);

}  // namespace platform
