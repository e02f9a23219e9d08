// Registry keys through the ANSI Reg* functions.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/registry.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::TRegHandle;

namespace {

// The predefined keys are sign-extended 32-bit values in a pointer.
HKEY RootKey(uint32_t root) {
  switch (root) {
    case HKEY_CLASSES_ROOT_ID:
    case HKEY_CURRENT_USER_ID:
    case HKEY_LOCAL_MACHINE_ID:
    case HKEY_USERS_ID:
    case HKEY_CURRENT_CONFIG_ID: return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
    default: return nullptr;
  }
}

// Paths are always taken from the root; the API refuses a leading backslash.
std::string BelowRoot(const std::string& path) {
  size_t i = path.find_first_not_of('\\');
  return i == std::string::npos ? std::string() : path.substr(i);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool EnumNames(HKEY key, bool subKeys, std::vector<std::string>& names) {
  names.clear();
  DWORD maxKeyLen = 0, maxValueLen = 0;
  if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr /* sub-key count */, &maxKeyLen, nullptr,
                         nullptr /* value count */, &maxValueLen, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  // The maxima exclude the NUL; a name may still grow between the two calls.
  std::string buffer(std::max(subKeys ? maxKeyLen : maxValueLen, DWORD(255)) + 1, '\0');
  for (DWORD index = 0;;) {
    DWORD len = static_cast<DWORD>(buffer.size());
    LONG rc = subKeys ? ::RegEnumKeyExA(key, index, buffer.data(), &len, nullptr, nullptr, nullptr, nullptr)
                      : ::RegEnumValueA(key, index, buffer.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return true;
    if (rc == ERROR_MORE_DATA) {
      if (buffer.size() >= 32768) return false;  // beyond any legal name length
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != ERROR_SUCCESS) return false;
    names.emplace_back(buffer.data(), len);
    ++index;
  }
}

}  // namespace

struct TRegKey::Impl {
  TRegHandle key;
};

TRegKey::TRegKey() = default;
TRegKey::TRegKey(TRegKey&& other) noexcept = default;
TRegKey& TRegKey::operator=(TRegKey&& other) noexcept = default;
TRegKey::~TRegKey() = default;

bool TRegKey::Open(uint32_t root, const std::string& path, bool create, bool readOnly) {
  HKEY rootKey = RootKey(root);
  if (rootKey == nullptr) {
    Close();
    return false;
  }
  std::string sub = BelowRoot(path);
  REGSAM access = readOnly ? KEY_READ : KEY_ALL_ACCESS;
  TRegHandle opened;
  LONG rc;
  if (create) {
    DWORD disposition;  // created or opened: both are fine here
    rc = ::RegCreateKeyExA(rootKey, sub.c_str(), 0 /* reserved */, nullptr /* no class */, REG_OPTION_NON_VOLATILE,
                           access, nullptr /* default security */, opened.Put(), &disposition);
  } else {
    rc = ::RegOpenKeyExA(rootKey, sub.c_str(), 0 /* options */, access, opened.Put());
  }
  if (rc != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(rc));
    Close();
    return false;
  }
  if (!impl_) impl_ = std::make_unique<Impl>();
  impl_->key = std::move(opened);
  return true;
}

void TRegKey::Close() {
  if (impl_) impl_->key.Reset();
}

bool TRegKey::IsOpen() const { return impl_ && impl_->key.Valid(); }

bool TRegKey::SetValue(const std::string& name, const TRegValue& value) {
  if (!IsOpen()) return false;
  std::string data = value.Data;
  // The registry keeps a string's terminating NUL with it.
  if (IsStringType(value.Type)) data.push_back('\0');
  LONG rc = ::RegSetValueExA(impl_->key.Get(), name.c_str(), 0 /* reserved */, value.Type,
                             reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
  if (rc != ERROR_SUCCESS) ::SetLastError(static_cast<DWORD>(rc));
  return rc == ERROR_SUCCESS;
}

bool TRegKey::Flush() {
  if (!IsOpen()) return false;
  LONG rc = ::RegFlushKey(impl_->key.Get());
  if (rc != ERROR_SUCCESS) ::SetLastError(static_cast<DWORD>(rc));
  return rc == ERROR_SUCCESS;
}

bool TRegKey::GetValue(const std::string& name, TRegValue& value) const {
  if (!IsOpen()) return false;
  DWORD type = 0, size = 0;
  LONG rc = ::RegQueryValueExA(impl_->key.Get(), name.c_str(), nullptr, &type, nullptr, &size);
  std::string data;
  // The value may change size between the calls; ask again until it fits.
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    data.resize(size);
    DWORD got = size;
    rc = ::RegQueryValueExA(impl_->key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_SUCCESS) {
      data.resize(got);
      break;
    }
    if (rc != ERROR_MORE_DATA) break;
    size = got > size ? got : size + 256;
  }
  if (rc != ERROR_SUCCESS) {
    ::SetLastError(static_cast<DWORD>(rc));
    return false;
  }
  if (IsStringType(type) && !data.empty() && data.back() == '\0') data.pop_back();
  value.Type = type;
  value.Data = std::move(data);
  return true;
}

bool TRegKey::HasValue(const std::string& name) const {
  if (!IsOpen()) return false;
  return ::RegQueryValueExA(impl_->key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegKey::DeleteValue(const std::string& name) {
  if (!IsOpen()) return false;
  return ::RegDeleteValueA(impl_->key.Get(), name.c_str()) == ERROR_SUCCESS;
}

bool TRegKey::SubKeyNames(std::vector<std::string>& names) const {
  names.clear();
  return IsOpen() && EnumNames(impl_->key.Get(), true, names);
}

bool TRegKey::ValueNames(std::vector<std::string>& names) const {
  names.clear();
  return IsOpen() && EnumNames(impl_->key.Get(), false, names);
}

bool RegDeleteKeyTree(uint32_t root, const std::string& path) {
  HKEY rootKey = RootKey(root);
  std::string sub = BelowRoot(path);
  // An empty path would name the root itself, which is never ours to delete.
  if (rootKey == nullptr || sub.empty()) return false;
  std::vector<std::string> children;
  {
    TRegHandle key;
    if (::RegOpenKeyExA(rootKey, sub.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
      return false;
    // Names first, deletions after: deleting while enumerating shifts the indexes.
    if (!EnumNames(key.Get(), true, children)) return false;
  }
  for (const auto& child : children) RegDeleteKeyTree(root, sub + "\\" + child);
  return ::RegDeleteKeyA(rootKey, sub.c_str()) == ERROR_SUCCESS;
}

// Windows carries out RunOnce commands itself when it starts.
void RunPendingDeletes(const std::string& /*key*/, const std::string& /*valuePrefix*/) {}

}  // namespace platform
