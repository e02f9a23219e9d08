// Whole folders removed, and paths checked, without ever following a link: the
// updater may run as root over folders other accounts can write (a shared TEMP,
// an installation folder), where a planted link must not lead it elsewhere.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/posix_internal.h"

namespace platform {

using namespace posix;

namespace {

// Deeper trees than this are left where they are: each level holds a descriptor.
constexpr int kMaxDepth = 256;

// Whether another program holds the regular file name of folder dir (an flock
// that excludes a writer): such a file cannot be deleted on Windows, so it stays.
bool HeldAt(int dir, const char* name, const struct stat& st, const THeldFiles* held) {
  if (!S_ISREG(st.st_mode)) return false;
  if (held && !held->MayBeHeld({true, st.st_dev, st.st_ino})) return false;
  const int fd = openat(dir, name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return busy;
}

std::vector<std::string> NamesAt(int dir) {
  std::vector<std::string> names;
  const int listing = dup(dir);
  DIR* d = listing < 0 ? nullptr : fdopendir(listing);
  if (!d) {
    if (listing >= 0) close(listing);
    return names;
  }
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

bool RemoveAt(int parent, const std::string& name, const THeldFiles* held, int depth);

// Empties the open folder dir; true when nothing is left in it.
bool EmptyAt(int dir, const THeldFiles* held, int depth) {
  bool empty = true;
  for (const std::string& name : NamesAt(dir)) empty = RemoveAt(dir, name, held, depth) && empty;
  return empty;
}

// Removes name of the open folder parent, a folder with what it holds; a link
// as a link.
bool RemoveAt(int parent, const std::string& name, const THeldFiles* held, int depth) {
  struct stat st;
  if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT || FailErrno();
  if (!S_ISDIR(st.st_mode)) {
    if (HeldAt(parent, name.c_str(), st, held)) return Fail(kErrorSharingViolation);
    return unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT || FailErrno();
  }
  if (depth >= kMaxDepth) return Fail(kErrorFilenameTooLong);
  // O_NOFOLLOW: a folder swapped for a link since the look is not entered.
  const int dir = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) {
    if (errno == ELOOP || errno == ENOTDIR) return unlinkat(parent, name.c_str(), 0) == 0 || FailErrno();
    return errno == ENOENT || FailErrno();
  }
  const bool empty = EmptyAt(dir, held, depth + 1);
  close(dir);
  return empty && (unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT || FailErrno());
}

// The host path of a Windows path and the parts its last name splits it into.
bool SplitHost(const std::string& path, std::string& host, std::string& folder, std::string& name) {
  host = MapPath(path);
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  const size_t slash = host.rfind('/');
  if (host.empty() || slash == std::string::npos || slash + 1 == host.size()) return false;
  folder = slash == 0 ? "/" : host.substr(0, slash);
  name = host.substr(slash + 1);
  return true;
}

}  // namespace

bool RemoveTree(const std::string& path, const THeldFiles* held) {
  std::string host, folder, name;
  if (!SplitHost(path, host, folder, name)) return Fail(kErrorInvalidName);
  const int parent = OpenCloexec(folder, O_RDONLY | O_DIRECTORY);
  if (parent < 0) return errno == ENOENT || FailErrno(folder);
  const bool removed = RemoveAt(parent, name, held, 0);
  close(parent);
  return removed;
}

bool NoLinkBelow(const std::string& folder, const std::string& relative) {
  std::string top = MapPath(folder);
  if (top.empty()) return false;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  std::string below = relative;
  for (char& c : below)
    if (c == '/') c = '\\';
  const size_t last = below.rfind('\\');
  if (last == std::string::npos) return true;
  // Each name as the disk spells it, found without regard to case as every
  // operation finds it.
  const std::string host = MapPath(folder + "\\" + below.substr(0, last));
  if (host.size() <= top.size() || host.compare(0, top.size(), top) != 0 || host[top.size()] != '/') return false;
  for (size_t at = top.size() + 1; at <= host.size(); ++at) {
    if (at != host.size() && host[at] != '/') continue;
    struct stat st;
    if (lstat(host.substr(0, at).c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (!S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

bool ReadOwnFile(const std::string& path, size_t maxBytes, std::string& bytes) {
  bytes.clear();
  std::string host;
  int fd = -1;
  // O_NONBLOCK: a FIFO at the name must not hold the reader.
  if (!OnHost(path, host, [&](const std::string& h) {
        fd = OpenCloexec(h, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        return fd < 0 ? -1 : 0;
      }))
    return errno == ELOOP ? Fail(kErrorAccessDenied) : false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 ? true : FailErrno(host);
  if (ok && !S_ISREG(st.st_mode)) ok = Fail(kErrorAccessDenied);
  if (ok && static_cast<uint64_t>(st.st_size) > maxBytes) ok = Fail(kErrorFileTooLarge);
  if (ok) bytes.resize(static_cast<size_t>(st.st_size));
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      bytes.resize(done);  // cut shorter meanwhile: what there is
      ok = n == 0 || FailErrno(host);
      break;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return ok;
}

bool OwnFolder(const std::string& path) {
  const std::string host = MapPath(path);
  struct stat st;
  if (host.empty() || lstat(host.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace platform
