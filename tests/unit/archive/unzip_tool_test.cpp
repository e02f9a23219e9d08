// lu-unzip, run as a program: its lines and its exit status.
#include <gtest/gtest.h>

#include <cstdlib>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "unzip_test_helpers.h"

namespace {

std::string ToolPath() {
  return platform::FromHostPath(std::string(LU_BINARY_DIR) + "/lu-unzip" + platform::ExecutableSuffix());
}

// Runs lu-unzip with its output in a file; returns the exit status. The Linux
// port's tool gets host paths, as a user there would type them.
int RunTool(const std::string& archive, const std::string& dir, const std::string& outFile) {
  const bool linuxPort = platform::EmulatedMachine();
  auto arg = [&](const std::string& path) { return testsupport::Quoted(linuxPort ? platform::HostPath(path) : path); };
  std::string command = arg(ToolPath()) + " " + arg(archive) + " " + arg(dir) + " > " + arg(outFile);
  // cmd.exe strips one pair of outer quotes from a command that starts with one.
  if (!linuxPort) command = "\"" + command + "\"";
  int status = std::system(command.c_str());
  if (linuxPort && status != -1) status = (status >> 8) & 0xFF;
  return status;
}

TEST(UnZipTool, ExtractsAndReportsEveryEntry) {
  if (!platform::FileExists(ToolPath())) GTEST_SKIP() << "lu-unzip not built: " << ToolPath();
  testsupport::TTempFolder tmp;
  std::string good = tmp / "good.zip";
  unziptest::TEntrySpec a, b;
  a.Name = "a.txt";
  a.Data = "alpha";
  b.Name = "sub/b.txt";
  b.Data = "beta";
  testsupport::WriteFileText(good, unziptest::BuildZip({a, b}));
  std::string log = tmp / "log.txt";
  const std::string outDir = tmp / "out";
  EXPECT_EQ(RunTool(good, outDir, log), 0);
  std::string text = testsupport::ReadFileText(log);
  EXPECT_NE(text.find("begin " + outDir + "\\a.txt"), std::string::npos) << text;
  EXPECT_NE(text.find("end " + outDir + "\\sub\\b.txt CRC ok"), std::string::npos) << text;
  EXPECT_EQ(testsupport::ReadFileText(tmp / "out\\sub\\b.txt"), "beta");

  // A damaged entry makes the status 1 and shows in the lines.
  b.BadCrc = true;
  std::string bad = tmp / "bad.zip";
  testsupport::WriteFileText(bad, unziptest::BuildZip({a, b}));
  std::string log2 = tmp / "log2.txt";
  EXPECT_EQ(RunTool(bad, outDir, log2), 1);
  EXPECT_NE(testsupport::ReadFileText(log2).find("sub\\b.txt CRC FAILED"), std::string::npos);

  // A missing archive: 25192 and status 1.
  std::string log3 = tmp / "log3.txt";
  EXPECT_EQ(RunTool(tmp / "none.zip", outDir, log3), 1);
  EXPECT_NE(testsupport::ReadFileText(log3).find("error 25192 File not found"), std::string::npos);
}

}  // namespace
