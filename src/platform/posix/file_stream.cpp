// The file stream of the Linux port: descriptors with the sharing rules of
// Windows emulated by flock (see files.cpp).
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/file_stream.h"
#include "platform/posix/posix_internal.h"
#include "platform/system.h"

namespace platform {

using namespace posix;

namespace {
[[noreturn]] void ThrowOpen(const std::string& path, TFileMode mode, uint32_t code) {
  SetError(code);
  if (mode == TFileMode::CreateExclusive || mode == TFileMode::CreateTemporary)
    throw EFCreateError("Cannot create file \"" + path + "\". " + SysErrorMessage(code));
  throw EFOpenError("Cannot open file \"" + path + "\". " + SysErrorMessage(code));
}
}  // namespace

namespace {

// A new file for one stream alone: never what is there, a link included.
int CreateTemporaryFile(const std::string& path) {
  Found found;
  const std::string host = ResolvePath(path, found);
  const TFileMode mode = TFileMode::CreateTemporary;
  if (host.empty()) ThrowOpen(path, mode, LastError());
  if (found != Found::Folder) ThrowOpen(path, mode, found == Found::Whole ? kErrorFileExists : kErrorPathNotFound);
  // No fall-back to opening what is there: O_EXCL refuses an existing file and
  // a link alike, O_NOFOLLOW says so once more.
  const int fd = OpenCloexec(host, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0600);
  if (fd < 0) ThrowOpen(path, mode, ErrnoToError(errno, host));
  flock(fd, LOCK_EX | LOCK_NB);  // a new file: nobody else can hold it yet
  return fd;
}

// Opens (or, for CreateExclusive, creates) the file by its name found without
// regard to case; made says whether it is new.
int OpenByMode(const std::string& path, TFileMode mode, std::string& host, bool& made) {
  int flags = O_NOCTTY | (mode == TFileMode::CreateExclusive ? O_RDWR | O_CREAT : 0);
  if (mode == TFileMode::OpenRead) flags |= O_RDONLY;
  if (mode == TFileMode::OpenReadWrite) flags |= O_RDWR;
  int fd = -1;
  made = false;
  if (mode != TFileMode::CreateExclusive) {
    if (!OnHost(path, host, [&](const std::string& h) {
          fd = OpenCloexec(h, flags, 0666);
          return fd < 0 ? -1 : 0;
        }))
      ThrowOpen(path, mode, LastError());
    return fd;
  }
  Found found;
  host = ResolvePath(path, found);
  if (host.empty()) ThrowOpen(path, mode, LastError());
  if (found == Found::Less) ThrowOpen(path, mode, kErrorPathNotFound);
  // A new file needs none of the checks an existing one does.
  if (found == Found::Folder) {
    fd = OpenCloexec(host, flags | O_EXCL, 0666);
    made = fd >= 0;
    if (fd < 0 && errno != EEXIST) ThrowOpen(path, mode, ErrnoToError(errno, host));
  }
  if (fd < 0) fd = OpenCloexec(host, flags, 0666);
  if (fd < 0) ThrowOpen(path, mode, ErrnoToError(errno, host));
  return fd;
}

// Sharing: readers take nothing but respect an exclusive holder; a read-write
// opener lets others read (shared lock after proving nobody else writes); a
// creator keeps the file to itself, and empties one that was there.
void Share(int fd, TFileMode mode, bool made, const std::string& host, const std::string& path) {
  const int probe = mode == TFileMode::OpenRead ? LOCK_SH : LOCK_EX;
  if (flock(fd, probe | LOCK_NB) != 0) {
    close(fd);
    ThrowOpen(path, mode, kErrorSharingViolation);
  }
  if (mode == TFileMode::OpenRead) flock(fd, LOCK_UN);
  if (mode == TFileMode::OpenReadWrite) flock(fd, LOCK_SH);
  if (mode == TFileMode::CreateExclusive && !made && ftruncate(fd, 0) != 0) {
    const uint32_t code = ErrnoToError(errno, host);
    close(fd);
    ThrowOpen(path, mode, code);
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& path, TFileMode mode) : fileName_(path), handle_(-1) {
  const bool ownFolder = mode == TFileMode::CreateInOwnFolder;
  if (ownFolder) {
    mode = TFileMode::CreateExclusive;
    // By the name as given; a folder spelt otherwise on the disk takes the way below.
    const std::string exact = ExactPath(path);
    const int fd = exact.empty() ? -1 : OpenCloexec(exact, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0666);
    if (fd >= 0) {
      handle_ = fd;
      mode_ = 0666 & ~CreationMask();
      return;
    }
  }
  if (mode == TFileMode::CreateTemporary) {
    handle_ = CreateTemporaryFile(path);
    temporary_ = true;
    return;
  }
  std::string host;
  bool made = false;
  const int fd = OpenByMode(path, mode, host, made);
  struct stat st;
  if (made) {
    mode_ = 0666 & ~CreationMask();
  } else if (fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode) || (mode != TFileMode::OpenRead && ReadOnlyMode(st.st_mode))) {
      close(fd);
      ThrowOpen(path, mode, kErrorAccessDenied);
    }
    mode_ = st.st_mode & 07777;
  }
  if (!(made && ownFolder)) Share(fd, mode, made, host, path);
  handle_ = fd;
}

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Close() {
  if (handle_ < 0) return true;
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  // The name goes, whatever it leads to by now: a temporary file's name is its
  // alone.
  if (temporary_) unlink(MapPath(fileName_).c_str());
  if (attributesAtClose_) {
    struct stat st;
    const mode_t now = mode_ != 0 ? mode_ : fstat(fd, &st) == 0 ? st.st_mode & 07777 : 0;
    const mode_t wanted = AttributeMode(now, false, closeAttributes_, closeUnixMode_);
    if (now != wanted) fchmod(fd, wanted);
  }
  if (close(fd) != 0) return FailErrno();
  return true;
}

void TFileStream::SetAttributesAtClose(uint32_t attributes, uint32_t unixMode) {
  attributesAtClose_ = true;
  closeAttributes_ = attributes;
  closeUnixMode_ = unixMode;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t chunk = static_cast<size_t>(std::min<int64_t>(count, 1 << 30));
  for (;;) {
    ssize_t n = read(static_cast<int>(handle_), buffer, chunk);
    if (n >= 0) return n;
    if (errno != EINTR) {
      FailErrno();
      throw EStreamError("Stream read error");
    }
  }
}

void TFileStream::Write(const void* buffer, int64_t count) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(count, 1 << 30));
    ssize_t n = write(static_cast<int>(handle_), p, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FailErrno();
      throw EStreamError("Stream write error");
    }
    p += n;
    count -= n;
  }
}

void TFileStream::WriteAt(int64_t offset, const void* buffer, int64_t count) {
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(count, 1 << 30));
    ssize_t n = pwrite(static_cast<int>(handle_), p, chunk, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FailErrno();
      throw EStreamError("Stream write error");
    }
    p += n;
    offset += n;
    count -= n;
  }
}

bool TFileStream::Flush() {
  if (fsync(static_cast<int>(handle_)) != 0) return FailErrno();
  return true;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
  if (r < 0) {
    if (errno == EINVAL)
      SetError(kErrorNegativeSeek);
    else
      FailErrno();
    throw EStreamError("Invalid stream position");
  }
  return r;
}

bool TFileStream::SetLastWriteTime(const TLocalTime& time) {
  struct timespec times[2];
  if (!ModifiedTimes(time, times)) return false;
  if (futimens(static_cast<int>(handle_), times) != 0) return FailErrno();
  return true;
}

void TFileStream::SetSize(int64_t size) {
  int fd = static_cast<int>(handle_);
  if (size < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    FailErrno();
    throw EStreamError("Invalid stream size");
  }
  off_t pos = lseek(fd, 0, SEEK_CUR);
  if (pos > size) lseek(fd, static_cast<off_t>(size), SEEK_SET);
}

}  // namespace platform
