#include "base/codepage.h"

#include <gtest/gtest.h>

using namespace codepage;

// One row per character class: ASCII, Latin-1, the 1252-only middle, outside 1252.
TEST(CodePage, Utf8And1252RoundTrip) {
  struct Row {
    const char* cp1252;
    const char* utf8;
  };
  const Row rows[] = {
      {"readme.txt", "readme.txt"},
      {"caf\xE9.txt", "caf\xC3\xA9.txt"},
      {"D\xE9sinstaller Kestrova.lnk", "D\xC3\xA9sinstaller Kestrova.lnk"},
      {"\x80 \x96 \x9C \x9F", "\xE2\x82\xAC \xE2\x80\x93 \xC5\x93 \xC5\xB8"},
      {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // undefined in 1252: C1 controls
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Cp1252ToUtf8(r.cp1252), r.utf8) << r.cp1252;
    std::string back = "untouched";
    ASSERT_TRUE(Utf8ToCp1252(r.utf8, back)) << r.utf8;
    EXPECT_EQ(back, r.cp1252);
  }
}

TEST(CodePage, WhatHasNoPlaceIsRefusedNotReplaced) {
  const char* refused[] = {
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt",  // Japanese: outside 1252
      "\xC4\x9B",                                  // e-caron: a look-alike exists, but no byte
      "\xF0\x9F\x98\x80",                          // outside the basic plane
      "\xC3",                                      // truncated
      "\xC0\xAF",                                  // overlong "/"
      "\xED\xA0\x80",                              // a surrogate
      "\xF4\x90\x80\x80",                          // past U+10FFFF
      "\xFF",
  };
  for (const char* s : refused) {
    std::string out = "untouched";
    EXPECT_FALSE(Utf8ToCp1252(s, out)) << s;
    EXPECT_EQ(out, "untouched");
  }
}

TEST(CodePage, Cp437) {
  // MS-DOS names: accented letters, box drawing, Greek, the non-breaking space.
  EXPECT_EQ(UnicodeToUtf8(Cp437ToUnicode("caf\x82 \x80\x9A \xC4\xE1\xEB \xFF~")),
            "caf\xC3\xA9 \xC3\x87\xC3\x9C \xE2\x94\x80\xC3\x9F\xCE\xB4 \xC2\xA0~");
  std::u32string all;
  ASSERT_TRUE(Utf8ToUnicode(UnicodeToUtf8(Cp437ToUnicode(std::string("\x01\x7F\x80\xFF", 4))), all));
  EXPECT_EQ(all, (std::u32string{0x01, 0x7F, 0xC7, 0xA0}));
}
