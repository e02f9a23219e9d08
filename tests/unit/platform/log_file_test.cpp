// The run's log: one line per event with its time, rotation past the size, and a
// log that cannot be written losing lines, never the run.
#include <gtest/gtest.h>

#include <regex>

#include "base/log.h"
#include "platform/files.h"
#include "platform/log_file.h"
#include "support/test_platform.h"
#include "support/test_support.h"

using testsupport::ReadFileText;
using testsupport::TTempFolder;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  const std::string end = platform::LogLineEnd();
  for (size_t from = 0, at; (at = text.find(end, from)) != std::string::npos; from = at + end.size())
    lines.push_back(text.substr(from, at - from));
  return lines;
}

}  // namespace

TEST(LogFile, EachEventIsOneLineAfterItsTimeAppendedToWhatWasThere) {
  TTempFolder dir;
  const std::string path = dir / "ORBAXLiveUpdate.log";
  testsupport::WriteFileText(path, std::string("an earlier run") + platform::LogLineEnd());
  auto file = platform::StartLogFile(path);
  EXPECT_TRUE(logging::Enabled());
  logging::Log("first");
  logging::Log("a server's\r\ntext\tquoted");
  logging::SetSink(nullptr);
  file.reset();
  logging::Log("after the log ended");

  const std::vector<std::string> lines = Lines(ReadFileText(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "an earlier run");
  const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[1], m, stamp)) << lines[1];
  EXPECT_EQ(m[1], "first");
  ASSERT_TRUE(std::regex_match(lines[2], m, stamp)) << lines[2];
  EXPECT_EQ(m[1], "a server's  text quoted");
}

TEST(LogFile, PastItsSizeTheLogMovesToDotOne) {
  TTempFolder dir;
  const std::string path = dir / "run.log";
  {
    platform::TLogFile log(path, 300);
    for (int i = 0; i < 12; ++i) log.Write("line " + std::to_string(i) + std::string(30, '.'));
  }
  const std::vector<std::string> current = Lines(ReadFileText(path)), previous = Lines(ReadFileText(path + ".1"));
  EXPECT_LE(ReadFileText(path).size(), 300u);
  ASSERT_FALSE(current.empty());
  ASSERT_FALSE(previous.empty());
  EXPECT_NE(current.back().find("line 11."), std::string::npos);
  // Nothing lost between the two: .1 ends where the file begins.
  const size_t first = 12 - current.size();
  EXPECT_NE(current.front().find("line " + std::to_string(first) + "."), std::string::npos);
  EXPECT_NE(previous.back().find("line " + std::to_string(first - 1) + "."), std::string::npos);
}

TEST(LogFile, AFileThatCannotBeWrittenLosesLinesNotTheRun) {
  TTempFolder dir;
  const std::string path = dir / "later\\run.log";
  platform::TLogFile log(path);
  EXPECT_NO_THROW(log.Write("lost: no folder yet"));
  ASSERT_TRUE(platform::CreateDir(dir / "later"));
  log.Write("kept");
  EXPECT_EQ(Lines(ReadFileText(path)).size(), 1u);

  // A sink that fails: the event is dropped, nothing reaches the caller.
  struct TBroken : logging::TLogSink {
    void Write(const std::string&) override { throw std::runtime_error("disk full"); }
  };
  auto previous = logging::SetSink(std::make_shared<TBroken>());
  EXPECT_NO_THROW(logging::Log("dropped"));
  logging::SetSink(previous);

  // A link planted where the log should be, as anyone may in a shared TEMP: the
  // log refuses it, and what it leads to stays as it was.
  testsupport::WriteFileText(dir / "victim.txt", "mine");
  if (platform::MakeLink(dir / "linked.log", dir / "victim.txt", false)) {
    platform::TLogFile linked(dir / "linked.log");
    linked.Write("never written through a link");
    EXPECT_EQ(ReadFileText(dir / "victim.txt"), "mine");
  }
}
