// Last error and system messages with Windows numbering, so that callers and their
// tests see the same codes and texts on both targets.
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/posix/posix_internal.h"
#include "platform/system.h"

namespace platform {
namespace posix {

namespace {
thread_local uint32_t lastError = 0;

bool ParentExists(const std::string& hostPath) {
  std::string p = hostPath;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return true;  // relative to the current folder
  std::string parent = slash == 0 ? "/" : p.substr(0, slash);
  struct stat st;
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

void SetError(uint32_t code) { lastError = code; }

uint32_t ErrnoToError(int err, const std::string& hostPath) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return hostPath.empty() || ParentExists(hostPath) ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return kErrorSharingViolation;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EROFS: return kErrorWriteProtect;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EXDEV: return kErrorNotSameDevice;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EINVAL: return kErrorInvalidParameter;
    case EBADF: return kErrorInvalidHandle;
    case ELOOP: return kErrorInvalidName;
    case ESRCH: return kErrorInvalidParameter;
    case ETIMEDOUT: return kErrorTimeout;
    case ENOEXEC: return kErrorBadFormat;
    case EIO: return kErrorIoDevice;
    case ENOSYS:
    case EOPNOTSUPP: return kErrorNotSupported;
    default: return kErrorGenFailure;
  }
}

bool FailErrno(const std::string& hostPath) {
  SetError(ErrnoToError(errno, hostPath));
  return false;
}

bool Fail(uint32_t code) {
  SetError(code);
  return false;
}

int OpenCloexec(const std::string& hostPath, int flags, int mode) {
  int fd;
  do {
    fd = open(hostPath.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool InUse(const std::string& hostPath, bool forWrite, const struct stat* known) {
  struct stat st;
  // A file's own lstat says what a stat would; a link's does not.
  if (known && !S_ISLNK(known->st_mode)) {
    if (!S_ISREG(known->st_mode)) return false;
  } else if (stat(hostPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  int fd = OpenCloexec(hostPath, O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool busy = false;
  if (flock(fd, (forWrite ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) busy = errno == EWOULDBLOCK;
  close(fd);  // releases the probe lock, if it was taken
  return busy;
}

}  // namespace posix

uint32_t LastError() { return posix::lastError; }

void SetLastError(uint32_t code) { posix::SetError(code); }

std::string SysErrorMessage(uint32_t code) {
  // The texts Windows gives for these codes, so that reports read the same.
  switch (code) {
    case 0: return "The operation completed successfully.";
    case 1: return "Incorrect function.";
    case 2: return "The system cannot find the file specified.";
    case 3: return "The system cannot find the path specified.";
    case 4: return "The system cannot open the file.";
    case 5: return "Access is denied.";
    case 6: return "The handle is invalid.";
    case 8: return "Not enough memory resources are available to process this command.";
    case 11: return "An attempt was made to load a program with an incorrect format.";
    case 15: return "The system cannot find the drive specified.";
    case 17: return "The system cannot move the file to a different disk drive.";
    case 18: return "There are no more files.";
    case 19: return "The media is write protected.";
    case 21: return "The device is not ready.";
    case 31: return "A device attached to the system is not functioning.";
    case 32: return "The process cannot access the file because it is being used by another process.";
    case 33: return "The process cannot access the file because another process has locked a portion of the file.";
    case 38: return "Reached the end of the file.";
    case 50: return "The request is not supported.";
    case 80: return "The file exists.";
    case 87: return "The parameter is incorrect.";
    case 112: return "There is not enough space on the disk.";
    case 123: return "The filename, directory name, or volume label syntax is incorrect.";
    case 131: return "An attempt was made to move the file pointer before the beginning of the file.";
    case 145: return "The directory is not empty.";
    case 183: return "Cannot create a file when that file already exists.";
    case 206: return "The filename or extension is too long.";
    case 223: return "The file size exceeds the limit allowed and cannot be saved.";
    case 259: return "No more data is available.";
    case 267: return "The directory name is invalid.";
    case 1015:
      return "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
             "the image of the file in memory is corrupted, or the file could not be recovered because the alternate "
             "copy or log was absent or corrupted.";
    case 1018: return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case 1117: return "The request could not be performed because of an I/O device error.";
    case 1314: return "A required privilege is not held by the client.";
    case 1460: return "This operation returned because the timeout period expired.";
    default: return "Unknown error " + std::to_string(code) + ".";
  }
}

}  // namespace platform
