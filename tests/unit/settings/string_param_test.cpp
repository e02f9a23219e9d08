#include "settings/string_param.h"

#include <gtest/gtest.h>

namespace {
std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  return TStringParam(text, sep).Texts();
}
using V = std::vector<std::string>;
}  // namespace

TEST(StringParam, SplitWithComma) {
  EXPECT_EQ(Split("", ","), V{});
  EXPECT_EQ(Split(",", ","), V{""});
  EXPECT_EQ(Split(",,", ","), (V{"", ""}));
  EXPECT_EQ(Split("a", ","), V{"a"});
  EXPECT_EQ(Split("a,b", ","), (V{"a", "b"}));
  EXPECT_EQ(Split("a,b,", ","), (V{"a", "b"}));
  EXPECT_EQ(Split("a,,b", ","), (V{"a", "", "b"}));
  EXPECT_EQ(Split(",a", ","), (V{"", "a"}));
  EXPECT_EQ(Split("a, b", ","), (V{"a", " b"}));
  EXPECT_EQ(Split("1234,5678", ","), (V{"1234", "5678"}));
}

TEST(StringParam, SplitIsCaseSensitiveAndOtherSeparators) {
  EXPECT_EQ(Split("aXbxc", "x"), (V{"aXb", "c"}));
  EXPECT_EQ(Split("C:\\a;C:\\b;", ";"), (V{"C:\\a", "C:\\b"}));
  EXPECT_EQ(Split("\\Software\\ORBAX\\Kestrova", "\\"), (V{"", "Software", "ORBAX", "Kestrova"}));
  EXPECT_EQ(Split("ORBAXLU_DEL_12", "_"), (V{"ORBAXLU", "DEL", "12"}));
}

TEST(StringParam, DefaultSeparatorIsCrLf) {
  TStringParam list;
  EXPECT_EQ(list.Separator(), "\r\n");
  TStringParam empty("", "");
  EXPECT_EQ(empty.Separator(), "\r\n");
  EXPECT_EQ(Split("one\r\ntwo\r\n", ""), (V{"one", "two"}));
  EXPECT_EQ(Split("one\r\ntwo", ""), (V{"one", "two"}));
  // A CR or LF on its own is an ordinary character of an item.
  EXPECT_EQ(Split("a\rb\r\nc\nd", ""), (V{"a\rb", "c\nd"}));
  // A CR right before the CR LF: the partial match resumes at the second CR.
  EXPECT_EQ(Split("a\r\r\nb", ""), (V{"a\r", "b"}));
  EXPECT_EQ(Split("\r\n\r\n", ""), (V{"", ""}));
  // A text shorter than the separator.
  EXPECT_EQ(Split("\r", ""), V{"\r"});
  EXPECT_EQ(Split("\n", ""), V{"\n"});
}

TEST(StringParam, MultiCharacterSeparatorScanDoesNotStepBack) {
  EXPECT_EQ(Split("a::b::", "::"), (V{"a", "b"}));
  EXPECT_EQ(Split("a:b::c", "::"), (V{"a:b", "c"}));
  // "a:::b": the separator matches at the first two colons; the third belongs
  // to the next item.
  EXPECT_EQ(Split("a:::b", "::"), (V{"a", ":b"}));
  // With a separator whose beginning repeats inside it the scan can miss a
  // separator: "xaaab" ends with "aab", yet a partial match at "aa" consumes the
  // characters the real one starts with.
  EXPECT_EQ(Split("xaab", "aab"), V{"x"});
  EXPECT_EQ(Split("xaaab", "aab"), V{});
}

TEST(StringParam, JoinPutsSeparatorAfterEveryItem) {
  TStringParam list("", ",");
  EXPECT_EQ(list.GetTextStr(), "");
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(list.GetTextStr(), "a,b,");
  TStringParam lines;
  lines.Add("x");
  lines.Add("");
  EXPECT_EQ(lines.GetTextStr(), "x\r\n\r\n");
}

TEST(StringParam, JoinAndSplitAreInverse) {
  const V cases[] = {{}, {""}, {"", ""}, {"a", "", "b", ""}, {" a ", "\xE9t\xE9"}, {"", "", "x"}};
  for (const char* sep : {",", ";", "\\", "_", ""}) {
    for (const V& items : cases) {
      TStringParam list("", sep);
      for (const std::string& s : items) list.Add(s);
      EXPECT_EQ(Split(list.GetTextStr(), sep), items) << "separator " << sep;
    }
  }
}

TEST(StringParam, ListOperations) {
  TStringParam list("b,a,c", ",");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.AddObject("HK", 0x80000001), 3);
  EXPECT_EQ(list.Objects(3), 0x80000001);
  EXPECT_EQ(list.Objects(0), 0);
  list.Insert(0, "first", 7);
  EXPECT_EQ(list.Strings(0), "first");
  EXPECT_EQ(list.Objects(0), 7);
  list.Insert(list.Count(), "last");
  EXPECT_EQ(list.Strings(5), "last");
  list.Delete(0);
  EXPECT_EQ(list.GetTextStr(), "b,a,c,HK,last,");
  list.SetStrings(1, "A2");
  list.SetObjects(1, 9);
  EXPECT_EQ(list.Strings(1), "A2");
  EXPECT_EQ(list.Objects(1), 9);
  EXPECT_THROW(list.Strings(5), EStringListError);
  EXPECT_THROW(list.Strings(-1), EStringListError);
  EXPECT_THROW(list.Delete(5), EStringListError);
  EXPECT_THROW(list.Insert(7, "x"), EStringListError);
  // Content replaced by a split loses the attached values.
  list.SetTextStr("x");
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Objects(0), 0);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetTextStr(), "");
}

TEST(StringParam, IndexOfIgnoresCaseUnderLatin1) {
  TStringParam list("Alpha,\xC9t\xE9,alpha,", ",");
  EXPECT_EQ(list.IndexOf("ALPHA"), 0);
  EXPECT_EQ(list.IndexOf("\xE9T\xC9"), 1);
  EXPECT_EQ(list.IndexOf("alph"), -1);
  EXPECT_EQ(list.IndexOf(""), -1);
  list.Add("");
  EXPECT_EQ(list.IndexOf(""), 3);
}

TEST(StringParam, SortIgnoresCaseAndKeepsObjects) {
  TStringParam list("", ";");
  list.AddObject("b", 2);
  list.AddObject("A", 1);
  list.AddObject("C", 3);
  list.AddObject("a", 4);
  list.Sort();
  EXPECT_EQ(list.GetTextStr(), "A;a;b;C;");
  EXPECT_EQ(list.Objects(0), 1);
  EXPECT_EQ(list.Objects(1), 4);
  EXPECT_EQ(list.Objects(3), 3);

  std::vector<std::string> names{"ORBAXLU_DEL_2", "orbaxlu_del_10", "ORBAXLU_DEL_1", "Z:\\b", "z:\\A"};
  SortIgnoringCase(names);
  EXPECT_EQ(names, (V{"ORBAXLU_DEL_1", "orbaxlu_del_10", "ORBAXLU_DEL_2", "z:\\A", "Z:\\b"}));
}
