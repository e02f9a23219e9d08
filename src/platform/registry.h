// The registry: keys and values below the predefined roots. The Linux port keeps
// its hives as REGEDIT4 text (regedit4.h), read under a lock and written whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The predefined root keys, by their Win32 values.
constexpr uint32_t HKEY_CLASSES_ROOT_ID = 0x80000000u;
constexpr uint32_t HKEY_CURRENT_USER_ID = 0x80000001u;
constexpr uint32_t HKEY_LOCAL_MACHINE_ID = 0x80000002u;
constexpr uint32_t HKEY_USERS_ID = 0x80000003u;
constexpr uint32_t HKEY_CURRENT_CONFIG_ID = 0x80000005u;

// Registry value types (Win32 numbering).
constexpr uint32_t REG_NONE_TYPE = 0;
constexpr uint32_t REG_SZ_TYPE = 1;
constexpr uint32_t REG_EXPAND_SZ_TYPE = 2;
constexpr uint32_t REG_BINARY_TYPE = 3;
constexpr uint32_t REG_DWORD_TYPE = 4;
constexpr uint32_t REG_MULTI_SZ_TYPE = 7;

struct TRegValue {
  uint32_t Type = REG_NONE_TYPE;
  // Raw bytes as the system stores them; a string's terminating NUL excluded.
  std::string Data;
};

// One open registry key. Paths are below the root; a leading backslash is allowed.
class TRegKey {
 public:
  TRegKey();  // out of line: Impl is complete only in the implementation
  TRegKey(TRegKey&& other) noexcept;
  TRegKey& operator=(TRegKey&& other) noexcept;
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  ~TRegKey();

  // create: make the key and its missing parents. readOnly: open for reading only.
  // On failure the key stays closed.
  bool Open(uint32_t root, const std::string& path, bool create, bool readOnly);
  void Close();
  bool IsOpen() const;

  bool SetValue(const std::string& name, const TRegValue& value);
  // The key's changes reach the disk (Win32: RegFlushKey; the Linux port writes
  // its hive through to the disk with every change, and flushes the folder of
  // the hives, whose names the changes replaced).
  bool Flush();
  // false when the value does not exist or cannot be read.
  bool GetValue(const std::string& name, TRegValue& value) const;
  bool HasValue(const std::string& name) const;
  bool DeleteValue(const std::string& name);
  // Names directly below the key, in the order the registry enumerates them.
  bool SubKeyNames(std::vector<std::string>& names) const;
  bool ValueNames(std::vector<std::string>& names) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Deletes a key with all its sub-keys, deepest first.
bool RegDeleteKeyTree(uint32_t root, const std::string& path);

// What the next start of Windows does for the files an uninstallation could not
// delete: deletes each file named by a "CMD.EXE /C DEL "<path>"" (or COMMAND.COM)
// command in the values of the key below HKEY_LOCAL_MACHINE (RunOnce) whose names
// begin with valuePrefix, and removes those values. Other values stay, and so does
// the value of a file still in use. The Linux port does it when the program
// starts; Win32 does nothing, as Windows itself runs them.
void RunPendingDeletes(const std::string& key, const std::string& valuePrefix);

}  // namespace platform
