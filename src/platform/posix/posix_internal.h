// Shared pieces of the Linux port's operating-system layer: the thread's
// Windows-numbered last error, names and path mapping, and the "file in use" test.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/files.h"
#include "platform/regedit4.h"

namespace platform::posix {

// Windows error numbers the port reports.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorWriteProtect = 19;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr uint32_t kErrorFileTooLarge = 223;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorRegistryCorrupt = 1015;
constexpr uint32_t kErrorKeyDeleted = 1018;
constexpr uint32_t kErrorIoDevice = 1117;
constexpr uint32_t kErrorPrivilegeNotHeld = 1314;
constexpr uint32_t kErrorTimeout = 1460;

void SetError(uint32_t code);
// Maps errno to the Windows number; ENOENT becomes "path not found" when the
// parent folder of hostPath is missing too.
uint32_t ErrnoToError(int err, const std::string& hostPath = std::string());
// Sets the last error from errno and returns false, for "return Fail(...)".
bool FailErrno(const std::string& hostPath = std::string());
bool Fail(uint32_t code);

// The emulated machine's root folder ($ORBAX_PREFIX, else ~/.orbax), created on
// first use together with its drive_c and Windows folder unless create is false.
std::string PrefixDir(bool create = true);
// The name of the user the process runs as, read once.
std::string UserName();

// Host names are UTF-8, the program's texts code page 1252. A host name reads as
// its 1252 text character by character; a byte that is no part of a character
// 1252 has (invalid UTF-8, a character outside the code page), and "?" and "\"
// themselves, read as "?" and the byte's value in two upper-case hexadecimal
// digits ("?E6?97?A5" for the first character of a Japanese name). Windows allows
// neither "?" nor "\" in a name, so no name the program makes holds such an escape:
// distinct host names never read alike, and a name read back leads to the same
// host file. Letters outside 1252 compare by their bytes. Other texts from the
// host (the program's arguments) escape only the bytes that do not convert.
std::string HostText(const std::string& ansi);
std::string AnsiText(const std::string& host, bool name = true);

// How much of a path exists on the host.
enum class Found {
  Whole,   // every name
  Folder,  // all but the last name
  Less,    // not even the folder that would hold the last name
};
// The host path of a Windows path text with every name spelled as given, without
// looking at the disk; "" with the last error set when the drive is not accessible.
std::string ExactPath(const std::string& path);
// The host path, each name matched without regard to case where its own spelling
// is missing (names below a missing one stay as given); "" with the last error set
// when the drive is not accessible. MapPath tries the exact spelling first (one
// lookup when the path exists as given); ResolvePath takes it as missing and says
// how much exists, for callers that have just tried it or are about to create.
std::string MapPath(const std::string& path);
std::string ResolvePath(const std::string& path, Found& found);
// The error for a path that was found only as far as found says.
uint32_t MissingError(Found found);

// Runs op (0 or -1 with errno, as the system calls answer) on the host path of a
// Windows path: on its exact spelling first, which costs nothing more when it
// exists, and only when that is missing on the spelling found without regard to
// case. False with the last error set when it fails; errno is op's then.
template <typename Op>
bool OnHost(const std::string& path, std::string& host, Op op) {
  host = ExactPath(path);
  if (host.empty()) return false;
  if (op(host) == 0) return true;
  int err = errno;
  if (err != ENOENT && err != ENOTDIR) return FailErrno(host);
  Found found;
  std::string resolved = ResolvePath(path, found);
  if (found == Found::Whole && resolved != host) {
    host = resolved;
    if (op(host) == 0) return true;
    err = errno;
  }
  SetError(found == Found::Whole ? ErrnoToError(err, host) : MissingError(found));
  errno = err;
  return false;
}

// Read-only, as Windows sees it: the owner's write bit clear.
bool ReadOnlyMode(mode_t mode);
// The process's file mode creation mask.
mode_t CreationMask();
// The mode that attributes and an archive's Unix mode give a file or folder of
// mode current.
mode_t AttributeMode(mode_t current, bool folder, uint32_t attributes, uint32_t unixMode);
// The modification time to give a file for a local calendar time; false with the
// last error set for a time no calendar has.
bool ModifiedTimes(const TLocalTime& time, struct timespec (&times)[2]);

// Looks for a name (host bytes) in a host folder: its own spelling when present,
// else one that differs only in case. Answers from what the process knows of the
// folder where it can (see folder_cache.cpp).
enum class NameLookup { Present, Absent, NoFolder };
NameLookup FindName(const std::string& folder, const std::string& name, std::string& spelling);

// Whether another open file description holds a flock on the file that conflicts
// with the access asked for: exclusive for writing, deleting and renaming, shared
// for reading. Folders and unreadable files are never "in use". known: the path's
// stat or lstat when the caller has it, which spares a second look.
bool InUse(const std::string& hostPath, bool forWrite, const struct stat* known = nullptr);

// Runs fn on an existing registry key under its hive's exclusive lock; the hive is
// written when fn returns true. False (fn not run) when the key is missing.
bool ChangeKey(uint32_t root, const std::string& path, const std::function<bool(regedit4::Key&)>& fn);

// open(2) that retries on EINTR and always sets O_CLOEXEC.
int OpenCloexec(const std::string& hostPath, int flags, int mode = 0666);

}  // namespace platform::posix
