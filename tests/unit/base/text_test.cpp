#include "base/text.h"

#include <gtest/gtest.h>

using namespace text;

TEST(Text, CopyClampsEveryRange) {
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
  EXPECT_EQ(Copy("abcdef", -5, 2), "ab");
  EXPECT_EQ(Copy("abcdef", 6, 10), "f");
  EXPECT_EQ(Copy("abcdef", 7, 1), "");
  EXPECT_EQ(Copy("abcdef", 3, -1), "");
  EXPECT_EQ(Copy("abcdef", 3, 0), "");
  EXPECT_EQ(Copy("", 1, 1), "");
  EXPECT_EQ(Copy("abc", 1, INT64_MAX), "abc");
  EXPECT_EQ(CopyFrom("abcdef", 4), "def");
  EXPECT_EQ(CopyFrom("abcdef", 0), "abcdef");
}

TEST(Text, PosIsOneBasedAndZeroWhenAbsent) {
  EXPECT_EQ(Pos("b", "abcb"), 2);
  EXPECT_EQ(Pos("abcb", "abcb"), 1);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Pos("abcd", "abc"), 0);
  EXPECT_EQ(PosEx("b", "abcb", 3), 4);
  EXPECT_EQ(PosEx("b", "abcb", 5), 0);
  EXPECT_EQ(PosEx("b", "abcb", -2), 2);
  EXPECT_EQ(LastDelimiter("\\:", "C:\\a\\b"), 5);
  EXPECT_EQ(LastDelimiter("\\:", "name"), 0);
}

TEST(Text, CaseRules) {
  EXPECT_EQ(UpperCase("/kill \xE9t\xE9"), "/KILL \xE9T\xE9");
  EXPECT_EQ(LowerCase("ABC\xC9"), "abc\xC9");
  // Code page 1252: the Latin-1 letters, and the pairs s-caron, oe, z-caron, y-diaeresis.
  EXPECT_EQ(AnsiUpperCase("\xE9t\xE9 \xE7\xE3o \xF7\xDF\xB5 \x9A\x9C\x9E\xFF"),
            "\xC9T\xC9 \xC7\xC3O \xF7\xDF\xB5 \x8A\x8C\x8E\x9F");
  EXPECT_EQ(AnsiLowerCase("\xC9T\xC9 \xD7 \x8A\x8C\x8E\x9F"), "\xE9t\xE9 \xD7 \x9A\x9C\x9E\xFF");
  EXPECT_TRUE(SameText("English", "ENGLISH"));
  EXPECT_FALSE(
      SameText("fran\xE7"
               "ais",
               "FRAN\xC7"
               "AIS"));
  EXPECT_TRUE(
      AnsiSameText("fran\xE7"
                   "ais",
                   "FRAN\xC7"
                   "AIS"));
  EXPECT_FALSE(AnsiSameText("abc", "abcd"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  EXPECT_LT(CompareText("ab", "AB_"), 0);
  // Letters above 127 sort after ASCII ones as unsigned bytes.
  EXPECT_GT(AnsiCompareText("\xE9", "z"), 0);
  // Folded up, "_" sorts after the letters; folded down, before them.
  EXPECT_GT(AnsiCompareUpper("_", "a"), 0);
  EXPECT_LT(AnsiCompareText("_", "a"), 0);
}

TEST(Text, Trim) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(Text, IntegerConversions) {
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(StrToInt("1234"), 1234);
  EXPECT_EQ(StrToInt("  -7"), -7);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("4294967297"), 4294967297LL);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  for (const char* bad : {"", " ", "-", "12 ", "1a", "0x10", "$10", "1.5", "\t1"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  try {
    StrToInt("abc");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "'abc' is not a valid integer value");
  }
  EXPECT_EQ(StrToIntDef("x", -1), -1);
  EXPECT_EQ(StrToIntDef("80", -1), 80);
  // A count read from outside: digits alone.
  int64_t n = -1;
  for (const char* bad : {"", " 1", "+1", "-1", "1 ", "9223372036854775808"})
    EXPECT_FALSE(TryDigitsToInt64(bad, n)) << bad;
  EXPECT_TRUE(TryDigitsToInt64("0042", n));
  EXPECT_EQ(n, 42);
  EXPECT_EQ(HexDigitValue('f') + HexDigitValue('F') + HexDigitValue('9'), 39);
  EXPECT_EQ(HexDigitValue('g'), -1);
}

TEST(Text, WindowsPathParts) {
  EXPECT_EQ(ExtractFileName("C:\\Temp\\a.zip"), "a.zip");
  EXPECT_EQ(ExtractFileName("C:a.zip"), "a.zip");
  EXPECT_EQ(ExtractFileName("a/b.zip"), "a/b.zip");
  EXPECT_EQ(ExtractFileName("C:\\Temp\\"), "");
  EXPECT_EQ(ExtractFilePath("C:\\Temp\\a.zip"), "C:\\Temp\\");
  EXPECT_EQ(ExtractFilePath("a.zip"), "");
  EXPECT_EQ(ExtractFileDir("C:\\Temp\\a.zip"), "C:\\Temp");
  EXPECT_EQ(ExtractFileDir("C:\\a.zip"), "C:\\");
  EXPECT_EQ(ExtractFileDir("C:a.zip"), "C:");
  EXPECT_EQ(ExtractFileDir("\\\\server\\a"), "\\\\server");
  EXPECT_EQ(ExtractFileExt("C:\\a.b\\c"), "");
  EXPECT_EQ(ExtractFileExt("c.tar.gz"), ".gz");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\x"), "C:\\x\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(IncludeTrailingBackslash(""), "\\");
  EXPECT_EQ(ExcludeTrailingBackslash("C:\\x\\"), "C:\\x");
  EXPECT_EQ(ExcludeTrailingBackslash("C:\\x\\\\"), "C:\\x\\");
  EXPECT_EQ(ExcludeTrailingBackslash(""), "");
}

TEST(Text, StringReplaceAndAffixes) {
  EXPECT_EQ(StringReplace("a\\\\b\\\\c", "\\\\", "\\"), "a\\b\\c");
  EXPECT_EQ(StringReplace("aaa", "aa", "b"), "ba");
  EXPECT_EQ(StringReplace("abc", "", "x"), "abc");
  EXPECT_EQ(StringReplace("xAx", "a", "-", true), "x-x");
  EXPECT_EQ(StringReplace("xAx", "a", "-"), "xAx");
  EXPECT_EQ(StringReplace("abab", "ab", "abab"), "abababab");
  EXPECT_TRUE(StartsText("http://", "HTTP://x"));
  EXPECT_FALSE(StartsText("http://", "htt"));
  EXPECT_TRUE(EndsText(".ZIP", "a.zip"));
}
