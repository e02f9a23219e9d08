// Windows path texts on the host. The emulated machine lives in $ORBAX_PREFIX the
// way a Wine prefix does: C: is its drive_c folder, Z: is the host's root. Names
// are UTF-8 on the host (host_names.cpp) and are matched without regard to case,
// as Windows does, where the exact spelling is missing.
#include <pwd.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "platform/posix/posix_internal.h"

namespace platform {
namespace posix {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsHostSeparator(char c) { return c == '/'; }

std::string HostCwd() {
  std::vector<char> buf(4096);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
  return std::string(buf.data());
}

// Splits at runs of separators and resolves "." and ".." without ever climbing
// above the root, the way Windows normalises a full path. A host name may hold a
// backslash: host paths split at "/" only.
void AppendComponents(std::vector<std::string>& parts, const std::string& text, size_t from,
                      bool (*separator)(char) = IsSeparator) {
  size_t i = from;
  while (i < text.size()) {
    while (i < text.size() && separator(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !separator(text[i])) ++i;
    if (i == start) break;
    std::string part = text.substr(start, i - start);
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
}

std::string LexicalHost(const std::string& host) {
  std::vector<std::string> parts;
  std::string abs = host;
  if (abs.empty() || abs[0] != '/') abs = HostCwd() + "/" + abs;
  AppendComponents(parts, abs, 0, IsHostSeparator);
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (passwd* pw = getpwuid(getuid())) return pw->pw_dir;
  return "/tmp";
}

void MakeDir(const std::string& p) { mkdir(p.c_str(), 0755); }

std::mutex prefixMutex;
std::string preparedPrefix;

// The folder that holds the drive's files (no trailing slash; "" for the root).
std::string DriveBase(char drive) {
  if (drive == 'C') return PrefixDir() + "/drive_c";
  if (drive == 'Z') return std::string();
  return "\x01";  // not accessible
}

// The drive letter and components of the current folder.
char CurrentDrive(std::vector<std::string>& parts) {
  std::string win = FromHostPath(HostCwd());
  parts.clear();
  AppendComponents(parts, win, 2);
  return win.empty() ? 'Z' : win[0];
}

// A Windows path split up: the host folder of its drive ("" for the host's root)
// and its names in host bytes, "." and ".." resolved.
struct SplitPath {
  std::string base;
  std::vector<std::string> names;
  bool trailingSeparator = false;
};

bool Split(const std::string& path, SplitPath& out) {
  if (path.empty()) return Fail(kErrorPathNotFound);
  char drive;
  std::vector<std::string> parts;
  size_t restStart;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    drive = text::AnsiUpper(path[0]);
    restStart = 2;
    if (path.size() == 2 || !IsSeparator(path[2])) {
      // "C:name" is relative to the current folder when that lies on the drive.
      std::vector<std::string> cwdParts;
      if (CurrentDrive(cwdParts) == drive) parts = cwdParts;
    }
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return Fail(kErrorPathNotFound);  // network and device paths are not emulated
  } else {
    std::vector<std::string> cwdParts;
    drive = CurrentDrive(cwdParts);
    if (!IsSeparator(path[0])) parts = cwdParts;
    restStart = 0;
  }
  AppendComponents(parts, path, restStart);
  out.base = DriveBase(drive);
  if (out.base == "\x01") return Fail(kErrorPathNotFound);
  out.names.clear();
  for (const auto& part : parts) out.names.push_back(HostText(part));
  out.trailingSeparator = IsSeparator(path.back()) && !parts.empty();
  return true;
}

std::string Join(const SplitPath& p, size_t count) {
  std::string host = p.base;
  for (size_t i = 0; i < count; ++i) host += "/" + p.names[i];
  return host;
}

std::string Finished(const SplitPath& p, std::string host) {
  if (host.empty()) return "/";
  if (p.trailingSeparator) host += "/";
  return host;
}

// The host path of the first count names, found as far as they exist. Each name is
// looked for in its folder spelled as given; only when that folder is missing is
// the folder itself looked for, one level up.
std::string Resolve(const SplitPath& p, size_t count, Found& found) {
  found = Found::Whole;
  if (count == 0) return p.base;
  const std::string& name = p.names[count - 1];
  std::string folder = Join(p, count - 1);
  std::string spelling;
  NameLookup look = FindName(folder, name, spelling);
  if (look == NameLookup::NoFolder && count > 1) {
    Found folderFound;
    std::string resolved = Resolve(p, count - 1, folderFound);
    if (folderFound == Found::Whole) {
      folder = resolved;
      look = FindName(folder, name, spelling);
    }
  }
  switch (look) {
    case NameLookup::Present: return folder + "/" + spelling;
    case NameLookup::Absent: found = Found::Folder; break;
    case NameLookup::NoFolder: found = Found::Less; break;
  }
  return folder + "/" + name;
}

}  // namespace

std::string UserName() {
  static const std::string name = [] {
    if (passwd* pw = getpwuid(getuid())) return std::string(pw->pw_name);
    const char* user = std::getenv("USER");
    return std::string(user && *user ? user : "user");
  }();
  return name;
}

std::string PrefixDir(bool create) {
  const char* env = std::getenv("ORBAX_PREFIX");
  std::string prefix = env && *env ? std::string(env) : HomeDir() + "/.orbax";
  prefix = LexicalHost(prefix);
  if (!create) return prefix;
  std::lock_guard<std::mutex> lock(prefixMutex);
  if (prefix != preparedPrefix) {
    // Create the emulated machine on first use, as Wine creates its prefix.
    std::vector<std::string> parts;
    AppendComponents(parts, prefix, 0, IsHostSeparator);
    std::string p;
    for (const auto& part : parts) {
      p += "/" + part;
      MakeDir(p);
    }
    MakeDir(prefix + "/drive_c");
    MakeDir(prefix + "/drive_c/Windows");
    preparedPrefix = prefix;
  }
  return prefix;
}

std::string ExactPath(const std::string& path) {
  SplitPath p;
  if (!Split(path, p)) return std::string();
  return Finished(p, Join(p, p.names.size()));
}

std::string MapPath(const std::string& path) {
  SplitPath p;
  if (!Split(path, p)) return std::string();
  std::string exact = Join(p, p.names.size());
  struct stat st;
  if (p.names.empty() || lstat(exact.c_str(), &st) == 0) return Finished(p, exact);
  Found found;
  return Finished(p, Resolve(p, p.names.size(), found));
}

std::string ResolvePath(const std::string& path, Found& found) {
  SplitPath p;
  if (!Split(path, p)) return std::string();
  return Finished(p, Resolve(p, p.names.size(), found));
}

uint32_t MissingError(Found found) {
  return found == Found::Less ? kErrorPathNotFound : found == Found::Folder ? kErrorFileNotFound : kErrorSuccess;
}

}  // namespace posix

std::string HostPath(const std::string& path) { return posix::MapPath(path); }

std::string FromHostPath(const std::string& hostPath) {
  std::string abs = posix::LexicalHost(hostPath);
  std::string driveC = posix::PrefixDir(false) + "/drive_c";
  std::vector<std::string> bases = {driveC};
  if (char* real = realpath(driveC.c_str(), nullptr)) {
    bases.push_back(real);
    std::free(real);
  }
  std::string drive = "Z:", rest = abs;
  for (const auto& base : bases) {
    if (abs == base ||
        (abs.size() > base.size() && abs.compare(0, base.size(), base) == 0 && abs[base.size()] == '/')) {
      drive = "C:";
      rest = abs.substr(base.size());
      break;
    }
  }
  std::vector<std::string> names;
  posix::AppendComponents(names, rest, 0, posix::IsHostSeparator);
  std::string out = drive + "\\";
  for (size_t i = 0; i < names.size(); ++i) out += (i ? "\\" : "") + posix::AnsiText(names[i]);
  return out;
}

bool DriveAccessible(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') {
    char d = text::AnsiUpper(path[0]);
    return d == 'C' || d == 'Z';
  }
  if (path.size() >= 2 && posix::IsSeparator(path[0]) && posix::IsSeparator(path[1])) return false;
  return true;  // the current folder is always on C: or Z:
}

bool SetCurrentDir(const std::string& path) {
  std::string host = posix::MapPath(path);
  if (host.empty()) return false;
  if (chdir(host.c_str()) != 0) return posix::FailErrno(host);
  return true;
}

std::string GetCurrentDir() {
  std::string cwd = posix::HostCwd();
  if (cwd.empty()) {
    posix::FailErrno();
    return std::string();
  }
  return FromHostPath(cwd);
}

std::string WindowsDir() { return "C:\\Windows"; }

std::string TempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string host;
  if (env && *env) {
    host = env;
  } else {
    // A folder of the user's own in the emulated machine, as Wine gives each user
    // one: a shared /tmp only when TMPDIR asks for it.
    host = posix::PrefixDir() + "/drive_c/users";
    mkdir(host.c_str(), 0755);
    host += "/" + posix::UserName();
    mkdir(host.c_str(), 0755);
    host += "/Temp";
    mkdir(host.c_str(), 0700);
  }
  std::string win = FromHostPath(host);
  if (win.back() != '\\') win += '\\';
  return win;
}

}  // namespace platform
