// Registry trees and their REGEDIT4 text form, apart from any file: the Linux port
// keeps its hives in this form, and tests feed the parser from memory. Names
// compare without regard to case (1252 letters) and keep their spelling; sub-keys
// are kept sorted (as Windows enumerates them), values in the order they were made.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace platform::regedit4 {

struct Key {
  std::string name;
  std::vector<std::unique_ptr<Key>> subkeys;              // sorted, case ignored
  std::vector<std::pair<std::string, TRegValue>> values;  // in the order made

  Key* Find(const std::string& child) const;
  // The sub-key of that name, made when missing.
  Key* Add(const std::string& child);
  bool Remove(const std::string& child);
  TRegValue* Value(const std::string& valueName);
  bool RemoveValue(const std::string& valueName);
};

// The roots are the sub-keys of top, by name ("HKEY_CURRENT_USER", ...).
struct Hive {
  Key top;
  // Lines the parser did not understand: reads still see what was understood, but
  // nothing may be written over such a hive.
  bool corrupt = false;
};

// The names of a key path, empty ones (doubled or outer backslashes) left out.
std::vector<std::string> SplitKeyPath(const std::string& path);
// The key at parts below from; nullptr when one is missing.
Key* Walk(Key* from, const std::vector<std::string>& parts);

// Adds what REGEDIT4 text says to hive: key headers ("[path]", "[-path]" to delete),
// values ("name"= or @= followed by "text", dword:, hex: or hex(type):, continued
// over lines ending in a backslash), comments; CR LF or LF line ends.
void Parse(const std::string& text, Hive& hive);
// The REGEDIT4 text of the roots that wanted accepts, in the form regedit exports.
std::string Format(const Hive& hive, const std::function<bool(const std::string& rootName)>& wanted);

}  // namespace platform::regedit4
