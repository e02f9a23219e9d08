// REGEDIT4 text to tree and back, from memory: what regedit and hand editors write,
// what the hives of the Linux port hold, and text that must mark a hive corrupt.
#include "platform/regedit4.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::regedit4;

namespace {

TRegValue ValueAt(Hive& hive, const std::string& keyPath, const std::string& name) {
  Key* key = Walk(&hive.top, SplitKeyPath(keyPath));
  TRegValue* v = key ? key->Value(name) : nullptr;
  return v ? *v : TRegValue{0xFFFF, "(missing)"};
}

bool All(const std::string&) { return true; }

}  // namespace

TEST(Regedit4, ValuesOfEveryForm) {
  struct Case {
    const char* line;
    uint32_t type;
    std::string data;
  } cases[] = {
      {R"("v"="plain")", REG_SZ_TYPE, "plain"},
      {R"("v"="C:\\Program Files\\\"q\" ; [x]")", REG_SZ_TYPE, "C:\\Program Files\\\"q\" ; [x]"},
      {R"("v"="")", REG_SZ_TYPE, ""},
      {"\"v\"=\"caf\xE9\"", REG_SZ_TYPE, "caf\xE9"},
      {R"("v"=dword:0000ABCD)", REG_DWORD_TYPE, std::string("\xCD\xAB\0\0", 4)},
      {R"("v"=dword:ffffffff)", REG_DWORD_TYPE, "\xFF\xFF\xFF\xFF"},
      {R"("v"=hex:01,02, 03 ,ff)", REG_BINARY_TYPE, "\x01\x02\x03\xFF"},
      {R"("v"=hex:)", REG_BINARY_TYPE, ""},
      {R"("v"=hex(2):25,00)", REG_EXPAND_SZ_TYPE, "%"},  // the terminating NUL goes
      {R"("v"=hex(1):6f,6e,0d,0a,00)", REG_SZ_TYPE, "on\r\n"},
      {R"("v"=hex(7):61,00,62,00,00)", REG_MULTI_SZ_TYPE, std::string("a\0b\0\0", 5)},
      {"\"v\"=hex:01,\\\r\n   02,\\\n 03", REG_BINARY_TYPE, "\x01\x02\x03"},  // continued lines
  };
  for (const auto& c : cases) {
    Hive hive;
    Parse(std::string("REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n") + c.line + "\r\n", hive);
    EXPECT_FALSE(hive.corrupt) << c.line;
    TRegValue v = ValueAt(hive, "HKEY_CURRENT_USER\\K", "V");  // names ignore case
    EXPECT_EQ(v.Type, c.type) << c.line;
    EXPECT_EQ(v.Data, c.data) << c.line;
  }
}

TEST(Regedit4, LinesThatMarkTheHiveCorrupt) {
  const char* lines[] = {
      "\"v\"=dword:123456789",  // more than 32 bits
      "\"v\"=dword:",
      "\"v\"=dword:12g4",
      "\"v\"=hex:1",
      "\"v\"=hex:0x",
      "\"v\"=hex(:01",
      "\"v\"=hex(zz):01",
      "\"v\"=\"open",
      "\"v\"=\"a\" b",
      "\"v\"",
      "\"v\"=something",
      "v=\"unquoted\"",
      "[",
      "[]",
      "[\\]",
      "meaningless text",
  };
  for (const char* line : lines) {
    Hive hive;
    Parse(std::string("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"good\"=\"g\"\n") + line + "\n", hive);
    EXPECT_TRUE(hive.corrupt) << line;
    EXPECT_EQ(ValueAt(hive, "HKEY_CURRENT_USER\\K", "good").Data, "g") << line;  // what was understood stays
  }
  Hive notRegedit;
  Parse("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n", notRegedit);
  EXPECT_TRUE(notRegedit.corrupt);
  Hive valueBeforeKey;
  Parse("REGEDIT4\n\"v\"=\"x\"\n", valueBeforeKey);
  EXPECT_TRUE(valueBeforeKey.corrupt);
  Hive empty;
  Parse("\n\n", empty);
  EXPECT_FALSE(empty.corrupt);
  EXPECT_TRUE(empty.top.subkeys.empty());
}

TEST(Regedit4, DeletionsCommentsAndSpellings) {
  Hive hive;
  Parse(
      "\xEF\xBB\xBFREGEDIT4\n"
      "; a comment\n"
      "[hkey_current_user\\Software\\Keep]\n"
      "\"Gone\"=\"x\"\n"
      "\"Stays\"=\"y\"\n"
      "\"gone\"=-\n"
      "[HKEY_CURRENT_USER\\Software\\Drop\\Deep]\n"
      "@=\"d\"\n"
      "[-HKEY_CURRENT_USER\\software\\DROP]\n"
      "[-HKEY_CURRENT_USER\\No\\Such]\n"
      "[HKEY_CURRENT_USER\\\\Software\\\\keep\\]\n"
      "\"Stays\"=\"replaced\"\n",
      hive);
  EXPECT_FALSE(hive.corrupt);
  ASSERT_EQ(hive.top.subkeys.size(), 1u);
  EXPECT_EQ(hive.top.subkeys[0]->name, "HKEY_CURRENT_USER");  // one spelling for roots
  Key* keep = Walk(&hive.top, SplitKeyPath("HKEY_CURRENT_USER\\SOFTWARE\\KEEP"));
  ASSERT_NE(keep, nullptr);
  EXPECT_EQ(keep->name, "Keep");  // the first spelling stays
  ASSERT_EQ(keep->values.size(), 1u);
  EXPECT_EQ(keep->values[0].second.Data, "replaced");
  EXPECT_EQ(Walk(&hive.top, SplitKeyPath("HKEY_CURRENT_USER\\Software\\Drop")), nullptr);
}

TEST(Regedit4, FormatReadsBackAsTheSameTree) {
  Hive hive;
  Key* k = hive.top.Add("HKEY_CURRENT_USER")->Add("Software")->Add("zeta");
  hive.top.Add("HKEY_CURRENT_USER")
      ->Add("Software")
      ->Add("Alpha")
      ->values.emplace_back("", TRegValue{REG_SZ_TYPE, "d"});
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += static_cast<char>(i * 7);
  k->values.emplace_back("second \"q\" \\", TRegValue{REG_SZ_TYPE, "C:\\x\\\"y\""});
  k->values.emplace_back("First", TRegValue{REG_BINARY_TYPE, bytes});
  k->values.emplace_back("Lines", TRegValue{REG_SZ_TYPE, "a\r\nb"});
  k->values.emplace_back("Nul", TRegValue{REG_SZ_TYPE, std::string("a\0b", 3)});
  k->values.emplace_back("Num", TRegValue{REG_DWORD_TYPE, "\x01\x02\x03\x04"});
  k->values.emplace_back("Odd", TRegValue{REG_DWORD_TYPE, "\x01\x02"});  // not 4 bytes: kept as hex
  k->values.emplace_back("Exp", TRegValue{REG_EXPAND_SZ_TYPE, "%TEMP%"});
  hive.top.Add("HKEY_LOCAL_MACHINE")->Add("M")->values.emplace_back("m", TRegValue{REG_SZ_TYPE, "1"});

  std::string text = Format(hive, All);
  EXPECT_EQ(text.substr(0, 9), "REGEDIT4\n");
  EXPECT_LT(text.find("[HKEY_CURRENT_USER\\Software\\Alpha]"), text.find("[HKEY_CURRENT_USER\\Software\\zeta]"));
  EXPECT_NE(text.find("\n\"Num\"=dword:04030201\n"), std::string::npos) << text;
  EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long data goes on over lines";

  Hive back;
  Parse(text, back);
  EXPECT_FALSE(back.corrupt);
  EXPECT_EQ(Format(back, All), text);
  for (const auto& [name, value] : k->values) {
    TRegValue got = ValueAt(back, "HKEY_CURRENT_USER\\Software\\zeta", name);
    EXPECT_EQ(got.Type, value.Type) << name;
    EXPECT_EQ(got.Data, value.Data) << name;
  }
  // Each hive file gets its own roots only.
  std::string machineOnly = Format(hive, [](const std::string& root) { return root == "HKEY_LOCAL_MACHINE"; });
  EXPECT_EQ(machineOnly, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\M]\n\"m\"=\"1\"\n");
}

TEST(Regedit4, EveryTruncationParsesWithoutHarm) {
  Hive hive;
  Key* k = hive.top.Add("HKEY_CURRENT_USER")->Add("K");
  k->values.emplace_back("Bin", TRegValue{REG_BINARY_TYPE, std::string(60, '\x5A')});
  k->values.emplace_back("Text", TRegValue{REG_SZ_TYPE, "a \"quoted\" \\ text"});
  k->values.emplace_back("Num", TRegValue{REG_DWORD_TYPE, std::string("\x01\0\0\0", 4)});
  const std::string text = Format(hive, All);
  for (size_t n = 0; n <= text.size(); ++n) {
    Hive cut;
    Parse(text.substr(0, n), cut);  // neither crashes nor invents names
    Key* key = Walk(&cut.top, SplitKeyPath("HKEY_CURRENT_USER\\K"));
    for (size_t v = 0; key && v < key->values.size(); ++v) EXPECT_NE(k->Value(key->values[v].first), nullptr) << n;
  }
}
