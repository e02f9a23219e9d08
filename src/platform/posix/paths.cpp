// Windows path texts on the host. The emulated machine lives in $ORBAX_PREFIX the
// way a Wine prefix does: C: is its drive_c folder, Z: is the host's root. Names
// are UTF-8 on the host (host_names.cpp) and are matched without regard to case,
// as Windows does, where the exact spelling is missing.
#include <dirent.h>
#include <pwd.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"
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

// Appends one name (host bytes), preferring an existing entry spelled differently.
void AppendResolved(std::string& host, const std::string& name, bool& exact) {
  std::string dir = host.empty() ? "/" : host;
  std::string candidate = host + "/" + name;
  const std::string wanted = AnsiText(name);
  if (exact) {
    struct stat st;
    if (lstat(candidate.c_str(), &st) == 0) {
      host = candidate;
      return;
    }
    if (DIR* d = opendir(dir.c_str())) {
      std::string found;
      while (dirent* e = readdir(d)) {
        if (text::AnsiSameText(AnsiText(e->d_name), wanted)) {
          found = e->d_name;
          break;
        }
      }
      closedir(d);
      if (!found.empty()) {
        host += "/" + found;
        return;
      }
    }
    exact = false;  // everything below a missing name is missing too
  }
  host = candidate;
}

}  // namespace

std::string PrefixDir(bool create) {
  const char* env = std::getenv("ORBAX_PREFIX");
  std::string prefix = env && *env ? std::string(env) : HomeDir() + "/.orbax";
  prefix = LexicalHost(prefix);
  if (!create) return prefix;
  std::lock_guard<std::mutex> lock(prefixMutex);
  if (prefix != preparedPrefix) {
    // Create the emulated machine on first use, as Wine creates its prefix.
    std::vector<std::string> parts;
    AppendComponents(parts, prefix, 0);
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

std::string MapPath(const std::string& path) {
  if (path.empty()) {
    SetError(kErrorPathNotFound);
    return std::string();
  }
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
    SetError(kErrorPathNotFound);  // network and device paths are not emulated
    return std::string();
  } else {
    std::vector<std::string> cwdParts;
    drive = CurrentDrive(cwdParts);
    if (!IsSeparator(path[0])) parts = cwdParts;
    restStart = 0;
  }
  AppendComponents(parts, path, restStart);
  std::string host = DriveBase(drive);
  if (host == "\x01") {
    SetError(kErrorPathNotFound);
    return std::string();
  }
  bool exact = true;
  for (const auto& part : parts) AppendResolved(host, HostText(part), exact);
  if (host.empty()) return "/";
  if (IsSeparator(path.back()) && !parts.empty()) host += "/";
  return host;
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
  std::string host = env && *env ? std::string(env) : "/tmp";
  std::string win = FromHostPath(host);
  if (win.back() != '\\') win += '\\';
  return win;
}

}  // namespace platform
