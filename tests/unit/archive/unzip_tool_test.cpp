// lu-unzip, run as a program: its lines and its exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
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

// Nothing passes for success that is not: a file that is no archive, and cuts of
// a good archive anywhere (TUnZip's own tests take every cut).
TEST(UnZipTool, NoArchiveAndCutArchivesFail) {
  if (!platform::FileExists(ToolPath())) GTEST_SKIP() << "lu-unzip not built: " << ToolPath();
  testsupport::TTempFolder tmp;
  std::vector<unziptest::TEntrySpec> entries(3);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].Name = std::string("d/e").append(std::to_string(i)).append(".txt");
    entries[i].Data = std::string(200 + 50 * i, static_cast<char>('a' + i));
  }
  const std::string whole = unziptest::BuildZip(entries);
  std::vector<std::pair<std::string, std::string>> inputs = {{"empty file", ""}, {"text", "no archive, only text\r\n"}};
  for (std::size_t cut = 1; cut < whole.size(); cut += whole.size() / 9)
    inputs.push_back({"cut", whole.substr(0, cut)});
  inputs.push_back({"last byte cut", whole.substr(0, whole.size() - 1)});
  for (const auto& [what, bytes] : inputs) {
    SCOPED_TRACE(what + " of " + std::to_string(bytes.size()) + " bytes");
    platform::EraseFile(tmp / "in.zip");
    testsupport::WriteFileText(tmp / "in.zip", bytes);
    testsupport::RemoveTree(tmp / "out");
    EXPECT_EQ(RunTool(tmp / "in.zip", tmp / "out", tmp / "log.txt"), 1);
    EXPECT_NE(testsupport::ReadFileText(tmp / "log.txt").find("error "), std::string::npos);
  }
}

// A write the system refuses (here a limit on file sizes, as a full disk would)
// names the file and the system's reason.
TEST(UnZipTool, RefusedWriteIsReportedWithTheSystemsReason) {
  if (!platform::EmulatedMachine()) GTEST_SKIP() << "needs a shell's file size limit (Linux port)";
  if (!platform::FileExists(ToolPath())) GTEST_SKIP() << "lu-unzip not built: " << ToolPath();
  testsupport::TTempFolder tmp;
  unziptest::TEntrySpec big;
  big.Name = "big.bin";
  big.Data = std::string(200000, 'b');
  testsupport::WriteFileText(tmp / "big.zip", unziptest::BuildZip({big}));
  // 64 blocks of 1 KB; the signal that would end the program instead is ignored.
  std::string command = "trap '' XFSZ; ulimit -f 64; exec " + testsupport::Quoted(platform::HostPath(ToolPath())) +
                        " " + testsupport::Quoted(platform::HostPath(tmp / "big.zip")) + " " +
                        testsupport::Quoted(platform::HostPath(tmp / "out")) + " > " +
                        testsupport::Quoted(platform::HostPath(tmp / "log.txt"));
  int status = std::system(("sh -c " + testsupport::Quoted(command)).c_str());
  EXPECT_EQ((status >> 8) & 0xFF, 1);
  std::string log = testsupport::ReadFileText(tmp / "log.txt");
  const std::string line = "error 25136 Error writing to file: " + tmp / "out\\big.bin ";
  EXPECT_NE(log.find(line), std::string::npos) << log;
}

}  // namespace
