// The registry as REGEDIT4 text hives: $ORBAX_PREFIX/user.reg holds
// HKEY_CURRENT_USER, system.reg the other roots (each key header names its root).
// Every operation reads the hive under a shared flock on "<hive>.lock"; every
// change is a read-modify-write under the exclusive lock, written whole to a new
// "<hive>.<GUID>.tmp", flushed and renamed over the hive, so a writer killed at any moment
// leaves either the old or the new hive and two writers never lose each other's
// values. The text form and the tree are regedit4.h's.
//
// A hive that holds an installation's list of files runs to megabytes, and an
// update asks it dozens of things: the process keeps the tree it last read or
// wrote and reads the file again only when it is another file by now. Every write
// makes a new file (a new inode) and gives it a modification time with random
// nanoseconds, so a file that looks the same is the same even where inode numbers
// are reused at once.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <random>

#include "base/text.h"
#include "platform/posix/posix_internal.h"
#include "platform/regedit4.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace platform {

using namespace posix;
using regedit4::Hive;
using regedit4::Key;
using regedit4::SplitKeyPath;
using regedit4::Walk;

namespace {

const char* RootName(uint32_t root) {
  switch (root) {
    case HKEY_CLASSES_ROOT_ID: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER_ID: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE_ID: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS_ID: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG_ID: return "HKEY_CURRENT_CONFIG";
    default: return nullptr;
  }
}

// The shell keeps these folders in the registry; the first use of a machine (or
// a hive that lost them) gets the Wine-like defaults inside the prefix.
void SeedShellFolders(Hive& hive) {
  Key* key = hive.top.Add("HKEY_CURRENT_USER");
  for (const char* p : {"Software", "Microsoft", "Windows", "CurrentVersion", "Explorer", "Shell Folders"})
    key = key->Add(p);
  std::string home = "C:\\users\\" + UserName();
  const std::pair<const char*, std::string> defaults[] = {
      {"Programs", home + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"Desktop", home + "\\Desktop"}};
  for (const auto& [name, folder] : defaults)
    if (!key->Value(name)) key->values.emplace_back(name, TRegValue{REG_SZ_TYPE, folder});
}

// What identifies one written state of a hive file.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  int64_t seconds = 0, nanoseconds = 0;
  bool operator==(const Identity& o) const {
    return device == o.device && inode == o.inode && size == o.size && seconds == o.seconds &&
           nanoseconds == o.nanoseconds;
  }
};

Identity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec),
          static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

// The tree of each hive file as this process last read or wrote it.
struct Kept {
  Identity identity;  // size -1: the file was missing
  Hive hive;
};
std::mutex keptMutex;  // held over each operation, with the hive's own lock
std::map<std::string, Kept>& KeptHives() {
  static auto* kept = new std::map<std::string, Kept>;  // lives to the end, whatever thread asks last
  return *kept;
}

class HiveFile {
 public:
  explicit HiveFile(uint32_t root) : user_(root == HKEY_CURRENT_USER_ID) {
    path_ = PrefixDir() + (user_ ? "/user.reg" : "/system.reg");
  }

  // Runs fn on the hive under the shared lock.
  bool Read(const std::function<bool(Hive&)>& fn) {
    std::lock_guard<std::mutex> keep(keptMutex);
    int lock = Lock(LOCK_SH);
    if (lock < 0) return false;
    Hive* hive = Load();
    bool ok = hive && fn(*hive);
    close(lock);
    return ok;
  }

  // Runs fn under the exclusive lock; when it returns true, writes the hive.
  bool Change(const std::function<bool(Hive&)>& fn) {
    std::lock_guard<std::mutex> keep(keptMutex);
    int lock = Lock(LOCK_EX);
    if (lock < 0) return false;
    Hive* hive = Load();
    bool ok = hive != nullptr;
    if (ok && hive->corrupt) ok = Fail(kErrorRegistryCorrupt);
    if (ok) ok = fn(*hive);
    if (ok) ok = Save(*hive);
    // A tree fn may have changed without the file following is not the file's.
    if (hive && !ok) KeptHives().erase(path_);
    close(lock);
    return ok;
  }

 private:
  int Lock(int how) {
    int fd = OpenCloexec(path_ + ".lock", O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0) {
      FailErrno(path_);
      return -1;
    }
    while (flock(fd, how) != 0) {
      if (errno != EINTR) {
        FailErrno();
        close(fd);
        return -1;
      }
    }
    return fd;
  }

  // The hive as the file holds it now: the kept tree while the file is the one it
  // came from, else the file read afresh.
  Hive* Load() {
    auto& kept = KeptHives();
    struct stat st;
    Identity now;
    if (stat(path_.c_str(), &st) == 0)
      now = IdentityOf(st);
    else if (errno != ENOENT)
      return FailErrno(path_), nullptr;
    auto it = kept.find(path_);
    if (it != kept.end() && it->second.identity == now) return &it->second.hive;
    Kept fresh;
    if (now.size >= 0) {
      int fd = OpenCloexec(path_, O_RDONLY);
      if (fd < 0 && errno != ENOENT) return FailErrno(path_), nullptr;
      if (fd >= 0) {
        std::string text;
        const bool read = ReadAll(fd, text) && fstat(fd, &st) == 0;
        if (!read) FailErrno();
        close(fd);
        if (!read) return nullptr;
        fresh.identity = IdentityOf(st);
        // A file another writer changed in place within a clock tick of now could
        // change again and keep its time: such a tree is used once, not kept.
        struct timespec clock;
        clock_gettime(CLOCK_REALTIME, &clock);
        if (st.st_mtim.tv_sec >= clock.tv_sec - 1) fresh.identity.size = -2;
        regedit4::Parse(text, fresh.hive);
      }
    }
    if (user_) SeedShellFolders(fresh.hive);
    Kept& slot = kept[path_];
    slot = std::move(fresh);
    return &slot.hive;
  }

  static bool ReadAll(int fd, std::string& text) {
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      text.append(buf, static_cast<size_t>(n));
    }
  }

  bool Save(const Hive& hive) {
    std::string text = regedit4::Format(hive, [this](const std::string& root) {
      return (text::AnsiCompareUpper(root, "HKEY_CURRENT_USER") == 0) == user_;
    });
    // A name of its own, made new: never another writer's file, nor a link.
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
      tmp = path_ + "." + NewGuidText() + ".tmp";
      fd = OpenCloexec(tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return FailErrno(tmp);
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        FailErrno();
        close(fd);
        unlink(tmp.c_str());
        return false;
      }
      done += static_cast<size_t>(n);
    }
    // This state's mark: now, to the second, with nanoseconds no other write shares.
    static std::mt19937 random{std::random_device{}()};
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr), static_cast<long>(random() % 1000000000)}};
    // Flushed before the rename, so even a machine crash leaves a whole hive.
    if (futimens(fd, times) != 0 || fsync(fd) != 0 || close(fd) != 0) {
      FailErrno();
      unlink(tmp.c_str());
      return false;
    }
    if (rename(tmp.c_str(), path_.c_str()) != 0) {
      FailErrno();
      unlink(tmp.c_str());
      return false;
    }
    // Change hands out the kept tree: this is it, and this its file now.
    struct stat st;
    auto it = KeptHives().find(path_);
    if (it != KeptHives().end() && &it->second.hive == &hive && stat(path_.c_str(), &st) == 0)
      it->second.identity = IdentityOf(st);
    return true;
  }

  bool user_;
  std::string path_;
};

}  // namespace

struct TRegKey::Impl {
  uint32_t root;
  std::vector<std::string> parts;  // root name first
  bool readOnly;

  // Runs fn on this key, reading or changing the hive; a key deleted meanwhile
  // fails like Windows' handle to a deleted key.
  bool With(bool change, const std::function<bool(Key&)>& fn) {
    HiveFile file(root);
    auto run = [&](Hive& hive) {
      Key* key = Walk(&hive.top, parts);
      if (!key) return Fail(kErrorKeyDeleted);
      return fn(*key);
    };
    return change ? file.Change(run) : file.Read(run);
  }
};

TRegKey::TRegKey() = default;
TRegKey::TRegKey(TRegKey&& other) noexcept = default;
TRegKey& TRegKey::operator=(TRegKey&& other) noexcept = default;
TRegKey::~TRegKey() = default;

bool TRegKey::Open(uint32_t root, const std::string& path, bool create, bool readOnly) {
  impl_.reset();
  const char* rootName = RootName(root);
  if (!rootName) return Fail(kErrorInvalidHandle);
  std::vector<std::string> parts = SplitKeyPath(path);
  parts.insert(parts.begin(), rootName);
  HiveFile file(root);
  bool ok;
  if (create) {
    ok = file.Change([&](Hive& hive) {
      Key* key = &hive.top;
      for (const auto& p : parts) key = key->Add(p);
      return true;
    });
  } else {
    ok = file.Read([&](Hive& hive) { return Walk(&hive.top, parts) != nullptr || Fail(kErrorFileNotFound); });
  }
  if (!ok) return false;
  impl_ = std::make_unique<Impl>(Impl{root, parts, readOnly});
  SetError(kErrorSuccess);
  return true;
}

void TRegKey::Close() { impl_.reset(); }

bool TRegKey::IsOpen() const { return impl_ != nullptr; }

bool TRegKey::SetValue(const std::string& name, const TRegValue& value) {
  if (!impl_) return Fail(kErrorInvalidHandle);
  if (impl_->readOnly) return Fail(kErrorAccessDenied);
  return impl_->With(true, [&](Key& key) {
    if (TRegValue* old = key.Value(name))
      *old = value;
    else
      key.values.emplace_back(name, value);
    return true;
  });
}

bool TRegKey::Flush() {
  if (!impl_) return Fail(kErrorInvalidHandle);
  // Every change reached its hive file before the rename; the renames themselves
  // are the hives' folder's to keep.
  const std::string prefix = PrefixDir();
  const int fd = OpenCloexec(prefix, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return FailErrno(prefix);
  const bool flushed = fsync(fd) == 0 || FailErrno(prefix);
  close(fd);
  return flushed;
}

bool TRegKey::GetValue(const std::string& name, TRegValue& value) const {
  if (!impl_) return Fail(kErrorInvalidHandle);
  return impl_->With(false, [&](Key& key) {
    TRegValue* v = key.Value(name);
    if (!v) return Fail(kErrorFileNotFound);
    value = *v;
    return true;
  });
}

bool TRegKey::HasValue(const std::string& name) const {
  TRegValue ignored;
  return GetValue(name, ignored);
}

bool TRegKey::DeleteValue(const std::string& name) {
  if (!impl_) return Fail(kErrorInvalidHandle);
  if (impl_->readOnly) return Fail(kErrorAccessDenied);
  return impl_->With(true, [&](Key& key) { return key.RemoveValue(name) || Fail(kErrorFileNotFound); });
}

bool TRegKey::SubKeyNames(std::vector<std::string>& names) const {
  if (!impl_) return Fail(kErrorInvalidHandle);
  return impl_->With(false, [&](Key& key) {
    names.clear();
    for (const auto& k : key.subkeys) names.push_back(k->name);
    return true;
  });
}

bool TRegKey::ValueNames(std::vector<std::string>& names) const {
  if (!impl_) return Fail(kErrorInvalidHandle);
  return impl_->With(false, [&](Key& key) {
    names.clear();
    for (const auto& v : key.values) names.push_back(v.first);
    return true;
  });
}

namespace posix {

bool ChangeKey(uint32_t root, const std::string& path, const std::function<bool(Key&)>& fn) {
  const char* rootName = RootName(root);
  if (!rootName) return Fail(kErrorInvalidHandle);
  std::vector<std::string> parts = SplitKeyPath(path);
  parts.insert(parts.begin(), rootName);
  return HiveFile(root).Change([&](Hive& hive) {
    Key* key = Walk(&hive.top, parts);
    return key ? fn(*key) : Fail(kErrorFileNotFound);
  });
}

}  // namespace posix

bool RegDeleteKeyTree(uint32_t root, const std::string& path) {
  const char* rootName = RootName(root);
  if (!rootName) return Fail(kErrorInvalidHandle);
  std::vector<std::string> parts = SplitKeyPath(path);
  if (parts.empty()) return Fail(kErrorInvalidParameter);  // never a whole root
  parts.insert(parts.begin(), rootName);
  std::string last = parts.back();
  parts.pop_back();
  return HiveFile(root).Change([&](Hive& hive) {
    Key* parent = Walk(&hive.top, parts);
    if (!parent || !parent->Remove(last)) return Fail(kErrorFileNotFound);
    return true;
  });
}

}  // namespace platform
