// Entry selection by FileSpec patterns and name conversion to ANSI.
#include <gtest/gtest.h>

#include "archive/oem_charset.h"
#include "archive/wildcard.h"

namespace {

using archive::MatchesMask;
using archive::PatternSelects;

TEST(UnZipWildcard, MasksMatchWholeNamesIgnoringCase) {
  struct Case {
    const char* text;
    const char* mask;
    bool match;
  } cases[] = {
      {"readme.txt", "*.txt", true},
      {"README.TXT", "*.txt", true},
      {"readme.txt", "*.tx", false},
      {"readme.txt", "r?adme.*", true},
      {"readme.txt", "?", false},
      {"", "*", true},
      {"", "?", false},
      {"abc", "a*b*c", true},
      {"abbbc", "a*b*c", true},
      {"abcb", "a*b*c", false},
      {"a.b.c", "*.c", true},
      {"x", "**", true},
      {"caf\xE9.txt", "CAF\xC9.*", true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.text, c.mask), c.match) << c.text << " ~ " << c.mask;
}

TEST(UnZipWildcard, PatternRules) {
  // "*.*" selects everything, names without an extension and folders included.
  for (const char* name : {"README", "bin\\tool", "a.txt", "dir\\sub\\", "x.y.z"})
    EXPECT_TRUE(PatternSelects(name, "*.*", true)) << name;
  EXPECT_TRUE(PatternSelects("Makefile", "Make*", true));
  EXPECT_TRUE(PatternSelects("Makefile", "*.", true));
  EXPECT_FALSE(PatternSelects("a.txt", "*.", true));
  // The whole name, letter case ignored.
  EXPECT_TRUE(PatternSelects("Dir\\File.TXT", "dir\\file.txt", false));
  // Without recursion the folders must be equal.
  EXPECT_FALSE(PatternSelects("dir\\a.txt", "*.txt", false));
  EXPECT_TRUE(PatternSelects("a.txt", "*.txt", false));
  EXPECT_TRUE(PatternSelects("dir\\a.txt", "DIR\\*.txt", false));
  EXPECT_FALSE(PatternSelects("dir\\sub\\a.txt", "dir\\*.txt", false));
  // With recursion a pattern folder selects in it and below it.
  EXPECT_TRUE(PatternSelects("dir\\sub\\a.txt", "dir\\*.txt", true));
  EXPECT_TRUE(PatternSelects("d1\\a.txt", "d?\\*.txt", true));
  EXPECT_FALSE(PatternSelects("other\\a.txt", "dir\\*.txt", true));
  EXPECT_FALSE(PatternSelects("dirx\\a.txt", "dir\\*.txt", true));
  EXPECT_TRUE(archive::FileSpecSelects("b.ini", {"*.txt", "*.ini"}, true));
  EXPECT_FALSE(archive::FileSpecSelects("b.ini", {}, true));
}

TEST(UnZipWildcard, NamesToAnsi) {
  EXPECT_EQ(archive::OemToAnsi("plain/ascii.txt"), "plain/ascii.txt");
  EXPECT_EQ(archive::OemToAnsi("\x80\x81\x82\x8E\x99\x9A\xA4\xE1\xF8"), "\xC7\xFC\xE9\xC4\xD6\xDC\xF1\xDF\xB0");
  EXPECT_EQ(archive::OemToAnsi("box\xC4\xB3"), "box__");
  std::string out;
  EXPECT_TRUE(archive::Utf8ToAnsi("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", out));
  EXPECT_EQ(out, "\xE9t\xE9 _");
  EXPECT_FALSE(archive::Utf8ToAnsi("\xE9t\xE9", out));     // Latin-1, not UTF-8
  EXPECT_FALSE(archive::Utf8ToAnsi("\xC0\xAF", out));      // overlong "/"
  EXPECT_FALSE(archive::Utf8ToAnsi("\xED\xA0\x80", out));  // surrogate
  EXPECT_FALSE(archive::Utf8ToAnsi("\xE2\x82", out));      // cut short
  // By flag and host: UTF-8 flagged, Unix bytes kept when not UTF-8, OEM otherwise.
  EXPECT_EQ(archive::EntryNameToAnsi("\xC3\xA9", 0x800, 0), "\xE9");
  EXPECT_EQ(archive::EntryNameToAnsi("\xC3\xA9", 0, 3), "\xE9");
  EXPECT_EQ(archive::EntryNameToAnsi("\xE9", 0, 3), "\xE9");
  EXPECT_EQ(archive::EntryNameToAnsi("\x82", 0, 0), "\xE9");
  EXPECT_EQ(archive::EntryNameToAnsi("\x82", 0, -1), "\xE9");
}

}  // namespace
