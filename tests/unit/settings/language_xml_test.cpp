#include "settings/language_xml.h"

#include <gtest/gtest.h>

#include "settings/file_xml.h"

TEST(ExtractElement, Cuts) {
  const std::string block =
      "<LANGUAGE>\r\n<ENGLISH>\r\n<S_A = \"a\" />\r\n</ENGLISH>\r\n<FRENCH>x</FRENCH>\r\n</LANGUAGE>\r\n";
  EXPECT_EQ(ExtractElement("ENGLISH", block), "<ENGLISH>\r\n<S_A = \"a\" />\r\n</ENGLISH>");
  EXPECT_EQ(ExtractElement("FRENCH", block), "<FRENCH>x</FRENCH>");
  EXPECT_EQ(ExtractElement("LANGUAGE", "<?xml?>\r\n" + block), block.substr(0, block.size() - 2));
  EXPECT_EQ(ExtractElement("GERMAN", block), "");
  // Case matters.
  EXPECT_EQ(ExtractElement("english", block), "");
  // End tag missing.
  EXPECT_EQ(ExtractElement("ENGLISH", "<ENGLISH><S_A = \"a\" />"), "");
  // Start tag missing: from the first character through the end tag.
  EXPECT_EQ(ExtractElement("FRENCH", "<ENGLISH>e</ENGLISH>f</FRENCH>tail"), "<ENGLISH>e</ENGLISH>f</FRENCH>");
  EXPECT_EQ(ExtractElement("FRENCH", "</FRENCH>"), "</FRENCH>");
  // End tag before the start tag.
  EXPECT_EQ(ExtractElement("A", "</A><A>"), "");
  // The start tag is a prefix match.
  EXPECT_EQ(ExtractElement("FRENCH", "<FRENCHX>y</FRENCH>"), "<FRENCHX>y</FRENCH>");
  EXPECT_EQ(ExtractElement("A", ""), "");
}

TEST(ReadValue, EntryForms) {
  const std::string section =
      "<S_CodeLanguage Value = \"EN\" />\r\n<S_Download Value=\"Downloading\" />\r\n<S_BInstall = \"Install\" />\r\n"
      "<S_Tab\tValue=\"t\" />\r\n<S_Eq=\"e\" />\r\n<S_Line\r\nValue=\"l\" />\r\n<S_Blanks    =   \"b\" />\r\n";
  EXPECT_EQ(ReadValue("S_CodeLanguage", section), "EN");
  EXPECT_EQ(ReadValue("S_Download", section), "Downloading");
  EXPECT_EQ(ReadValue("S_BInstall", section), "Install");
  EXPECT_EQ(ReadValue("S_Blanks", section), "b");
  EXPECT_EQ(ReadValue("S_Tab", section), "");
  EXPECT_EQ(ReadValue("S_Eq", section), "");
  EXPECT_EQ(ReadValue("S_Line", section), "");
  EXPECT_EQ(ReadValue("S_Missing", section), "");
  EXPECT_EQ(ReadValue("s_download", section), "");
}

TEST(ReadValue, KeysThatBeginWithAnotherKeyStayApart) {
  const std::string section =
      "<S_LabelTopProgress Value=\"p\" />\r\n<S_LabelTop Value=\"t\" />\r\n<S_DownloadError Value=\"de\" />\r\n"
      "<S_Download Value=\"d\" />\r\n<S_KillError Value=\"ke\" />\r\n<S_CopyError Value=\"ce\" />\r\n";
  EXPECT_EQ(ReadValue("S_LabelTop", section), "t");
  EXPECT_EQ(ReadValue("S_LabelTopProgress", section), "p");
  EXPECT_EQ(ReadValue("S_Download", section), "d");
  EXPECT_EQ(ReadValue("S_DownloadError", section), "de");
  EXPECT_EQ(ReadValue("S_Kill", section), "");
  EXPECT_EQ(ReadValue("S_Copy", section), "");
}

TEST(ReadValue, RepeatedEntries) {
  auto entries = [](std::initializer_list<const char*> values) {
    std::string s;
    for (const char* v : values) s += std::string("<S_K Value=\"") + v + "\" />\r\n";
    return s;
  };
  EXPECT_EQ(ReadValue("S_K", entries({"a", "b", "c"})), "a\r\nb\r\nc");
  EXPECT_EQ(ReadValue("S_K", entries({"a", "b", ""})), "a\r\nb");
  EXPECT_EQ(ReadValue("S_K", entries({"a", "", ""})), "a");
  EXPECT_EQ(ReadValue("S_K", entries({"", "b"})), "\r\nb");
  EXPECT_EQ(ReadValue("S_K", entries({"a", "", "b"})), "a\r\n\r\nb");
  EXPECT_EQ(ReadValue("S_K", entries({"", ""})), "");
  // Other keys between the entries do not matter.
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"1\" /><S_J = \"x\" /><S_K = \"2\" />"), "1\r\n2");
}

TEST(ReadValue, MalformedEntries) {
  // The first quote after the key opens the value wherever it stands.
  EXPECT_EQ(ReadValue("S_K", "<S_K junk, more junk \"v\" />"), "v");
  EXPECT_EQ(ReadValue("S_K", "<S_K />\r\n<S_J = \"j\" />"), "j");
  // An opening quote without a closing one: empty, and nothing follows.
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"a\" /><S_K = \"b />"), "a");
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"b />"), "");
  // A value missing its closing quote runs to the next quote, wherever it is.
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"a\" /><S_K = \"x<S_K = \"b\" />"), "a\r\nx<S_K = ");
  // No quote at all after an entry: it and what follows contribute nothing.
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"a\" /><S_K = b />"), "a");
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"a\" /><S_K = b /><S_K = c />"), "a");
  EXPECT_EQ(ReadValue("S_K", "S_K "), "");
  // Entities stay as written.
  EXPECT_EQ(ReadValue("S_K", "<S_K = \"a &amp; b\" />"), "a &amp; b");
  EXPECT_EQ(ReadValue("S_K", ""), "");
}

TEST(ReadValue, ManyEntriesStayLinear) {
  std::string section;
  for (int i = 0; i < 20000; ++i) section += "<S_K = \"x\" />\r\n";
  const std::string value = ReadValue("S_K", section);
  EXPECT_EQ(value.size(), 20000u * 3 - 2);
}

TEST(NormalizeLineBreaks, EveryLineEndsInCrLf) {
  EXPECT_EQ(NormalizeLineBreaks(""), "");
  EXPECT_EQ(NormalizeLineBreaks("a"), "a\r\n");
  EXPECT_EQ(NormalizeLineBreaks("a\r\n"), "a\r\n");
  EXPECT_EQ(NormalizeLineBreaks("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(NormalizeLineBreaks("a\n\rb"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(NormalizeLineBreaks("\r\n\r\n"), "\r\n\r\n");
  EXPECT_EQ(NormalizeLineBreaks(std::string("a\nb\0c\nd", 7)), "a\r\nb\r\n");
  EXPECT_EQ(NormalizeLineBreaks("\xE9\n"), "\xE9\r\n");
}

namespace {
// A document whose ENGLISH and FRENCH sections differ in one key.
std::string Doc(const std::string& inner) { return "<?xml version=\"1.0\"?>\n<LANGUAGE>\n" + inner + "</LANGUAGE>\n"; }
const std::string kEn =
    "<ENGLISH>\n<S_Download Value=\"en\" />\n<S_KillError = \"k1\" />\n<S_KillError = \"k2\" />\n</ENGLISH>\n";
const std::string kFr = "<FRENCH>\n<S_Download Value=\"fr\" />\n</FRENCH>\n";
}  // namespace

TEST(TextTableLoading, SectionChoiceAndFallbacks) {
  TFileXML t;
  t.SetLanguage("FRENCH");
  t.LoadTextsFromDocument(Doc(kEn + kFr));
  EXPECT_EQ(t.Language, "FRENCH");
  EXPECT_EQ(t.S_Download, "fr");
  // A key the section lacks is empty, not defaulted.
  EXPECT_EQ(t.S_KillError, "");
  EXPECT_EQ(t.S_BRetry, "");

  // Line ends of any kind read as CR LF joins.
  t.SetLanguage("ENGLISH");
  t.LoadTextsFromDocument(Doc(kEn + kFr));
  EXPECT_EQ(t.S_KillError, "k1\r\nk2");

  // No section for the language: ENGLISH, and Language says so.
  t.SetLanguage("GERMAN");
  t.LoadTextsFromDocument(Doc(kEn + kFr));
  EXPECT_EQ(t.Language, "ENGLISH");
  EXPECT_EQ(t.S_Download, "en");

  // Neither the language's nor the ENGLISH section: built-in texts.
  t.SetLanguage("GERMAN");
  t.LoadTextsFromDocument(Doc(kFr));
  EXPECT_EQ(t.Language, "ENGLISH");
  EXPECT_EQ(t.S_Download, "Downloading");
  EXPECT_EQ(t.S_CodeLanguage, "EN");

  // ENGLISH asked for and missing.
  t.SetLanguage("ENGLISH");
  t.LoadTextsFromDocument(Doc(kFr));
  EXPECT_EQ(t.S_Download, "Downloading");

  // No LANGUAGE element.
  t.SetLanguage("FRENCH");
  t.LoadTextsFromDocument("<ENGLISH><S_Download = \"x\" /></ENGLISH>");
  EXPECT_EQ(t.Language, "ENGLISH");
  EXPECT_EQ(t.S_Download, "Downloading");

  // ENGLISH's end tag missing: the section is empty and the defaults win.
  t.SetLanguage("ENGLISH");
  t.LoadTextsFromDocument(Doc("<ENGLISH>\n<S_Download Value=\"en\" />\n"));
  EXPECT_EQ(t.S_Download, "Downloading");

  // FRENCH's start tag missing: the stretch from the block's start through
  // </FRENCH> is read, the ENGLISH entries before it lead each series.
  t.SetLanguage("FRENCH");
  t.LoadTextsFromDocument(Doc(kEn + "<S_Download Value=\"fr\" />\n</FRENCH>\n"));
  EXPECT_EQ(t.Language, "FRENCH");
  EXPECT_EQ(t.S_Download, "en\r\nfr");
  EXPECT_EQ(t.S_KillError, "k1\r\nk2");

  // A NUL byte ends the document, here before the FRENCH section.
  t.SetLanguage("FRENCH");
  t.LoadTextsFromDocument(Doc(kEn + std::string(1, '\0') + kFr));
  EXPECT_EQ(t.Language, "ENGLISH");
  EXPECT_EQ(t.S_Download, "Downloading");  // the LANGUAGE end tag was cut off too

  t.SetLanguage("");
  t.LoadTextsFromDocument("");
  EXPECT_EQ(t.Language, "ENGLISH");
  EXPECT_EQ(t.S_FormCaption, "Drevanto Live Update");
}
