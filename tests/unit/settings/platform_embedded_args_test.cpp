// The platform services this subsystem takes: embedded resources by name,
// program arguments and the environment.
#include <gtest/gtest.h>

#include "platform/system.h"

TEST(EmbeddedResource, LookupIgnoresCaseAndKeepsBytes) {
  const auto exact = platform::EmbeddedResource("KVI_XMLFILE");
  ASSERT_TRUE(exact.has_value());
  EXPECT_GT(exact->size(), 1000u);
  EXPECT_EQ(platform::EmbeddedResource("KVI_XMLFile"), exact);
  EXPECT_EQ(platform::EmbeddedResource("kvi_xmlfile"), exact);
  // The bytes arrive unchanged: CR LF line ends and ISO-8859-1 letters.
  EXPECT_NE(exact->find("\r\n"), std::string::npos);
  EXPECT_NE(exact->find("T\xE9l\xE9"
                        "chargement"),
            std::string::npos);
  const auto other = platform::EmbeddedResource("LU_XMLFILE");
  ASSERT_TRUE(other.has_value());
  EXPECT_NE(*other, *exact);
  EXPECT_FALSE(platform::EmbeddedResource("NO_SUCH_RESOURCE").has_value());
  EXPECT_FALSE(platform::EmbeddedResource("").has_value());
  EXPECT_FALSE(platform::EmbeddedResource("KVI_XMLFIL").has_value());
  EXPECT_FALSE(platform::EmbeddedResource("KVI_XMLFILEX").has_value());
}

TEST(ProgramArguments, MatchTheProcessArguments) {
  // gtest's own copy of argv; on Windows the arguments come from the command
  // line and must agree with the runtime's split of the same line.
  std::vector<std::string> argv = testing::internal::GetArgvs();
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  platform::SetProgramArguments(static_cast<int>(raw.size()), raw.data());
  const std::vector<std::string> expected(argv.begin() + 1, argv.end());
  EXPECT_EQ(platform::ProgramArguments(), expected);
}

TEST(Environment, GetEnv) {
  EXPECT_EQ(platform::GetEnv("LU_SURELY_UNSET_VARIABLE_4711"), "");
  EXPECT_FALSE(platform::GetEnv("PATH").empty());
}
