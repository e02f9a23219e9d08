// Files and folders through the path mapping. Windows rules the port keeps:
// read-only files (owner write bit clear) cannot be deleted or opened for writing,
// a file another process holds (an flock lock) cannot be deleted, replaced or
// opened for writing, and a move never replaces an existing destination.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/text.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/posix/posix_internal.h"
#include "platform/system.h"

namespace platform {

using namespace posix;

namespace {

bool ReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

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

bool StatPath(const std::string& path, std::string& host, struct stat& st) {
  return OnHost(path, host, [&](const std::string& h) { return stat(h.c_str(), &st); });
}

std::string StripTrailingSeparators(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// The zone's offset from UTC at a moment, in seconds.
long OffsetAt(time_t t) {
  struct tm local {};
  return localtime_r(&t, &local) ? local.tm_gmtoff : 0;
}

// The process's file mode creation mask. The program never changes it, so it is
// read once: from the kernel's status file, which leaves it alone, or else by
// setting it and putting it back before anything else runs.
mode_t CreationMask() {
  static const mode_t mask = [] {
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
      char line[256];
      unsigned value = 0;
      bool found = false;
      while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &value) == 1;
      std::fclose(status);
      if (found) return static_cast<mode_t>(value & 0777);
    }
    const mode_t old = umask(022);
    umask(old);
    return old;
  }();
  return mask;
}

bool LessNoCase(const std::string& a, const std::string& b) { return text::AnsiCompareUpper(a, b) < 0; }

// Copies the bytes, mode and modification time of an open file into a new one.
bool CopyContents(int in, const struct stat& srcStat, const std::string& dstHost, bool failIfExists) {
  int out = OpenCloexec(dstHost, O_WRONLY | O_CREAT | O_TRUNC | (failIfExists ? O_EXCL : 0), 0666);
  if (out < 0) {
    if (errno == EEXIST) return Fail(kErrorFileExists);
    return FailErrno(dstHost);
  }
  flock(out, LOCK_EX | LOCK_NB);  // others see the file in use while it is written
  // The kernel copies between the files itself where it can; a file system that
  // cannot gets the bytes through a buffer.
  bool ok = true, kernel = true;
  for (off_t done = 0; kernel && done < srcStat.st_size;) {
    ssize_t n = sendfile(out, in, nullptr, static_cast<size_t>(std::min<off_t>(srcStat.st_size - done, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && done == 0 && (errno == EINVAL || errno == ENOSYS)) {
      kernel = false;
      break;
    }
    if (n < 0) {
      ok = FailErrno();
      break;
    }
    if (n == 0) break;  // the source grew shorter meanwhile
    done += n;
  }
  std::vector<char> buf(kernel ? 0 : 1 << 16);
  while (ok && !kernel) {
    ssize_t n = read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = FailErrno();
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        ok = FailErrno();
        break;
      }
      done += w;
    }
  }
  if (ok) {
    fchmod(out, srcStat.st_mode & 07777);
    struct timespec times[2] = {{0, UTIME_OMIT}, srcStat.st_mtim};
    futimens(out, times);
  }
  if (close(out) != 0 && ok) ok = FailErrno();
  if (!ok) unlink(dstHost.c_str());  // no half-copied file stays behind
  return ok;
}

}  // namespace

bool FileExists(const std::string& path) { return LookAtFile(path).Exists; }

TFileLook LookAtFile(const std::string& path) {
  std::string host;
  struct stat st;
  TFileLook look;
  if (StatPath(path, host, st) && !S_ISDIR(st.st_mode)) look = {true, st.st_dev, st.st_ino};
  return look;
}

THeldFiles::THeldFiles(const TFileStream& witness) {
  struct stat own;
  if (fstat(static_cast<int>(witness.Handle()), &own) != 0) return;
  FILE* list = std::fopen("/proc/locks", "re");
  if (!list) return;
  // "1: FLOCK  ADVISORY  WRITE 4711 fe:00:10952849 0 EOF", "->" before the kind
  // for a waiter; the other kinds (POSIX, OFDLCK) are not what "in use" means here.
  char line[512];
  bool witnessed = false;
  while (std::fgets(line, sizeof line, list)) {
    const char* kind = std::strstr(line, " FLOCK ");
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    char access[16];
    long pid = 0;
    if (!kind || std::sscanf(kind, " FLOCK %*s %15s %ld %x:%x:%llu", access, &pid, &major, &minor, &inode) != 5)
      continue;
    if (major != ::major(own.st_dev) || minor != ::minor(own.st_dev)) continue;
    held_.insert(inode);
    witnessed = witnessed || inode == own.st_ino;
  }
  std::fclose(list);
  listed_ = witnessed;
  volume_ = own.st_dev;
}

bool THeldFiles::MayBeHeld(const TFileLook& file) const {
  return !listed_ || file.Volume != volume_ || held_.count(file.Id) != 0;
}

bool DirectoryExists(const std::string& path) {
  std::string host;
  struct stat st;
  return StatPath(path, host, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) {
  Found found;
  std::string host = ResolvePath(path, found);
  if (host.empty()) return false;
  if (found == Found::Less) return Fail(kErrorPathNotFound);
  if (mkdir(host.c_str(), 0777) != 0) return FailErrno(host);
  return true;
}

bool ForceDirectories(const std::string& path) {
  std::string dir = StripTrailingSeparators(path);
  if (dir.size() < 3 || DirectoryExists(dir)) return true;
  size_t sep = dir.find_last_of("\\/");
  if (sep != std::string::npos) {
    std::string parent = StripTrailingSeparators(dir.substr(0, sep + 1));
    if (parent.size() == 2 && parent[1] == ':') parent += '\\';
    if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
  }
  return CreateDir(dir);
}

bool RemoveDir(const std::string& path) {
  std::string host;
  if (OnHost(path, host, [](const std::string& h) { return rmdir(h.c_str()); })) return true;
  struct stat st;
  if (errno == ENOTDIR && stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return Fail(kErrorDirectory);
  return false;
}

bool EraseFile(const std::string& path, uint32_t known) {
  if (known & rkSourceFree) {
    const std::string exact = ExactPath(path);
    if (!exact.empty() && unlink(exact.c_str()) == 0) return true;
  }
  std::string host;
  struct stat st;
  if (!StatPath(path, host, st)) return false;
  if (S_ISDIR(st.st_mode) || ReadOnlyMode(st.st_mode)) return Fail(kErrorAccessDenied);
  if (InUse(host, true, &st)) return Fail(kErrorSharingViolation);
  if (unlink(host.c_str()) != 0) return FailErrno(host);
  return true;
}

uint32_t GetAttributes(const std::string& path) {
  std::string host;
  struct stat st;
  if (!StatPath(path, host, st)) return faInvalid;
  uint32_t attr = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
  if (!S_ISDIR(st.st_mode) && ReadOnlyMode(st.st_mode)) attr |= faReadOnly;
  std::string name = StripTrailingSeparators(host);
  size_t slash = name.rfind('/');
  if (slash != std::string::npos && name.compare(slash + 1, 1, ".") == 0 && name.substr(slash + 1) != "." &&
      name.substr(slash + 1) != "..")
    attr |= faHidden;  // the host's hidden files, as Wine shows them
  return attr;
}

namespace {

// The mode that attributes and an archive's Unix mode give a file or folder of
// mode current.
mode_t AttributeMode(mode_t current, bool folder, uint32_t attributes, uint32_t unixMode) {
  // Of an archive's mode only the execute bits count, as common extractors do: a
  // package must not bring files others may write, nor set-id programs.
  mode_t mode = current & 07777;
  if (unixMode != 0) mode = (0666 | (static_cast<mode_t>(unixMode) & 0111)) & ~CreationMask();
  if (!folder) {
    if (attributes & faReadOnly)
      mode &= ~static_cast<mode_t>(0222);
    else
      mode |= S_IWUSR;
  }
  return mode;
}

}  // namespace

bool SetAttributes(const std::string& path, uint32_t attributes, uint32_t unixMode) {
  std::string host;
  struct stat st;
  if (!StatPath(path, host, st)) return false;
  const mode_t mode = AttributeMode(st.st_mode, S_ISDIR(st.st_mode), attributes, unixMode);
  if ((st.st_mode & 07777) != mode && chmod(host.c_str(), mode) != 0) return FailErrno(host);
  return true;
}

bool SetAttributesNormal(const std::string& path) { return SetAttributes(path, faNormal); }

namespace {

// The rename both moves share: never replaces, never copies. src is the source's
// host path and st its lstat when it fails with "not same device". The source is
// opened (never through a link) and its lock tried on that descriptor, which
// also says that it exists; the lock is kept over the rename, so that nobody
// takes the file in between.
bool RenameOnHost(const std::string& source, const std::string& destination, std::string& src, struct stat& st) {
  int fd = -1;
  if (!OnHost(source, src, [&](const std::string& h) {
        fd = OpenCloexec(h, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd >= 0 || errno == ENOENT || errno == ENOTDIR) return fd >= 0 ? 0 : -1;
        // A link, or what this process may not read: still there to be moved.
        return lstat(h.c_str(), &st);
      }))
    return false;
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) close(fd);  // releases the lock, if it was taken
    }
  } closer{fd};
  Found found;
  std::string dst = ResolvePath(destination, found);
  if (dst.empty()) return false;
  if (found == Found::Whole) return Fail(kErrorAlreadyExists);
  if (found == Found::Less) return Fail(kErrorPathNotFound);
  if (fd >= 0 ? flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK && fstat(fd, &st) == 0 &&
                    S_ISREG(st.st_mode)  // folders are never "in use"
              : InUse(src, true, &st))
    return Fail(kErrorSharingViolation);
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  struct stat dstStat;
  if (errno == EINVAL && lstat(dst.c_str(), &dstStat) != 0) {
    // A file system without the no-replace flag: the check above stands in.
    if (rename(src.c_str(), dst.c_str()) == 0) return true;
  }
  if (errno == EEXIST) return Fail(kErrorAlreadyExists);
  if (errno == EXDEV) {
    if (fd >= 0 && fstat(fd, &st) != 0) return FailErrno(src);
    return Fail(kErrorNotSameDevice);
  }
  return FailErrno(dst);
}

}  // namespace

bool RenameFile(const std::string& source, const std::string& destination, uint32_t known) {
  if (known == (rkSourceFree | rkDestinationFree)) {
    // Nothing to ask but the rename itself, by the names as given; a name spelt
    // otherwise on the disk, another volume or a file system without the no-replace
    // flag takes the whole way below.
    const std::string from = ExactPath(source), to = ExactPath(destination);
    if (!from.empty() && !to.empty() && renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return true;
  }
  std::string src;
  struct stat st;
  return RenameOnHost(source, destination, src, st);
}

bool MoveFileTo(const std::string& source, const std::string& destination) {
  std::string src;
  struct stat st;
  if (RenameOnHost(source, destination, src, st)) return true;
  if (LastError() != kErrorNotSameDevice) return false;
  // Another volume: files are copied and their source deleted, as Windows does;
  // folders cannot move there.
  if (!S_ISREG(st.st_mode)) return false;
  std::string dst = MapPath(destination);
  int in = OpenCloexec(src, O_RDONLY);
  if (in < 0) return FailErrno(src);
  bool ok = CopyContents(in, st, dst, true);
  close(in);
  if (ok) unlink(src.c_str());
  return ok;
}

bool CopyFileTo(const std::string& source, const std::string& destination, bool failIfExists) {
  std::string src;
  struct stat st;
  if (!StatPath(source, src, st)) return false;
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  Found found;
  std::string dst = ResolvePath(destination, found);
  if (dst.empty()) return false;
  if (found == Found::Less) return Fail(kErrorPathNotFound);
  if (InUse(src, false, &st)) return Fail(kErrorSharingViolation);
  struct stat dstStat;
  if (found == Found::Whole && stat(dst.c_str(), &dstStat) == 0) {
    if (failIfExists) return Fail(kErrorFileExists);
    if (S_ISDIR(dstStat.st_mode) || ReadOnlyMode(dstStat.st_mode)) return Fail(kErrorAccessDenied);
    if (dstStat.st_dev == st.st_dev && dstStat.st_ino == st.st_ino) return Fail(kErrorSharingViolation);
    if (InUse(dst, true, &dstStat)) return Fail(kErrorSharingViolation);
  }
  int in = OpenCloexec(src, O_RDONLY);
  if (in < 0) return FailErrno(src);
  bool ok = CopyContents(in, st, dst, failIfExists);
  close(in);
  return ok;
}

TLocalTime Now() {
  time_t t = time(nullptr);
  struct tm tm {};
  localtime_r(&t, &tm);
  return TLocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {

// The modification time to give a file for a local calendar time; false with the
// last error set for a time no calendar has.
bool ModifiedTimes(const TLocalTime& time, struct timespec (&times)[2]) {
  if (time.Month < 1 || time.Month > 12 || time.Day < 1 || time.Day > 31 || time.Hour < 0 || time.Hour > 23 ||
      time.Minute < 0 || time.Minute > 59 || time.Second < 0 || time.Second > 59 || time.Year < 1601)
    return Fail(kErrorInvalidParameter);
  struct tm tm {};
  tm.tm_year = time.Year - 1900;
  tm.tm_mon = time.Month - 1;
  tm.tm_mday = time.Day;
  tm.tm_hour = time.Hour;
  tm.tm_min = time.Minute;
  tm.tm_sec = time.Second;
  // mktime's answer, without mktime: it reads the zone file again for every file
  // an extraction dates. Of the offsets in force half a day either side, the one
  // that holds at its own moment; the earlier moment when a time occurs twice, the
  // earlier rule for a time the clock skips.
  const time_t asUtc = timegm(&tm);
  const time_t early = asUtc - OffsetAt(asUtc - 43200), late = asUtc - OffsetAt(asUtc + 43200);
  const bool earlyHolds = OffsetAt(early) == asUtc - early, lateHolds = OffsetAt(late) == asUtc - late;
  times[0] = {0, UTIME_OMIT};
  times[1] = {earlyHolds && lateHolds ? std::min(early, late) : lateHolds ? late : early, 0};
  return true;
}

}  // namespace

bool SetLastWriteTime(const std::string& path, const TLocalTime& time) {
  struct timespec times[2];
  if (!ModifiedTimes(time, times)) return false;
  std::string host;
  return OnHost(path, host, [&](const std::string& h) { return utimensat(AT_FDCWD, h.c_str(), times, 0); });
}

std::optional<TLocalTime> GetLastWriteTime(const std::string& path) {
  std::string host;
  struct stat st;
  if (!StatPath(path, host, st)) return std::nullopt;
  struct tm tm {};
  time_t t = st.st_mtim.tv_sec;
  localtime_r(&t, &tm);
  return TLocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string ShortPathName(const std::string& path, uint32_t bufferSize) {
  std::string host;
  struct stat st;
  if (!StatPath(path, host, st)) return std::string();
  if (path.size() >= bufferSize) {
    Fail(kErrorInvalidParameter);
    return std::string();
  }
  return path;
}

namespace {

// Runs op on a descriptor of the host path opened with flags.
template <typename Op>
bool OnDescriptor(const std::string& path, int flags, Op op) {
  std::string host;
  int fd = -1;
  if (!OnHost(path, host, [&](const std::string& h) {
        fd = OpenCloexec(h, flags);
        return fd < 0 ? -1 : 0;
      }))
    return false;
  const bool ok = op(fd) == 0 || FailErrno(host);
  close(fd);
  return ok;
}

}  // namespace

bool FlushFolder(const std::string& path) {
  return OnDescriptor(path, O_RDONLY | O_DIRECTORY, [](int fd) { return fsync(fd); });
}

bool FlushVolume(const std::string& path) {
  return OnDescriptor(path, O_RDONLY, [](int fd) { return syncfs(fd); });
}

bool FlushFile(const std::string& path) {
  return OnDescriptor(path, O_RDONLY, [](int fd) { return fsync(fd); });
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> dirs, files;
  std::string host;
  int fd = -1;
  if (!OnHost(path, host, [&](const std::string& h) {
        fd = OpenCloexec(h, O_RDONLY | O_DIRECTORY);
        return fd < 0 ? -1 : 0;
      }))
    return {};
  DIR* d = fdopendir(fd);
  if (!d) {
    FailErrno(host);
    close(fd);
    return {};
  }
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    // The entry's own type where the file system gives it; a link counts as what it leads to.
    bool folder = e->d_type == DT_DIR;
    struct stat st;
    if ((e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) && fstatat(fd, e->d_name, &st, 0) == 0)
      folder = S_ISDIR(st.st_mode);
    if (folder)
      dirs.push_back(AnsiText(name) + "\\");
    else
      files.push_back(AnsiText(name));
  }
  closedir(d);
  std::sort(dirs.begin(), dirs.end(), LessNoCase);
  std::sort(files.begin(), files.end(), LessNoCase);
  dirs.insert(dirs.end(), files.begin(), files.end());
  SetError(kErrorSuccess);
  return dirs;
}

// ---------------------------------------------------------------- TFileStream

namespace {
[[noreturn]] void ThrowOpen(const std::string& path, TFileMode mode, uint32_t code) {
  SetError(code);
  if (mode == TFileMode::CreateExclusive || mode == TFileMode::CreateTemporary)
    throw EFCreateError("Cannot create file \"" + path + "\". " + SysErrorMessage(code));
  throw EFOpenError("Cannot open file \"" + path + "\". " + SysErrorMessage(code));
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
    Found found;
    const std::string host = ResolvePath(path, found);
    if (host.empty()) ThrowOpen(path, mode, LastError());
    if (found != Found::Folder) ThrowOpen(path, mode, found == Found::Whole ? kErrorFileExists : kErrorPathNotFound);
    // No fall-back to opening what is there: O_EXCL refuses an existing file and
    // a link alike, O_NOFOLLOW says so once more.
    const int fd = OpenCloexec(host, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) ThrowOpen(path, mode, ErrnoToError(errno, host));
    flock(fd, LOCK_EX | LOCK_NB);  // a new file: nobody else can hold it yet
    handle_ = fd;
    temporary_ = true;
    return;
  }
  int flags = O_NOCTTY | (mode == TFileMode::CreateExclusive ? O_RDWR | O_CREAT : 0);
  if (mode == TFileMode::OpenRead) flags |= O_RDONLY;
  if (mode == TFileMode::OpenReadWrite) flags |= O_RDWR;
  std::string host;
  int fd = -1;
  bool made = false;
  if (mode == TFileMode::CreateExclusive) {
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
  } else if (!OnHost(path, host, [&](const std::string& h) {
               fd = OpenCloexec(h, flags, 0666);
               return fd < 0 ? -1 : 0;
             })) {
    ThrowOpen(path, mode, LastError());
  }
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
  if (made && ownFolder) {
    handle_ = fd;
    return;
  }
  // Sharing: readers take nothing but respect an exclusive holder; a read-write
  // opener lets others read (shared lock after proving nobody else writes); a
  // creator keeps the file to itself.
  int probe = mode == TFileMode::OpenRead ? LOCK_SH : LOCK_EX;
  if (flock(fd, probe | LOCK_NB) != 0) {
    close(fd);
    ThrowOpen(path, mode, kErrorSharingViolation);
  }
  if (mode == TFileMode::OpenRead) flock(fd, LOCK_UN);
  if (mode == TFileMode::OpenReadWrite) flock(fd, LOCK_SH);
  if (mode == TFileMode::CreateExclusive && !made && ftruncate(fd, 0) != 0) {
    uint32_t code = ErrnoToError(errno, host);
    close(fd);
    ThrowOpen(path, mode, code);
  }
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
