// Encrypted entries: the password order (last good one, the list, then the
// handler up to PasswordAttempts times), the errors along the way, and what
// happens to an entry no password opens.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/test_support.h"
#include "unzip_test_helpers.h"

namespace {

using archive::TUnZip;
using unziptest::BuildZip;
using unziptest::TEntrySpec;
using unziptest::TRecorder;

TEntrySpec Secret(const std::string& name, const std::string& data, const std::string& password,
                  bool descriptor = false) {
  TEntrySpec e;
  e.Name = name;
  e.Data = data;
  e.Password = password;
  e.DataDescriptor = descriptor;
  return e;
}

class UnZipPassword : public ::testing::Test {
 protected:
  void SetUp() override {
    archivePath_ = tmp_ / "secret.zip";
    outDir_ = tmp_ / "out";
    ASSERT_TRUE(platform::CreateDir(outDir_));
  }

  void Prepare(TUnZip& z, const std::string& bytes) {
    platform::EraseFile(archivePath_);
    testsupport::WriteFileText(archivePath_, bytes);
    rec_.Attach(z);
    z.FileSpec = {"*.*"};
    z.SetArchiveFile(archivePath_);
    z.SetExtractDir(outDir_);
  }

  std::string Out(const std::string& name) const { return outDir_ + "\\" + name; }

  testsupport::TTempFolder tmp_;
  std::string archivePath_, outDir_;
  TRecorder rec_;
};

TEST_F(UnZipPassword, ListedPasswordsOpenEntriesWithEitherCheckByte) {
  std::string text(50000, 'k');
  TUnZip z;
  Prepare(z, BuildZip({Secret("a.txt", "plain text", "one"), Secret("b.txt", text, "two", true),
                       Secret("c.txt", "again one", "one")}));
  z.Passwords = {"wrong", "one", "two"};
  int asked = 0;
  z.OnGetPassword = [&](TUnZip*, const std::string&, std::string&, bool&) { ++asked; };
  EXPECT_EQ(z.Extract(), 3);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(rec_.Errors.empty());
  EXPECT_EQ(testsupport::ReadFileText(Out("a.txt")), "plain text");
  EXPECT_EQ(testsupport::ReadFileText(Out("b.txt")), text);
  EXPECT_EQ(testsupport::ReadFileText(Out("c.txt")), "again one");
  for (const auto& [name, pass] : rec_.Ended) EXPECT_TRUE(pass) << name;
}

TEST_F(UnZipPassword, HandlerIsAskedUntilItAnswersRight) {
  TUnZip z;
  Prepare(z, BuildZip({Secret("a.txt", "alpha", "right"), Secret("b.txt", "beta", "right")}));
  std::vector<std::string> answers = {"nope", "right"};
  std::vector<std::string> askedFor;
  z.OnGetPassword = [&](TUnZip*, const std::string& name, std::string& password, bool& tryAgain) {
    EXPECT_TRUE(tryAgain);
    askedFor.push_back(name);
    password = answers[std::min(askedFor.size(), answers.size()) - 1];
  };
  EXPECT_EQ(z.Extract(), 2);
  // The second entry opens with the password that opened the first.
  EXPECT_EQ(askedFor, (std::vector<std::string>{"a.txt", "a.txt"}));
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadPassword});
  EXPECT_EQ(archive::UnZipErrorText(archive::kErrBadPassword), "Invalid password");
  EXPECT_EQ(testsupport::ReadFileText(Out("b.txt")), "beta");
}

TEST_F(UnZipPassword, WithoutAHandlerEachShutEntryIsNamedAndDropped) {
  TUnZip z;
  Prepare(z, BuildZip({Secret("a.txt", "alpha", "pw"),
                       [] {
                         TEntrySpec e;
                         e.Name = "open.txt";
                         e.Data = "open";
                         return e;
                       }(),
                       Secret("sub/b.txt", "beta", "pw")}));
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(rec_.ErrorCodes(), (std::vector<int>{archive::kErrEncrypted, archive::kErrEncrypted}));
  EXPECT_EQ(rec_.Errors[0].FileName, "a.txt");
  EXPECT_EQ(rec_.Errors[1].FileName, "sub\\b.txt");
  // Reported under the stored name with a failed check, no file created.
  EXPECT_EQ(rec_.Ended, (std::vector<std::pair<std::string, bool>>{
                            {"a.txt", false}, {Out("open.txt"), true}, {"sub\\b.txt", false}}));
  EXPECT_FALSE(platform::FileExists(Out("a.txt")));
  EXPECT_FALSE(platform::FileExists(Out("sub\\b.txt")));
  EXPECT_EQ(testsupport::ReadFileText(Out("open.txt")), "open");

  // Passwords that do not fit, and nobody to ask: each entry says so.
  TUnZip listed;
  rec_ = TRecorder();
  Prepare(listed, BuildZip({Secret("a.txt", "alpha", "pw"), Secret("b.txt", "beta", "pw")}));
  listed.Passwords = {"wrong"};
  EXPECT_EQ(listed.Extract(), 0);
  EXPECT_EQ(rec_.ErrorCodes(), (std::vector<int>{archive::kErrBadPassword, archive::kErrBadPassword}));
}

TEST_F(UnZipPassword, AttemptsRunOutAndTheRestIsSkippedWithoutAsking) {
  TUnZip z;
  Prepare(z, BuildZip({Secret("a.txt", "alpha", "pw"), Secret("b.txt", "beta", "pw")}));
  z.PasswordAttempts = 2;
  int asked = 0;
  z.OnGetPassword = [&](TUnZip*, const std::string&, std::string& password, bool&) {
    ++asked;
    password = "bad" + std::to_string(asked);
  };
  EXPECT_EQ(z.Extract(), 0);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(rec_.ErrorCodes(), (std::vector<int>{archive::kErrBadPassword, archive::kErrBadPassword}));
  EXPECT_EQ(rec_.Ended.size(), 2u);
  EXPECT_TRUE(platform::ListDir(outDir_).empty());
  // Both entries were announced; the count went back down.
  EXPECT_EQ(rec_.BeginCounts, (std::vector<int>{0, 0}));

  // Giving up (TryAgain false) stops at once.
  TUnZip again;
  rec_ = TRecorder();
  Prepare(again, BuildZip({Secret("a.txt", "alpha", "pw")}));
  asked = 0;
  again.OnGetPassword = [&](TUnZip*, const std::string&, std::string&, bool& tryAgain) {
    ++asked;
    tryAgain = false;
  };
  EXPECT_EQ(again.Extract(), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(rec_.Errors.empty());
}

}  // namespace
