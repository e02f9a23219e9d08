// The registry as REGEDIT4 text hives: $ORBAX_PREFIX/user.reg holds
// HKEY_CURRENT_USER, system.reg the other roots (each key header names its root).
// Every operation reads the hive afresh under a shared flock on "<hive>.lock";
// every change is a read-modify-write under the exclusive lock, written whole to
// "<hive>.tmp", flushed and renamed over the hive, so a writer killed at any moment
// leaves either the old or the new hive and two writers never lose each other's
// values. Names compare without regard to case and keep their spelling; sub-keys
// enumerate in sorted order (as Windows does), values in the order they were made.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace platform {

using namespace posix;

namespace {

struct Key {
  std::string name;
  std::vector<std::unique_ptr<Key>> subkeys;             // sorted, case ignored
  std::vector<std::pair<std::string, RegValue>> values;  // in the order made

  Key* Find(const std::string& child) const {
    for (const auto& k : subkeys)
      if (text::AnsiCompareUpper(k->name, child) == 0) return k.get();
    return nullptr;
  }
  Key* Add(const std::string& child) {
    if (Key* k = Find(child)) return k;
    auto pos = std::lower_bound(
        subkeys.begin(), subkeys.end(), child,
        [](const std::unique_ptr<Key>& k, const std::string& n) { return text::AnsiCompareUpper(k->name, n) < 0; });
    auto k = std::make_unique<Key>();
    k->name = child;
    return subkeys.insert(pos, std::move(k))->get();
  }
  bool Remove(const std::string& child) {
    for (auto it = subkeys.begin(); it != subkeys.end(); ++it)
      if (text::AnsiCompareUpper((*it)->name, child) == 0) {
        subkeys.erase(it);
        return true;
      }
    return false;
  }
  RegValue* Value(const std::string& valueName) {
    for (auto& v : values)
      if (text::AnsiCompareUpper(v.first, valueName) == 0) return &v.second;
    return nullptr;
  }
};

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

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

// ---------------------------------------------------------------- text form

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexData(uint32_t type, const std::string& bytes) {
  std::string out = type == REG_BINARY_TYPE ? "hex:" : "hex(" + std::to_string(type) + "):";
  size_t lineLen = out.size();
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
    out += buf;
    lineLen += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++lineLen;
      if (lineLen > 74) {  // wrapped like regedit's export
        out += "\\\n  ";
        lineLen = 2;
      }
    }
  }
  return out;
}

std::string ValueText(const RegValue& v) {
  bool plain = v.Data.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
  if (v.Type == REG_SZ_TYPE && plain) return Quote(v.Data);
  if (v.Type == REG_DWORD_TYPE && v.Data.size() == 4) {
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.Data[static_cast<size_t>(i)]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    return buf;
  }
  // Strings written as bytes carry their terminating NUL, as regedit writes them.
  if (v.Type == REG_SZ_TYPE || v.Type == REG_EXPAND_SZ_TYPE) return HexData(v.Type, v.Data + std::string(1, '\0'));
  return HexData(v.Type, v.Data);
}

void WriteKey(std::string& out, const std::string& path, const Key& key, bool header) {
  if (header) {
    out += "\n[" + path + "]\n";
    for (const auto& [name, value] : key.values)
      out += (name.empty() ? std::string("@") : Quote(name)) + "=" + ValueText(value) + "\n";
  }
  for (const auto& sub : key.subkeys) WriteKey(out, path + "\\" + sub->name, *sub, true);
}

// Reads a quoted text starting at s[i] == '"'; i ends after the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (c == '"') {
      ++i;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseData(const std::string& s, RegValue& v) {
  if (!s.empty() && s[0] == '"') {
    size_t i = 0;
    v.Type = REG_SZ_TYPE;
    return ParseQuoted(s, i, v.Data) && s.find_first_not_of(" \t", i) == std::string::npos;
  }
  if (s.compare(0, 6, "dword:") == 0) {
    std::string digits = s.substr(6);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.pop_back();
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t d = 0;
    for (char c : digits) {
      int h = HexDigit(c);
      if (h < 0) return false;
      d = (d << 4) | static_cast<uint32_t>(h);
    }
    v.Type = REG_DWORD_TYPE;
    v.Data.assign({static_cast<char>(d & 0xFF), static_cast<char>((d >> 8) & 0xFF), static_cast<char>((d >> 16) & 0xFF),
                   static_cast<char>((d >> 24) & 0xFF)});
    return true;
  }
  size_t i;
  if (s.compare(0, 4, "hex:") == 0) {
    v.Type = REG_BINARY_TYPE;
    i = 4;
  } else if (s.compare(0, 4, "hex(") == 0) {
    size_t close = s.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) return false;
    v.Type = 0;
    for (size_t k = 4; k < close; ++k) {
      int h = HexDigit(s[k]);
      if (h < 0) return false;
      v.Type = (v.Type << 4) | static_cast<uint32_t>(h);
    }
    i = close + 2;
  } else {
    return false;
  }
  v.Data.clear();
  for (;;) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    if (i + 1 >= s.size()) return false;
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    v.Data += static_cast<char>(hi * 16 + lo);
    i += 2;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size() && s[i] != ',') return false;
    ++i;
  }
  if ((v.Type == REG_SZ_TYPE || v.Type == REG_EXPAND_SZ_TYPE) && !v.Data.empty() && v.Data.back() == '\0')
    v.Data.pop_back();
  return true;
}

// ---------------------------------------------------------------- hive files

struct Hive {
  Key top;  // its sub-keys are the roots, by name
  bool corrupt = false;
};

// Parses REGEDIT4 text. Lines it does not understand mark the hive corrupt: reads
// still see what was understood, but nothing is written over such a hive.
void ParseHive(const std::string& text, Hive& hive) {
  std::vector<std::string> lines;
  std::string pending;
  size_t i = 0;
  while (i <= text.size()) {
    size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    std::string line = text.substr(i, j - i);
    i = j + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!pending.empty()) {
      size_t b = line.find_first_not_of(" \t");
      line = pending + (b == std::string::npos ? std::string() : line.substr(b));
      pending.clear();
    }
    // A hex value continues on the next line after a trailing backslash.
    if (!line.empty() && line.back() == '\\' && line[0] != '[') {
      pending = line.substr(0, line.size() - 1);
    } else {
      lines.push_back(line);
    }
    if (j == text.size()) break;
  }
  if (!pending.empty()) lines.push_back(pending);
  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first >= lines.size()) return;  // an empty hive
  std::string magic = lines[first];
  if (magic.compare(0, 3, "\xEF\xBB\xBF") == 0) magic.erase(0, 3);
  if (magic != "REGEDIT4") {
    hive.corrupt = true;
    return;
  }
  Key* current = nullptr;
  for (size_t n = first + 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || close < 2) {
        hive.corrupt = true;
        current = nullptr;
        continue;
      }
      bool remove = line[1] == '-';
      std::vector<std::string> parts = SplitKeyPath(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)));
      if (parts.empty()) {
        hive.corrupt = true;
        current = nullptr;
        continue;
      }
      if (remove) {
        Key* parent = &hive.top;
        for (size_t k = 0; parent && k + 1 < parts.size(); ++k) parent = parent->Find(parts[k]);
        if (parent) parent->Remove(parts.back());
        current = nullptr;
        continue;
      }
      for (char& c : parts[0]) c = text::AnsiUpper(c);  // root names have one spelling
      current = &hive.top;
      for (const auto& p : parts) current = current->Add(p);
      continue;
    }
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, pos, name)) {
      hive.corrupt = true;
      continue;
    }
    if (!current || pos >= line.size() || line[pos] != '=') {
      hive.corrupt = true;
      continue;
    }
    std::string data = line.substr(pos + 1);
    if (data == "-") {
      current->values.erase(std::remove_if(current->values.begin(), current->values.end(),
                                           [&](const auto& v) { return text::AnsiCompareUpper(v.first, name) == 0; }),
                            current->values.end());
      continue;
    }
    RegValue value;
    if (!ParseData(data, value)) {
      hive.corrupt = true;
      continue;
    }
    if (RegValue* old = current->Value(name))
      *old = value;
    else
      current->values.emplace_back(name, value);
  }
}

std::string UserName() {
  if (passwd* pw = getpwuid(getuid())) return pw->pw_name;
  const char* user = std::getenv("USER");
  return user && *user ? user : "user";
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
    if (!key->Value(name)) key->values.emplace_back(name, RegValue{REG_SZ_TYPE, folder});
}

class HiveFile {
 public:
  explicit HiveFile(uint32_t root) : user_(root == HKEY_CURRENT_USER_ID) {
    path_ = PrefixDir() + (user_ ? "/user.reg" : "/system.reg");
  }

  // Runs fn on the hive under the shared lock.
  bool Read(const std::function<bool(Hive&)>& fn) {
    int lock = Lock(LOCK_SH);
    if (lock < 0) return false;
    Hive hive;
    bool ok = Load(hive) && fn(hive);
    close(lock);
    return ok;
  }

  // Runs fn under the exclusive lock; when it returns true, writes the hive.
  bool Change(const std::function<bool(Hive&)>& fn) {
    int lock = Lock(LOCK_EX);
    if (lock < 0) return false;
    Hive hive;
    bool ok = Load(hive);
    if (ok && hive.corrupt) ok = Fail(kErrorRegistryCorrupt);
    if (ok) ok = fn(hive);
    if (ok) ok = Save(hive);
    close(lock);
    return ok;
  }

 private:
  int Lock(int how) {
    int fd = OpenCloexec(path_ + ".lock", O_RDWR | O_CREAT, 0644);
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

  bool Load(Hive& hive) {
    int fd = OpenCloexec(path_, O_RDONLY);
    if (fd < 0) {
      if (errno != ENOENT) return FailErrno(path_);
    } else {
      std::string text;
      char buf[65536];
      for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          FailErrno();
          close(fd);
          return false;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
      }
      close(fd);
      ParseHive(text, hive);
    }
    if (user_) SeedShellFolders(hive);
    return true;
  }

  bool Save(const Hive& hive) {
    std::string text = "REGEDIT4\n";
    for (const auto& root : hive.top.subkeys) {
      bool belongs = user_ ? text::AnsiCompareUpper(root->name, "HKEY_CURRENT_USER") == 0
                           : text::AnsiCompareUpper(root->name, "HKEY_CURRENT_USER") != 0;
      if (belongs) WriteKey(text, root->name, *root, !root->values.empty());
    }
    std::string tmp = path_ + ".tmp";
    int fd = OpenCloexec(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
    // Flushed before the rename, so even a machine crash leaves a whole hive.
    if (fsync(fd) != 0 || close(fd) != 0) {
      FailErrno();
      unlink(tmp.c_str());
      return false;
    }
    if (rename(tmp.c_str(), path_.c_str()) != 0) {
      FailErrno();
      unlink(tmp.c_str());
      return false;
    }
    return true;
  }

  bool user_;
  std::string path_;
};

Key* Walk(Key* from, const std::vector<std::string>& parts) {
  for (const auto& p : parts) {
    if (!from) return nullptr;
    from = from->Find(p);
  }
  return from;
}

}  // namespace

struct RegKey::Impl {
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

RegKey::RegKey() = default;
RegKey::RegKey(RegKey&& other) noexcept = default;
RegKey& RegKey::operator=(RegKey&& other) noexcept = default;
RegKey::~RegKey() = default;

bool RegKey::Open(uint32_t root, const std::string& path, bool create, bool readOnly) {
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

void RegKey::Close() { impl_.reset(); }

bool RegKey::IsOpen() const { return impl_ != nullptr; }

bool RegKey::SetValue(const std::string& name, const RegValue& value) {
  if (!impl_) return Fail(kErrorInvalidHandle);
  if (impl_->readOnly) return Fail(kErrorAccessDenied);
  return impl_->With(true, [&](Key& key) {
    if (RegValue* old = key.Value(name))
      *old = value;
    else
      key.values.emplace_back(name, value);
    return true;
  });
}

bool RegKey::GetValue(const std::string& name, RegValue& value) const {
  if (!impl_) return Fail(kErrorInvalidHandle);
  return impl_->With(false, [&](Key& key) {
    RegValue* v = key.Value(name);
    if (!v) return Fail(kErrorFileNotFound);
    value = *v;
    return true;
  });
}

bool RegKey::HasValue(const std::string& name) const {
  RegValue ignored;
  return GetValue(name, ignored);
}

bool RegKey::DeleteValue(const std::string& name) {
  if (!impl_) return Fail(kErrorInvalidHandle);
  if (impl_->readOnly) return Fail(kErrorAccessDenied);
  return impl_->With(true, [&](Key& key) {
    for (auto it = key.values.begin(); it != key.values.end(); ++it)
      if (text::AnsiCompareUpper(it->first, name) == 0) {
        key.values.erase(it);
        return true;
      }
    return Fail(kErrorFileNotFound);
  });
}

bool RegKey::SubKeyNames(std::vector<std::string>& names) const {
  if (!impl_) return Fail(kErrorInvalidHandle);
  return impl_->With(false, [&](Key& key) {
    names.clear();
    for (const auto& k : key.subkeys) names.push_back(k->name);
    return true;
  });
}

bool RegKey::ValueNames(std::vector<std::string>& names) const {
  if (!impl_) return Fail(kErrorInvalidHandle);
  return impl_->With(false, [&](Key& key) {
    names.clear();
    for (const auto& v : key.values) names.push_back(v.first);
    return true;
  });
}

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
