#include "install_fixture.h"

#include <atomic>
#include <map>

#include "base/text.h"
#include "platform/processes.h"
#include "platform/system.h"

namespace installtest {

std::optional<platform::TRegValue> ReadValue(uint32_t root, const std::string& key, const std::string& name) {
  platform::TRegKey k;
  platform::TRegValue value;
  if (!k.Open(root, key, false, true) || !k.GetValue(name, value)) return std::nullopt;
  return value;
}

std::optional<std::string> ReadString(uint32_t root, const std::string& key, const std::string& name) {
  const auto value = ReadValue(root, key, name);
  if (!value) return std::nullopt;
  EXPECT_EQ(value->Type, platform::REG_SZ_TYPE) << key << "\\" << name;
  return value->Data;
}

void WriteString(uint32_t root, const std::string& key, const std::string& name, const std::string& value) {
  platform::TRegKey k;
  ASSERT_TRUE(k.Open(root, key, true, false)) << key;
  ASSERT_TRUE(k.SetValue(name, platform::TRegValue{platform::REG_SZ_TYPE, value})) << name;
}

void WriteDword(uint32_t root, const std::string& key, const std::string& name, uint32_t value) {
  platform::TRegKey k;
  ASSERT_TRUE(k.Open(root, key, true, false)) << key;
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  ASSERT_TRUE(k.SetValue(name, platform::TRegValue{platform::REG_DWORD_TYPE, bytes})) << name;
}

bool KeyExists(uint32_t root, const std::string& key) {
  platform::TRegKey k;
  return k.Open(root, key, false, true);
}

std::vector<std::string> ValueNames(uint32_t root, const std::string& key) {
  platform::TRegKey k;
  std::vector<std::string> names;
  if (k.Open(root, key, false, true)) k.ValueNames(names);
  return names;
}

void DeleteValue(uint32_t root, const std::string& key, const std::string& name) {
  platform::TRegKey k;
  if (k.Open(root, key, false, false)) k.DeleteValue(name);
}

TValueSnapshot::TValueSnapshot(uint32_t root, std::string key) : root_(root), key_(std::move(key)) {
  for (const auto& name : ValueNames(root_, key_)) {
    if (auto value = ReadValue(root_, key_, name)) values_.emplace_back(name, *value);
  }
}

void TValueSnapshot::Clear() const {
  platform::TRegKey k;
  if (!k.Open(root_, key_, false, false)) return;
  std::vector<std::string> names;
  k.ValueNames(names);
  for (const auto& name : names) k.DeleteValue(name);
}

void TValueSnapshot::Restore() const {
  Clear();
  if (values_.empty()) return;
  platform::TRegKey k;
  if (!k.Open(root_, key_, true, false)) return;
  for (const auto& [name, value] : values_) k.SetValue(name, value);
}

namespace {

std::string TestTag() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string tag;
  for (char c : std::string(info->name())) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) tag += c;
  }
  return tag.substr(0, 20) + text::IntToStr(platform::CurrentProcessId() % 100000) + "x" + text::IntToStr(counter++);
}

}  // namespace

InstallTest::InstallTest() : tag(TestTag()) {
  names.ApplicationName = "LUApp" + tag;
  names.ProgramGroupName = "LUGroup" + tag;
  names.ProductRegistryKey = "HKEY_CURRENT_USER\\" + ProductPath();
  names.UpdaterFileName = "ORBAXLiveUpdate.exe";
  names.ApplicationCommand = "Kestrova";
  names.DefaultUserName = "";
  names.DefaultPlaceCode = "";
  names.DefaultDownloadLocation = "COW";

  texts.SetLanguage("ENGLISH");
  texts.SetDefaultTexts();
  settings.Texts = &texts;
  settings.SetRegistryKeys(names.ProductRegistryKey);
  settings.InstallFolder = install_.Path();

  // The machine's pending deletions are put aside: the tests count RunOnce values.
  runOnce_.emplace(HKLM, kRunOnce);
  runOnce_->Clear();
  // A machine whose shell has not named its folders yet gets them for the test.
  for (const char* folder : {"Programs", "Desktop"}) {
    if (!ReadString(HKCU, kShellFolders, folder)) {
      const std::string path = install_.Path() + "_shell\\" + folder;
      platform::ForceDirectories(path);
      WriteString(HKCU, kShellFolders, folder, path);
      addedShellFolders_.emplace_back(folder, path);
    }
  }
}

InstallTest::~InstallTest() {
  const std::string group = GroupFolder();
  const std::string desktopLink = ShellFolder("Desktop") + "\\" + names.ApplicationName + ".lnk";
  platform::RegDeleteKeyTree(HKCU, "Software\\ORBAXTest\\" + tag);
  platform::TRegKey parent;
  std::vector<std::string> left;
  if (parent.Open(HKCU, "Software\\ORBAXTest", false, false) && parent.SubKeyNames(left) && left.empty() &&
      parent.ValueNames(left) && left.empty()) {
    parent.Close();
    platform::RegDeleteKeyTree(HKCU, "Software\\ORBAXTest");
  }
  DeleteValue(HKCU, kRun, names.ApplicationName);
  platform::RegDeleteKeyTree(HKCU, std::string(kUninstall) + "\\" + names.ApplicationName);
  platform::RegDeleteKeyTree(HKLM, std::string(kUninstall) + "\\" + names.ApplicationName);
  runOnce_->Restore();
  if (!group.empty() && platform::DirectoryExists(group)) testsupport::RemoveTree(group);
  platform::SetAttributesNormal(desktopLink);
  platform::EraseFile(desktopLink);
  for (const auto& [folder, path] : addedShellFolders_) {
    DeleteValue(HKCU, kShellFolders, folder);
    testsupport::RemoveTree(install_.Path() + "_shell");
  }
}

std::string InstallTest::ProductPath() const { return "Software\\ORBAXTest\\" + tag + "\\Kestrova"; }

std::string InstallTest::RecordedFiles() const { return ReadString(HKCU, RecordPath(), "Files").value_or(""); }

std::string InstallTest::ShellFolder(const std::string& name) const {
  return ReadString(HKCU, kShellFolders, name).value_or("");
}

void InstallTest::UseLanguage(const std::string& section) {
  texts.SetLanguage(section);
  texts.LoadTexts("KVI_XMLFile");
}

std::string InstallTest::MakeFile(const std::string& path, const std::string& content) {
  platform::ForceDirectories(text::ExtractFileDir(path));
  testsupport::WriteFileText(path, content);
  return path;
}

::testing::AssertionResult LinkIs(const std::string& linkFile, const std::string& target, const std::string& arguments,
                                  const std::string& workingFolder) {
  if (!platform::FileExists(linkFile)) return ::testing::AssertionFailure() << "no shortcut " << linkFile;
  if (!platform::EmulatedMachine()) return ::testing::AssertionSuccess();

  const std::string report = linkFile + ".txt";
  const std::string command = "CMD.EXE /C lnkinfo '" + testsupport::HostPathText(linkFile) + "' > '" +
                              testsupport::HostPathText(report) + "' 2>&1";
  if (!platform::RunHiddenAndWait(command)) return ::testing::AssertionFailure() << "lnkinfo did not run";
  const std::string output = testsupport::ReadFileText(report);
  platform::EraseFile(report);

  // Lines of the form "<tab>Label<tabs>: value".
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    fields[text::Trim(line.substr(0, colon))] = line.substr(colon + 2);
  }
  auto field = [&](const char* name) { return fields.count(name) ? fields[name] : std::string("<none>"); };
  const std::string linkTarget = fields.count("Local path") ? field("Local path") : field("Relative path");
  const std::string linkArguments = fields.count("Command line arguments") ? field("Command line arguments") : "";
  if (linkTarget != target || linkArguments != arguments || field("Working directory") != workingFolder) {
    return ::testing::AssertionFailure() << "shortcut " << linkFile << " holds target [" << linkTarget
                                         << "] arguments [" << linkArguments << "] working folder ["
                                         << field("Working directory") << "]\nlnkinfo said:\n"
                                         << output;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace installtest
