// Locks of the Linux port: flock on files no link may stand in for.
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/locks.h"
#include "platform/posix/posix_internal.h"

namespace platform {

using namespace posix;

namespace {

// Opens and locks the file at host, made owner-only if missing. The descriptor,
// or -1 with the last error: kErrorAlreadyExists when another holds it.
int LockedFile(const std::string& host) {
  const int fd = OpenCloexec(host, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY, 0600);
  if (fd < 0) return FailErrno(host), -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetError(kErrorAccessDenied);
    close(fd);
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    if (!held) FailErrno(host);
    close(fd);
    if (held) SetError(kErrorAlreadyExists);
    return -1;
  }
  return fd;
}

}  // namespace

TUpdaterLock::~TUpdaterLock() {
  if (handle_ > 0) close(static_cast<int>(handle_ - 1));
}

bool TUpdaterLock::Acquire() {
  if (handle_ > 0) return true;
  // The lock belongs to the open file, which is closed on exec: a program the
  // holder starts does not hold it.
  const int fd = LockedFile(PrefixDir() + "/ORBAXLiveUpdate.lock");
  if (fd < 0) return false;
  handle_ = fd + 1;
  return true;
}

bool TFileLock::Acquire(const std::string& path) {
  if (handle_ != 0) return true;
  const std::string host = MapPath(path);
  if (host.empty()) return false;
  // A holder removes the file as it lets go: a lock taken on a file already
  // removed, or replaced since, is no lock, and is taken again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int fd = LockedFile(host);
    if (fd < 0) return false;
    struct stat held, named;
    if (fstat(fd, &held) == 0 && lstat(host.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      handle_ = fd + 1;
      host_ = host;
      return true;
    }
    close(fd);
  }
  return Fail(kErrorAlreadyExists);
}

void TFileLock::Release() {
  if (handle_ == 0) return;
  // Removed while still held, so that the next holder never locks a file on its
  // way out.
  unlink(host_.c_str());
  close(static_cast<int>(handle_ - 1));
  handle_ = 0;
}

}  // namespace platform
