// Entry selection by FileSpec patterns, and stored names to the program's names.
#include <gtest/gtest.h>

#include "archive/entry_names.h"
#include "archive/file_spec.h"
#include "platform/system.h"

namespace {

using archive::PatternSelects;

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

// Stored names to the program's names: UTF-8 when flagged or from a Unix or macOS
// tool, code page 437 otherwise, then the ANSI code page (1252 where the product
// is sold), never with a look-alike or "_" in place of a missing character.
TEST(UnZipWildcard, EntryNames) {
  struct Case {
    std::string stored;
    uint16_t flags;
    int host;
    std::u32string unicode;  // what the name means; empty: its bytes are kept as they are
    std::string kept;        // the name then
  } cases[] = {
      {"plain/ascii.txt", 0, 0, U"plain\\ascii.txt", ""},
      {"caf\x82.txt", 0, 0, U"caf\u00E9.txt", ""},  // code page 437
      {"caf\x82.txt", 0, -1, U"caf\u00E9.txt", ""},
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xE2\x80\x93", 0x800, 0, U"\u00E9t\u00E9 \u20AC \u2013", ""},
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xE2\x80\x93", 0, 3, U"\u00E9t\u00E9 \u20AC \u2013", ""},
      {"D\xC3\xA9sinstaller", 0, 19, U"D\u00E9sinstaller", ""},
      {"D\xC3\xA9sinstaller", 0, -1, U"D\u00E9sinstaller", ""},
      {"D\xC3\xA9sinstaller", 0, 0, U"D\u251C\u2310sinstaller", ""},  // not flagged: code page 437
      {"\xE9t\xE9", 0, 3, U"", "\xE9t\xE9"},                          // a Unix name that is no UTF-8
      {"box\xC4\xB3", 0, 0, U"box\u2500\u2502", ""},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 0x800, 0, U"\u65E5\u672C\u8A9E.txt", ""},
      {"./data/./maps/", 0, 3, U"data\\maps\\", ""},
      {"./", 0, 3, U"\\", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    std::string name;
    bool ok = archive::EntryName(c.stored, c.flags, c.host, true, name);
    if (c.unicode.empty()) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(name, c.kept);
      continue;
    }
    std::string ansi;
    bool representable = platform::UnicodeToAnsi(c.unicode, ansi);
    EXPECT_EQ(ok, representable);
    if (representable) {
      EXPECT_EQ(name, ansi);
    }
  }
  // 1252 on the Linux port (and under Wine as it comes): the euro sign and the dash
  // have bytes of their own there.
  std::string name;
  if (platform::UnicodeToAnsi(U"\u20AC\u2013", name) && name == "\x80\x96") {
    EXPECT_TRUE(archive::EntryName("\xE2\x82\xAC\xE2\x80\x93", 0x800, 0, true, name));
    EXPECT_EQ(name, "\x80\x96");
  }
  // A name the code page cannot hold is shown with the characters it lacks.
  if (!platform::UnicodeToAnsi(U"\u65E5", name)) {
    EXPECT_FALSE(archive::EntryName("a/\xE6\x97\xA5.txt", 0x800, 0, true, name));
    EXPECT_EQ(name, "a\\<U+65E5>.txt");
  }
  // Without translation the bytes stay.
  EXPECT_TRUE(archive::EntryName("a/caf\x82.txt", 0, 0, false, name));
  EXPECT_EQ(name, "a\\caf\x82.txt");
}

}  // namespace
