// A fixture for the installation tests: a machine of the test's own (a fresh
// prefix on the Linux port), an installation folder, settings and texts, product
// names unique to the test, and the clean-up of every registry item and shortcut
// those names lead to, so that tests under Wine leave its registry as they found it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "install/product_names.h"
#include "platform/registry.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "support/test_support.h"

namespace installtest {

constexpr uint32_t HKCU = platform::HKEY_CURRENT_USER_ID;
constexpr uint32_t HKLM = platform::HKEY_LOCAL_MACHINE_ID;
constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunOnce = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const char* kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Registry reads and writes below the code under test (platform::TRegKey).
std::optional<std::string> ReadString(uint32_t root, const std::string& key, const std::string& name);
std::optional<platform::TRegValue> ReadValue(uint32_t root, const std::string& key, const std::string& name);
void WriteString(uint32_t root, const std::string& key, const std::string& name, const std::string& value);
void WriteDword(uint32_t root, const std::string& key, const std::string& name, uint32_t value);
bool KeyExists(uint32_t root, const std::string& key);
std::vector<std::string> ValueNames(uint32_t root, const std::string& key);
void DeleteValue(uint32_t root, const std::string& key, const std::string& name);

// The values of a key, kept to be put back.
class TValueSnapshot {
 public:
  TValueSnapshot(uint32_t root, std::string key);
  // Removes every value now there and writes the kept ones again.
  void Restore() const;
  // Removes every value of the key.
  void Clear() const;

 private:
  uint32_t root_;
  std::string key_;
  std::vector<std::pair<std::string, platform::TRegValue>> values_;
};

class InstallTest : public ::testing::Test {
 protected:
  InstallTest();
  ~InstallTest() override;

  // HKEY_CURRENT_USER path of the product key, "Software\ORBAXTest\<tag>".
  std::string ProductPath() const;
  // Its installation record.
  std::string RecordPath() const { return ProductPath() + "\\Uninstall"; }
  // The record's "Files" ("" when missing).
  std::string RecordedFiles() const;
  std::string ShellFolder(const std::string& name) const;
  std::string GroupFolder() const { return ShellFolder("Programs") + "\\" + names.ProgramGroupName; }
  // Switches the texts to a section of the embedded document.
  void UseLanguage(const std::string& section);
  // Creates a file with some content, its folder first.
  std::string MakeFile(const std::string& path, const std::string& content = "data");

  testsupport::TTestMachine machine_;
  testsupport::TTempFolder install_;
  std::string tag;  // letters and digits, unique per test
  install::TProductNames names;
  TFileXML texts;
  TLiveUpdate settings;

 private:
  std::optional<TValueSnapshot> runOnce_;
  std::vector<std::pair<std::string, std::string>> addedShellFolders_;
};

// Whether the shell link at linkFile has this target, arguments and working
// folder, read by an independent .lnk reader (lnkinfo). Only where the machine
// is emulated; elsewhere it reports success after checking the file exists.
::testing::AssertionResult LinkIs(const std::string& linkFile, const std::string& target, const std::string& arguments,
                                  const std::string& workingFolder);

}  // namespace installtest
