// What the journal that writes a work folder and the recovery that reads one
// share, below the engine's own interface (journal.h).
#pragma once

#include <cstdint>
#include <string>

#include "engine/journal.h"
#include "install/product_names.h"
#include "install/save_settings.h"
#include "platform/files.h"
#include "platform/locks.h"
#include "platform/registry.h"

namespace engine::journal {

extern const char* const kJournalFileName;  // "journal", in the work folder
extern const char* const kCopiesFolder;     // "n", in the work folder

// The command of the RunOnce entry that recovers work with the copy.
std::string RecoverCommand(const std::string& copy, const std::string& work);
// Takes the lock of an installation folder; false with the outcome to report
// (another update at work, or what the system said) when it cannot.
bool LockFolder(platform::TFileLock& lock, const std::string& install, TRecovery& refused);
// Recovers a work folder while the caller holds its installation folder's lock.
TRecovery RecoverHeld(const std::string& work, const install::TProductNames& names, const platform::THeldFiles* held);
// The highest k of the originals' folders o-<k> (and their end marks) of work.
uint32_t HighestOriginals(const std::string& work);
// A registry value as it is now; false when it is not there.
bool ReadValue(const install::TRegValueName& v, platform::TRegValue& value);

}  // namespace engine::journal
