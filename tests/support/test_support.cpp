#include "support/test_support.h"
#include "platform/file_stream.h"
#include "support/deadline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "base/codepage.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"

namespace testsupport {

TTempFolder::TTempFolder() {
  std::string guid = platform::NewGuidText();
  path_ = platform::TempDir() + "lu-test-" + guid.substr(1, guid.size() - 2);
  if (!platform::CreateDir(path_))
    ADD_FAILURE() << "cannot create " << path_ << ": " << platform::SysErrorMessage(platform::LastError());
}

TTempFolder::~TTempFolder() {
  // A folder cannot go while it is the process's current one (a step made it so):
  // step out first.
  const std::string current = platform::GetCurrentDir() + "\\";
  if (text::AnsiSameText(current.substr(0, path_.size() + 1), path_ + "\\"))
    platform::SetCurrentDir(text::ExtractFileDir(path_));
  RemoveTree(path_);
}

TTestMachine::TTestMachine() {
  folder_.emplace();
  temp_ = *folder_ / "Temp";
  if (!platform::CreateDir(temp_)) ADD_FAILURE() << "cannot create " << temp_;
  const std::string temp = platform::HostPath(temp_);
  std::vector<std::pair<std::string, std::string>> environment;
  if (platform::EmulatedMachine())
    environment = {{"ORBAX_PREFIX", platform::HostPath(folder_->Path())}, {"TMPDIR", temp}};
  else
    environment = {{"TEMP", temp}, {"TMP", temp}};
  for (const auto& [name, value] : environment) {
    const char* old = std::getenv(name.c_str());
    oldEnvironment_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    platform::SetEnv(name, value);
  }
}

TTestMachine::~TTestMachine() {
  std::string left;
  for (const std::string& name : platform::ListDir(temp_)) {
    // ThreadSanitizer's runtime keeps a file of its own there, which a child the
    // test kills on purpose cannot remove.
    if (name.rfind("tsan.", 0) != 0) left += " " + name;
  }
  if (!left.empty()) ADD_FAILURE() << "left in the temporary folder:" << left;
  for (auto it = oldEnvironment_.rbegin(); it != oldEnvironment_.rend(); ++it) {
    if (it->second)
      platform::SetEnv(it->first, *it->second);
    else
      platform::UnsetEnv(it->first);
  }
}

std::string SharedTestData(const std::string& relative) {
  std::string rel = relative;
  for (char& c : rel)
    if (c == '\\') c = '/';
  return platform::FromHostPath(std::string(LU_SHARED_DIR) + "/" + rel);
}

std::string HelperProgram(const std::string& name) {
  return platform::FromHostPath(std::string(LU_BINARY_DIR) + "/tests/" + name + platform::ExecutableSuffix());
}

std::string HostPathText(const std::string& path) {
  std::string host = platform::HostPath(path), ansi;
  return platform::EmulatedMachine() && codepage::Utf8ToCp1252(host, ansi) ? ansi : host;
}

std::string Quoted(const std::string& arg) { return platform::QuoteArgument(arg); }

std::string ReadFileText(const std::string& path) {
  try {
    platform::TFileStream f(path, platform::TFileMode::OpenRead);
    std::string data(static_cast<size_t>(f.Size()), '\0');
    if (!data.empty()) f.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    return data;
  } catch (const Exception& e) {
    ADD_FAILURE() << e.Message;
    return std::string();
  }
}

void WriteFileText(const std::string& path, const std::string& text) {
  try {
    platform::TFileStream f(path, platform::TFileMode::CreateExclusive);
    f.Write(text.data(), static_cast<int64_t>(text.size()));
  } catch (const Exception& e) {
    ADD_FAILURE() << e.Message;
  }
}

bool WaitForFile(const std::string& path, uint32_t milliseconds) {
  // Present is not enough: a writer, or a move that put the file in place, may
  // still hold it, and a read then is refused as on Windows.
  auto readable = [&] {
    if (!platform::FileExists(path)) return false;
    try {
      platform::TFileStream f(path, platform::TFileMode::OpenRead);
      return true;
    } catch (const Exception&) {
      return false;
    }
  };
  uint32_t start = platform::TickCount();
  while (!readable()) {
    if (platform::TickCount() - start >= milliseconds) return false;
    platform::SleepMs(10);
  }
  return true;
}

void SetArguments(std::vector<std::string> args) {
  static std::vector<std::string> keep;
  keep = std::move(args);
  keep.insert(keep.begin(), "ORBAXLiveUpdate");
  std::vector<char*> argv;
  for (auto& a : keep) argv.push_back(a.data());
  platform::SetProgramArguments(static_cast<int>(argv.size()), argv.data());
}

}  // namespace testsupport

namespace {

// Every test of every test program has a deadline of its own, well below the
// test runner's for the whole program: a test that hangs is named and ends its
// program, and the others have run. Tests that guard a wait set a closer one.
class TDeadlinePerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override { deadline_ = std::make_unique<testsupport::TDeadline>(kMs); }
  void OnTestEnd(const ::testing::TestInfo&) override { deadline_.reset(); }

 private:
  static constexpr int64_t kMs = 300000;
  std::unique_ptr<testsupport::TDeadline> deadline_;
};

const bool kDeadlineListened = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new TDeadlinePerTest);
  return true;
}();

}  // namespace
