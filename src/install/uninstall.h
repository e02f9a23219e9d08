// Uninstallation: deletes the files of the installation records, schedules what
// is locked for deletion at the next start of Windows, and removes the system
// uninstall entries and the product's registry items.
#pragma once

#include <cstdint>
#include <string>

#include "install/step_progress.h"

class TLiveUpdate;

namespace install {

// HKEY_LOCAL_MACHINE key whose values the system runs once at its next start.
extern const char* const kRunOnceKey;
// Name prefix of the values this program schedules there ("ORBAXLU_DEL_<n>").
extern const char* const kDeleteValuePrefix;

// Every run of two or more backslashes reduced to one.
std::string CollapseBackslashes(const std::string& path);

// The command that deletes path at the next start: "CMD.EXE /C DEL "<path>"" on
// the NT family, "COMMAND.COM /C DEL "<short path>"" on the older one (the
// path's 8.3 form, as the system gives it into 261 characters).
std::string DeleteCommand(const std::string& path);

// Adds (or rewrites, when the same command is already there) a RunOnce value
// "ORBAXLU_DEL_<n>" that deletes the file at path; n is one more than the highest
// number ending any value name there. Nothing happens when no file is at path.
// Raises ERegistryException when the value cannot be written.
void ScheduleDeleteAtRestart(const std::string& path);

// Deletes the system uninstall entry named by the "UninstallKey" value of the
// installation record of path below root, if there is one (a path that names a
// default value has none).
void DeleteUninstallEntry(const std::string& path, uint32_t root);

// Deletes the key path below root with all its sub-keys, deepest first, or, when
// no such key opens, the value the path's last part names in the key before it.
// Runs of backslashes count as one, and a path ending in "\" names the default
// value of its key, never the key. A path without "\" or starting with "\" (a
// top-level key) is left alone.
void DeleteRegistryItem(const std::string& path, uint32_t root);

// First uninstall step: deletes the files listed in the installation record of
// every entry of settings.RegistryKeys, the folder that held each one when it is
// now empty, and schedules the files that cannot be deleted. Always true;
// registry errors raise.
bool UninstallFiles(const TLiveUpdate& settings, TStepProgress& progress);

// Second uninstall step: for every entry of settings.RegistryKeys, its system
// uninstall entry and then the entry itself (key or value). Always true;
// registry errors raise.
bool UninstallRegistries(const TLiveUpdate& settings, TStepProgress& progress);

}  // namespace install
