// The system's own services: its error codes and texts, GUIDs, time, the version
// query, privileges and restart, the program's embedded resources and arguments,
// the environment, the code page, and the user's Internet proxy settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/exception.h"

namespace platform {

// The calling thread's last system error code (Windows numbering on both targets:
// 2 file not found, 5 access denied, 32 sharing violation, 112 disk full, ...).
uint32_t LastError();
// Sets it, for a caller that must do more before it reports the first failure.
void SetLastError(uint32_t code);
// The system's text for an error code, without a trailing line break.
std::string SysErrorMessage(uint32_t code);
// "<what>: <the system's text for the last error>", for a report that names what failed.
inline std::string LastErrorText(const std::string& what) { return what + ": " + SysErrorMessage(LastError()); }
// Whether an error code says that another program holds the file (a sharing or
// lock violation), which may pass, as no other cause does.
inline bool HeldByAnother(uint32_t code) { return code == 32 || code == 33; }
// Whether an error code says that the name is taken already (or, from a lock,
// that another holds it).
inline bool AlreadyExists(uint32_t code) { return code == 183; }
// Whether an error code says that the system would not flush a volume for this
// process (no administrator, a network path, no such operation), which is no
// failure of the disk: its files are then flushed one by one.
inline bool FlushRefused(uint32_t code) { return code == 1 || code == 5 || code == 50 || code == 87; }
// Whether an error code says that a rename would have to cross volumes.
inline bool OtherVolume(uint32_t code) { return code == 17; }

// A new GUID in its 38-character form: braces, upper-case hexadecimal, hyphens.
std::string NewGuidText();
uint32_t TickCount();
void SleepMs(uint32_t milliseconds);
// The version query's platform identifier (2 = NT family).
uint32_t PlatformId();

// Sets a privilege's attributes on the process token and returns its previous
// attributes; 0 when the token cannot be opened. Raises EOSError when the
// adjustment fails.
uint32_t SetPrivilege(const std::string& name, uint32_t attributes);
constexpr uint32_t SE_PRIVILEGE_ENABLED_ATTR = 0x00000002u;
// Asks the system to restart the computer. Returns whether it accepted.
bool RequestRestart();

// An embedded resource's bytes by name (case ignored); nullopt when missing.
std::optional<std::string> EmbeddedResource(const std::string& name);

// The program's arguments, program name not counted. Win32 splits the command
// line as Windows programs do; the Linux port takes what main() stored.
std::vector<std::string> ProgramArguments();
void SetProgramArguments(int argc, char** argv);
// A whole command line split as Windows programs split theirs (the rules of the
// C run-time: blanks between arguments, double quotes group, backslashes escape a
// quote only when they precede one). The program name, the first item, ends at
// the first blank outside quotes, its backslashes taken as they stand.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// One argument in double quotes, as the same rules split it back: the
// backslashes before a quote (and before the closing one) doubled, a quote
// escaped.
std::string QuoteArgument(const std::string& argument);
// Arguments (program name not included) joined into the text that the same rules
// split back into them: quoted where they hold a blank or a quote or are empty.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

// The running program's own file, as a path text.
std::string ProgramPath();

// An environment variable ("" when unset).
std::string GetEnv(const std::string& name);

// Unicode text in the program's ANSI code page: the system's own on Win32, without
// best-fit look-alikes; 1252 on the Linux port. False, and ansi untouched, when a
// character has no byte of its own there.
bool UnicodeToAnsi(const std::u32string& unicode, std::string& ansi);

// Whether this layer emulates the Windows machine itself ($ORBAX_PREFIX, REGEDIT4
// hives, flock for files in use): true on the Linux port, false on Win32. The
// program's entry asks it, to hand over its arguments where no command line exists.
bool EmulatedMachine();

// The user's Internet proxy settings: the access type (3 = named proxy) and the
// proxy list text. false when the query fails.
bool QueryProxySettings(uint32_t& accessType, std::string& proxyList);

}  // namespace platform
