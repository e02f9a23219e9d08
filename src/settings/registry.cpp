#include "settings/registry.h"

namespace {

std::string WithoutLeadingBackslash(const std::string& path) {
  size_t i = path.find_first_not_of('\\');
  return i == std::string::npos ? std::string() : path.substr(i);
}

[[noreturn]] void Raise(const char* what, const std::string& name) {
  throw ERegistryException(std::string(what) + " '" + name + "'");
}

}  // namespace

void TRegistry::SetRootKey(uint32_t root) {
  if (root != root_) CloseKey();
  root_ = root;
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
  std::string rel = WithoutLeadingBackslash(path);
  platform::TRegKey key;
  if (!key.Open(root_, rel, canCreate, false)) return false;
  key_ = std::move(key);
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& path) {
  std::string rel = WithoutLeadingBackslash(path);
  platform::TRegKey key;
  if (!key.Open(root_, rel, false, true)) return false;
  key_ = std::move(key);
  return true;
}

void TRegistry::CloseKey() { key_.Close(); }

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (!key_.IsOpen() || !key_.SetValue(name, platform::TRegValue{platform::REG_SZ_TYPE, value}))
    Raise("Failed to set data for", name);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  std::string data = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                      static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  if (!key_.IsOpen() || !key_.SetValue(name, platform::TRegValue{platform::REG_DWORD_TYPE, data}))
    Raise("Failed to set data for", name);
}

void TRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

std::string TRegistry::ReadString(const std::string& name) {
  if (!key_.IsOpen() || !key_.HasValue(name)) return std::string();
  platform::TRegValue v;
  if (!key_.GetValue(name, v)) Raise("Failed to get data for", name);
  if (v.Type != platform::REG_SZ_TYPE && v.Type != platform::REG_EXPAND_SZ_TYPE) Raise("Invalid data type for", name);
  // Stored strings end at their first NUL, as the system hands them out.
  size_t nul = v.Data.find('\0');
  if (nul != std::string::npos) v.Data.resize(nul);
  return v.Data;
}

int32_t TRegistry::ReadInteger(const std::string& name) {
  platform::TRegValue v;
  if (!key_.IsOpen() || !key_.GetValue(name, v)) Raise("Failed to get data for", name);
  if (v.Type != platform::REG_DWORD_TYPE || v.Data.size() != 4) Raise("Invalid data type for", name);
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.Data[static_cast<size_t>(i)]);
  return static_cast<int32_t>(n);
}

bool TRegistry::ValueExists(const std::string& name) const { return key_.IsOpen() && key_.HasValue(name); }

bool TRegistry::DeleteValue(const std::string& name) { return key_.IsOpen() && key_.DeleteValue(name); }

bool TRegistry::DeleteKey(const std::string& path) {
  std::string rel = WithoutLeadingBackslash(path);
  if (rel.empty()) return false;
  return platform::RegDeleteKeyTree(root_, rel);
}

bool TRegistry::KeyExists(const std::string& path) const {
  platform::TRegKey key;
  return key.Open(root_, WithoutLeadingBackslash(path), false, true);
}

void TRegistry::GetKeyNames(std::vector<std::string>& names) const {
  names.clear();
  if (key_.IsOpen()) key_.SubKeyNames(names);
}

void TRegistry::GetValueNames(std::vector<std::string>& names) const {
  names.clear();
  if (key_.IsOpen()) key_.ValueNames(names);
}
