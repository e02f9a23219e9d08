// Helpers shared by the unit tests: temporary folders, the emulated machine of the
// Linux port, test data and helper programs, whole-file reads and writes. Paths are
// Windows path texts on both targets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/test_platform.h"
#include "support/tree.h"

namespace testsupport {

// A fresh, empty folder under the system's temporary folder; removed with
// everything in it when the object goes.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  // The folder, without a trailing backslash.
  const std::string& Path() const { return path_; }
  // Path() + "\" + name.
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// A machine of its own for one test. On the Linux port: a fresh $ORBAX_PREFIX
// (drive C: and registry hives) for the object's lifetime, the old value restored
// afterwards; on Win32 the machine is Wine's or Windows' own. On both, a temporary
// folder of its own (TMPDIR; TEMP and TMP), which the test fails unless it is
// empty when the machine goes: whatever a run leaves in TEMP shows there.
class TTestMachine {
 public:
  TTestMachine();
  ~TTestMachine();
  TTestMachine(const TTestMachine&) = delete;
  TTestMachine& operator=(const TTestMachine&) = delete;

 private:
  std::optional<TTempFolder> folder_;
  std::string temp_;
  std::vector<std::pair<std::string, std::optional<std::string>>> oldEnvironment_;
};

// A file or folder of the shared test data (relative path, "/" or "\").
std::string SharedTestData(const std::string& relative);
// A helper program built with the tests (tests/helpers/<name>.cpp).
std::string HelperProgram(const std::string& name);
// The host path of a Windows path as program text, for a host tool named in a
// command line: the Linux port's names are UTF-8 on the host, its command lines
// 1252 like every text of the program. Win32: the path itself.
std::string HostPathText(const std::string& path);
// Puts double quotes around a command-line argument (backslashes before a quote
// doubled), as Windows programs expect.
std::string Quoted(const std::string& arg);

// Whole-file helpers; they fail the running test when the system refuses.
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
// The program's arguments as the program would receive them (program name not
// counted), for tests of command-line handling.
void SetArguments(std::vector<std::string> args);

// Waits until a file exists and its writer has let it go; false after the time limit.
bool WaitForFile(const std::string& path, uint32_t milliseconds);

}  // namespace testsupport
