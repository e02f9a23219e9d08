// What the process has read of its folders, kept for the run. Finding a name
// without regard to case means reading the whole folder; an extraction asks that
// for every new file, which would make the work grow with the square of a folder's
// size. So a folder read once is kept with its names, and the kernel tells us
// (inotify) of every name made, removed or renamed in it afterwards, by this
// process or any other, before we answer from it again. Before each answer the
// folder's path must still lead to the folder we watch (an ancestor may have been
// renamed); when anything is uncertain (the event queue overflowed, a file system
// whose other writers the kernel cannot see) the folder is read afresh instead.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <climits>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/text.h"
#include "platform/posix/posix_internal.h"

namespace platform::posix {

namespace {

// Bounds on what is kept: about 60 MB at most, for a million names.
constexpr size_t kMaxFolders = 1024;
constexpr size_t kMaxNames = 1u << 20;

constexpr uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// File systems where every change passes through this kernel, so inotify sees
// what other processes do (network and FUSE file systems are read afresh).
bool LocalFileSystem(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<uint64_t>(fs.f_type)) {
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x52654973:  // reiserfs
    case 0x3153464A:  // jfs
    case 0x794C7630:  // overlayfs
    case 0x4D44:      // vfat
    case 0x2011BAB0:  // exfat
    case 0x5346544E:  // ntfs
    case 0x7366746E:  // ntfs3
      return true;
    default: return false;
  }
}

// Names compare as the program sees them: as 1252 text, letters without regard to case.
std::string Folded(const std::string& host) { return text::AnsiUpperCase(AnsiText(host)); }
struct FoldedHash {
  size_t operator()(const std::string& host) const { return std::hash<std::string>{}(Folded(host)); }
};
struct FoldedEqual {
  bool operator()(const std::string& a, const std::string& b) const { return Folded(a) == Folded(b); }
};
using Names = std::unordered_multiset<std::string, FoldedHash, FoldedEqual>;

struct Folder {
  std::string host;
  dev_t device = 0;
  ino_t inode = 0;
  int watch = -1;
  uint64_t lastUse = 0;
  Names names;
};

bool HasExactly(const Names& names, const std::string& name) {
  auto [from, to] = names.equal_range(name);
  for (auto it = from; it != to; ++it)
    if (*it == name) return true;
  return false;
}

// The spelling of name in names: its own when present, else the first that
// differs only in case.
NameLookup Answer(const Names& names, const std::string& name, std::string& spelling) {
  auto [from, to] = names.equal_range(name);
  if (from == to) return NameLookup::Absent;
  spelling = *from;
  for (auto it = from; it != to; ++it)
    if (*it == name) spelling = name;
  return NameLookup::Present;
}

class FolderCache {
 public:
  NameLookup Find(const std::string& folder, const std::string& name, std::string& spelling) {
    std::lock_guard<std::mutex> lock(mutex_);
    Drain();
    auto it = folders_.find(folder);
    if (it != folders_.end()) {
      Folder& f = *it->second;
      struct stat st;
      if (stat(folder.c_str(), &st) == 0 && st.st_dev == f.device && st.st_ino == f.inode) {
        f.lastUse = ++clock_;
        return Answer(f.names, name, spelling);
      }
      Forget(f, false);
    }
    return ReadFolder(folder, name, spelling);
  }

 private:
  NameLookup ReadFolder(const std::string& folder, const std::string& name, std::string& spelling) {
    int fd = OpenCloexec(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return NameLookup::NoFolder;
      // A folder we may search but not list: only the exact spelling can be found.
      struct stat st;
      if (lstat((folder + "/" + name).c_str(), &st) != 0) return NameLookup::Absent;
      spelling = name;
      return NameLookup::Present;
    }
    auto f = std::make_unique<Folder>();
    f->host = folder;
    struct stat st;
    if (fstat(fd, &st) == 0) {
      f->device = st.st_dev;
      f->inode = st.st_ino;
      // Watched before it is read: a change in between shows in both, harmlessly.
      if (LocalFileSystem(fd) && Ready())
        f->watch = inotify_add_watch(inotify_, ("/proc/self/fd/" + std::to_string(fd)).c_str(), kWatchMask);
    }
    DIR* d = fdopendir(fd);
    if (!d) {
      close(fd);
      Release(*f);
      return NameLookup::Absent;
    }
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' && (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0'))) continue;
      f->names.emplace(e->d_name);
    }
    closedir(d);
    NameLookup result = Answer(f->names, name, spelling);
    Keep(std::move(f));
    return result;
  }

  // Keeps a folder just read, if it is watched and fits; makes room by
  // forgetting the folders least recently asked about.
  void Keep(std::unique_ptr<Folder> f) {
    if (f->watch < 0 || watches_.count(f->watch) != 0 || f->names.size() > kMaxNames) {
      // Not watched, watched already under another path (the same folder), or too big.
      Release(*f);
      return;
    }
    while (!folders_.empty() && (folders_.size() >= kMaxFolders || names_ + f->names.size() > kMaxNames)) {
      Folder* oldest = nullptr;
      for (auto& [host, other] : folders_)
        if (!oldest || other->lastUse < oldest->lastUse) oldest = other.get();
      Forget(*oldest, false);
    }
    f->lastUse = ++clock_;
    names_ += f->names.size();
    watches_[f->watch] = f.get();
    std::string host = f->host;
    folders_[host] = std::move(f);
  }

  // Stops watching a folder that is not kept (only when the watch is its own).
  void Release(Folder& f) {
    if (f.watch >= 0 && watches_.count(f.watch) == 0) inotify_rm_watch(inotify_, f.watch);
    f.watch = -1;
  }

  void Forget(Folder& f, bool watchGone) {
    if (!watchGone) inotify_rm_watch(inotify_, f.watch);
    watches_.erase(f.watch);
    names_ -= f.names.size();
    folders_.erase(f.host);  // destroys f
  }

  void ForgetAll() {
    folders_.clear();
    watches_.clear();
    names_ = 0;
    if (inotify_ >= 0) close(inotify_);  // drops every watch with it
    inotify_ = -1;
  }

  bool Ready() {
    if (inotify_ < 0 && !failed_) {
      inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      // Without inotify (limits reached, no kernel support) every folder is read afresh.
      failed_ = inotify_ < 0;
    }
    return inotify_ >= 0;
  }

  // Applies every event queued so far.
  void Drain() {
    if (inotify_ < 0) return;
    for (;;) {
      ssize_t n = read(inotify_, buffer_.data(), buffer_.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n < 0 && errno != EAGAIN) ForgetAll();  // what was missed is unknown
        return;
      }
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer_.data() + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->mask & IN_Q_OVERFLOW) {
          ForgetAll();
          return;
        }
        Apply(*e);
      }
      // A buffer that had room for one more event held all there were.
      if (static_cast<size_t>(n) + sizeof(inotify_event) + NAME_MAX + 1 <= buffer_.size()) return;
    }
  }

  void Apply(const inotify_event& e) {
    auto it = watches_.find(e.wd);
    if (it == watches_.end()) return;
    Folder& f = *it->second;
    // A folder deleted or unmounted loses its watch by itself; one moved keeps it.
    if (e.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) return Forget(f, true);
    if (e.mask & IN_MOVE_SELF) return Forget(f, false);
    if (e.len == 0) return;
    std::string name(e.name);
    if (e.mask & (IN_CREATE | IN_MOVED_TO)) {
      if (HasExactly(f.names, name)) return;
      f.names.insert(std::move(name));
      if (++names_ > kMaxNames) Forget(f, false);
    } else if (e.mask & (IN_DELETE | IN_MOVED_FROM)) {
      auto [from, to] = f.names.equal_range(name);
      for (auto n = from; n != to; ++n)
        if (*n == name) {
          f.names.erase(n);
          --names_;
          break;
        }
    }
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<Folder>> folders_;  // by host path
  std::unordered_map<int, Folder*> watches_;
  size_t names_ = 0;
  uint64_t clock_ = 0;
  int inotify_ = -1;
  bool failed_ = false;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
};

FolderCache& Cache() {
  static FolderCache* cache = new FolderCache;  // lives to the end, whatever thread asks last
  return *cache;
}

}  // namespace

NameLookup FindName(const std::string& folder, const std::string& name, std::string& spelling) {
  return Cache().Find(folder.empty() ? "/" : folder, name, spelling);
}

}  // namespace platform::posix
