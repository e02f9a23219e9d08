// A run's own folder: mode 0700, made by this call and no other, so that other
// users can neither read nor change what the run keeps in it.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/posix/posix_internal.h"

namespace platform {

using namespace posix;

bool CreatePrivateFolder(const std::string& path) {
  Found found;
  const std::string host = ResolvePath(path, found);
  if (host.empty()) return false;
  if (found == Found::Whole) return Fail(kErrorAlreadyExists);
  if (found == Found::Less) return Fail(kErrorPathNotFound);
  // mkdir makes a new folder or fails; it neither follows nor reuses what stands
  // at the name (the same guarantee mkdtemp gives, under a name of the caller's).
  if (mkdir(host.c_str(), 0700) != 0) return FailErrno(host);
  // The umask may have taken some of the owner's bits; opened without following
  // a link, so the mode goes to the folder just made.
  const int fd = OpenCloexec(host, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  struct stat st;
  bool ok = fd >= 0 && fstat(fd, &st) == 0;
  int err = errno;
  if (ok && st.st_uid != geteuid()) ok = false, err = EACCES;
  if (ok && fchmod(fd, 0700) != 0) ok = false, err = errno;
  if (fd >= 0) close(fd);
  if (ok) return true;
  rmdir(host.c_str());
  errno = err;
  return FailErrno(host);
}

}  // namespace platform
