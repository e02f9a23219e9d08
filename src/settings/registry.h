// The registry accessor the installation steps use: one root, at most one open key,
// values read and written by name. Paths are always taken from the root; a leading
// backslash changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/registry.h"

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

class TRegistry {
 public:
  TRegistry() = default;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  uint32_t RootKey() const { return root_; }
  // Later paths start from this root; a change of root closes the open key.
  void SetRootKey(uint32_t root);

  // True when the key is open afterwards (made with its missing parents when
  // canCreate); on failure a key that was open stays open.
  bool OpenKey(const std::string& path, bool canCreate);
  bool OpenKeyReadOnly(const std::string& path);
  // Closing when no key is open does nothing.
  void CloseKey();
  bool HasOpenKey() const { return key_.IsOpen(); }
  // The path of the open key below the root ("" when none is open).

  // Raise ERegistryException "Failed to set data for '<name>'" on failure.
  void WriteString(const std::string& name, const std::string& value);
  void WriteBool(const std::string& name, bool value);  // a 32-bit number, 1 or 0
  void WriteInteger(const std::string& name, int32_t value);

  // "" when the value (or an open key) is missing; raises "Invalid data type for
  // '<name>'" for a value that is not a string and "Failed to get data for
  // '<name>'" when it cannot be read.
  std::string ReadString(const std::string& name);
  // A missing value raises "Failed to get data for '<name>'", another type
  // "Invalid data type for '<name>'".
  int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

  bool ValueExists(const std::string& name) const;
  bool DeleteValue(const std::string& name);
  // Deletes the key (from the root) with all its sub-keys, deepest first.
  bool DeleteKey(const std::string& path);
  bool KeyExists(const std::string& path) const;
  // The names directly below the open key, replacing the list's content (an
  // empty list when no key is open).
  void GetKeyNames(std::vector<std::string>& names) const;
  void GetValueNames(std::vector<std::string>& names) const;

 private:
  uint32_t root_ = platform::HKEY_CURRENT_USER_ID;
  platform::TRegKey key_;
};
