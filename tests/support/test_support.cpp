#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/codepage.h"
#include "platform/files.h"
#include "platform/system.h"

namespace testsupport {

TTempFolder::TTempFolder() {
  std::string guid = platform::NewGuidText();
  path_ = platform::TempDir() + "lu-test-" + guid.substr(1, guid.size() - 2);
  if (!platform::CreateDir(path_))
    ADD_FAILURE() << "cannot create " << path_ << ": " << platform::SysErrorMessage(platform::LastError());
}

TTempFolder::~TTempFolder() { RemoveTree(path_); }

TTestMachine::TTestMachine() {
  if (!platform::EmulatedMachine()) return;
  if (const char* old = std::getenv("ORBAX_PREFIX")) oldPrefix_ = old;
  folder_.emplace();
  platform::SetEnv("ORBAX_PREFIX", platform::HostPath(folder_->Path()));
}

TTestMachine::~TTestMachine() {
  if (!folder_) return;
  if (oldPrefix_)
    platform::SetEnv("ORBAX_PREFIX", *oldPrefix_);
  else
    platform::UnsetEnv("ORBAX_PREFIX");
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

std::string Quoted(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

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
  uint32_t start = platform::TickCount();
  while (!platform::FileExists(path)) {
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
