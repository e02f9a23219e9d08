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

bool StatPath(const std::string& path, std::string& host, struct stat& st) {
  return OnHost(path, host, [&](const std::string& h) { return stat(h.c_str(), &st); });
}

// The zone's offset from UTC at a moment, in seconds.
long OffsetAt(time_t t) {
  struct tm local {};
  return localtime_r(&t, &local) ? local.tm_gmtoff : 0;
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
  std::string dir = text::WithoutTrailingSeparators(path);
  if (dir.size() < 3 || DirectoryExists(dir)) return true;
  size_t sep = dir.find_last_of("\\/");
  if (sep != std::string::npos) {
    std::string parent = text::WithoutTrailingSeparators(dir.substr(0, sep + 1));
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
  std::string name = text::WithoutTrailingSeparators(host);
  size_t slash = name.rfind('/');
  if (slash != std::string::npos && name.compare(slash + 1, 1, ".") == 0 && name.substr(slash + 1) != "." &&
      name.substr(slash + 1) != "..")
    attr |= faHidden;  // the host's hidden files, as Wine shows them
  return attr;
}

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

bool FlushesFileByFile(const std::string&) { return false; }  // syncfs is anyone's

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

namespace posix {

bool ReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

// The program never changes its creation mask, so it is read once: from the
// kernel's status file, which leaves it alone, or else by setting it and putting
// it back before anything else runs.
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

}  // namespace posix

}  // namespace platform
