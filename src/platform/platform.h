// The operating-system layer: every service the program takes from the system,
// as plain functions grouped by area. win32/ implements them with the Win32 API,
// posix/ with the Linux port's own layer. Paths are Windows path texts on both
// targets (drive letter, backslashes, doubled separators allowed); the Linux port
// maps them to host paths (C: lives under $ORBAX_PREFIX/drive_c, Z: is /).
// Texts are single-byte ANSI strings; the Linux port hands them to the host in
// UTF-8 (names, command lines) and reads host names back in 1252, escaping what
// 1252 cannot spell as "?XX" (see posix/posix_internal.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/stream.h"

namespace platform {

// ---------------------------------------------------------------- errors

// The calling thread's last system error code (Windows numbering on both targets:
// 2 file not found, 5 access denied, 32 sharing violation, ...).
uint32_t LastError();
// The system's text for an error code, without a trailing line break.
std::string SysErrorMessage(uint32_t code);

// ---------------------------------------------------------------- paths

// Linux port: the host path a Windows path text stands for, in UTF-8 ("" when its
// drive is not accessible). Win32: the text unchanged.
std::string HostPath(const std::string& path);
// Linux port: the Windows path text for a host path ("Z:\..." or "C:\..." when it
// lies inside the prefix's drive), its names read as 1252. Win32: the text unchanged.
std::string FromHostPath(const std::string& hostPath);
// Whether the drive of a path (or of the current folder when it names none) can
// be reached.
bool DriveAccessible(const std::string& path);

// ---------------------------------------------------------------- files and folders

// MS-DOS attribute bits, as the system reports them on both targets.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faNormal = 0x80;
constexpr uint32_t faInvalid = 0xFFFFFFFFu;

bool FileExists(const std::string& path);       // a file, not a folder
bool DirectoryExists(const std::string& path);  // a folder
// One level; false when it exists already or the parent is missing.
bool CreateDir(const std::string& path);
// With all missing parents. A path shorter than three characters, or a folder
// that exists already, counts as created.
bool ForceDirectories(const std::string& path);
// Succeeds only for an empty folder.
bool RemoveDir(const std::string& path);
bool EraseFile(const std::string& path);
// faInvalid when the path does not exist.
uint32_t GetAttributes(const std::string& path);
// Sets the MS-DOS attributes. unixMode, when not 0, is a host permission mode the
// Linux port applies as well (Win32 ignores it).
bool SetAttributes(const std::string& path, uint32_t attributes, uint32_t unixMode = 0);
bool SetAttributesNormal(const std::string& path);
// Renames; fails when the destination exists or is held by another process.
bool MoveFileTo(const std::string& source, const std::string& destination);
// Copies, replacing an existing destination when failIfExists is false.
bool CopyFileTo(const std::string& source, const std::string& destination, bool failIfExists);

// A local calendar time, to the second.
struct LocalTime {
  int Year = 1980, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};
LocalTime Now();
bool SetLastWriteTime(const std::string& path, const LocalTime& time);
std::optional<LocalTime> GetLastWriteTime(const std::string& path);

// The short (8.3) form of an existing path, as GetShortPathNameA gives it into a
// buffer of bufferSize characters; "" when the system fails. The Linux port has
// no short names and returns the path.
std::string ShortPathName(const std::string& path, uint32_t bufferSize = 261);

bool SetCurrentDir(const std::string& path);
std::string GetCurrentDir();
// The Windows folder ("C:\Windows" on the Linux port).
std::string WindowsDir();
// The temporary folder with its trailing backslash, as the system returns it into
// a buffer of 1024 characters.
std::string TempDir();

// Lists the names (not paths) in a folder, folders first marked by a trailing "\";
// each group sorted by name without regard to case. Empty when it cannot be read.
std::vector<std::string> ListDir(const std::string& path);

// A file stream. The modes follow the classic file-stream flags.
enum class FileMode {
  OpenRead,         // read; others may read and write
  OpenReadWrite,    // read and write an existing file; others may read
  CreateExclusive,  // create or replace for writing; nobody else may open it
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError (open) or EFCreateError (create) with the message
  // 'Cannot open file "<path>". <system text>' ('Cannot create file ...' for
  // CreateExclusive) and sets LastError. Read and Write failures raise
  // EStreamError "Stream read error" / "Stream write error".
  TFileStream(const std::string& path, FileMode mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  // Dates the file through this stream, without opening it again; after the last
  // write, the date stays when the file is closed. False (with the last error)
  // when the system refuses.
  bool SetLastWriteTime(const LocalTime& time);
  // Closes now and reports whether the system accepted it; the destructor closes
  // too, silently.
  bool Close();
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  intptr_t handle_;
};

// ---------------------------------------------------------------- processes

// A process opened for terminate-and-wait. Closes its handle when destroyed.
class ProcessHandle {
 public:
  ProcessHandle() = default;
  explicit ProcessHandle(intptr_t raw, uint32_t pid) : raw_(raw), pid_(pid) {}
  ProcessHandle(ProcessHandle&& other) noexcept;
  ProcessHandle& operator=(ProcessHandle&& other) noexcept;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  ~ProcessHandle();
  bool Valid() const { return raw_ != 0; }
  intptr_t Raw() const { return raw_; }
  uint32_t Pid() const { return pid_; }

 private:
  intptr_t raw_ = 0;
  uint32_t pid_ = 0;
};

// An invalid handle when there is no such process or no access to it.
ProcessHandle OpenProcessForTerminate(uint32_t pid);
bool TerminateProcessWith(ProcessHandle& process, uint32_t exitCode);
enum class WaitResult { Ended, TimedOut, Failed };
WaitResult WaitForProcess(ProcessHandle& process, uint32_t milliseconds);

// Runs a whole command line with a hidden window and waits without limit.
// Returns false when the process could not be created (nothing was waited for).
// The Linux port runs "CMD.EXE /C rest" and "COMMAND.COM /C rest" as
// /bin/sh -c rest; other command lines are split the Windows way and their program
// is looked up in the current folder, then on PATH.
bool RunHiddenAndWait(const std::string& commandLine);
// Starts a whole command line with a normally shown window, without waiting.
// Returns false when the process could not be created.
bool StartDetached(const std::string& commandLine);
// Starts a command line and returns its process for tests and tools; the invalid
// handle on failure.
ProcessHandle StartProcess(const std::string& commandLine, bool hidden);
uint32_t CurrentProcessId();

// ---------------------------------------------------------------- registry

// The predefined root keys, by their Win32 values.
constexpr uint32_t HKEY_CLASSES_ROOT_ID = 0x80000000u;
constexpr uint32_t HKEY_CURRENT_USER_ID = 0x80000001u;
constexpr uint32_t HKEY_LOCAL_MACHINE_ID = 0x80000002u;
constexpr uint32_t HKEY_USERS_ID = 0x80000003u;
constexpr uint32_t HKEY_CURRENT_CONFIG_ID = 0x80000005u;

// Registry value types (Win32 numbering).
constexpr uint32_t REG_NONE_TYPE = 0;
constexpr uint32_t REG_SZ_TYPE = 1;
constexpr uint32_t REG_EXPAND_SZ_TYPE = 2;
constexpr uint32_t REG_BINARY_TYPE = 3;
constexpr uint32_t REG_DWORD_TYPE = 4;
constexpr uint32_t REG_MULTI_SZ_TYPE = 7;

struct RegValue {
  uint32_t Type = REG_NONE_TYPE;
  // Raw bytes as the system stores them; a string's terminating NUL excluded.
  std::string Data;
};

// One open registry key. Paths are below the root; a leading backslash is allowed.
class RegKey {
 public:
  RegKey();  // out of line: Impl is complete only in the implementation
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  // create: make the key and its missing parents. readOnly: open for reading only.
  // On failure the key stays closed.
  bool Open(uint32_t root, const std::string& path, bool create, bool readOnly);
  void Close();
  bool IsOpen() const;

  bool SetValue(const std::string& name, const RegValue& value);
  // false when the value does not exist or cannot be read.
  bool GetValue(const std::string& name, RegValue& value) const;
  bool HasValue(const std::string& name) const;
  bool DeleteValue(const std::string& name);
  // Names directly below the key, in the order the registry enumerates them.
  bool SubKeyNames(std::vector<std::string>& names) const;
  bool ValueNames(std::vector<std::string>& names) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Deletes a key with all its sub-keys, deepest first.
bool RegDeleteKeyTree(uint32_t root, const std::string& path);

// What the next start of Windows does for the files an uninstallation could not
// delete: deletes each file named by a "CMD.EXE /C DEL "<path>"" (or COMMAND.COM)
// command in the values of the key below HKEY_LOCAL_MACHINE (RunOnce) whose names
// begin with valuePrefix, and removes those values. Other values stay, and so does the value
// of a file still in use. The Linux port does it when the program starts; Win32
// does nothing, as Windows itself runs them.
void RunPendingDeletes(const std::string& key, const std::string& valuePrefix);

// ---------------------------------------------------------------- shell

// Writes a shell-link (.lnk) file. Returns whether it was saved.
bool SaveShellLink(const std::string& linkFile, const std::string& target, const std::string& arguments,
                   const std::string& workingFolder);
// Lets the user pick a folder ("" when cancelled or the item has no file-system path).
std::string BrowseForFolder(intptr_t ownerWindow, const std::string& title);

// The user's Internet proxy settings: the access type (3 = named proxy) and the
// proxy list text. false when the query fails.
bool QueryProxySettings(uint32_t& accessType, std::string& proxyList);

// ---------------------------------------------------------------- misc

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

}  // namespace platform

// ---------------------------------------------------------------- console (the Linux port's front end)
namespace platform {
// Whether standard input / output is a terminal a person sits at.
bool StdinIsTerminal();
bool StdoutIsTerminal();
// Calls handler (from a signal context: it must only set a flag) on Ctrl+C.
void SetInterruptHandler(void (*handler)());
// One line from standard input without its line end; false at the end of input.
// An interrupt while waiting returns false with interrupted set.
bool ReadConsoleLine(std::string& line, bool& interrupted);
}  // namespace platform
