// Release statements signed by the openssl command, checked by the platform's
// cryptography: the committed set (tests/data/sign, made by its make.sh) on both
// targets, and on the Linux port also a set made now with fresh keys. Then the
// package against its statement, versions and dates, the key list, Base64, the
// statement's fetch, and lu-verify and lu-release as a release script runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "net/base64.h"
#include "net/http_client.h"
#include "net/statement.h"
#include "net/trust_policy.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "scripted_server.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using nettest::Answer;
using nettest::TScriptedServer;

namespace {

std::string ReadHostFile(const fs::path& p) { return testsupport::ReadFileText(platform::FromHostPath(p.string())); }

bool OnLinuxPort() { return platform::HostPath("C:\\") != "C:\\"; }

// A set of keys and statements as make.sh leaves it, in a host folder.
struct TSignSet {
  fs::path dir;
  std::string Key(const std::string& name) const { return ReadHostFile(dir / (name + ".pub.b64")); }
  std::string Statement(const std::string& name) const { return ReadHostFile(dir / ("statement." + name)); }
  std::string Package() const { return platform::FromHostPath((dir / "package.txt").string()); }
  std::string File(const std::string& name) const { return ReadHostFile(dir / name); }
};

TSignSet CommittedSet() { return {fs::path(LU_SOURCE_DIR) / "tests" / "data" / "sign"}; }

// Removes the fresh set when the test program ends.
struct TFreshFolder {
  fs::path dir;
  ~TFreshFolder() {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }
} freshFolder;

// Made once per run of the test program: RSA key generation takes seconds.
const TSignSet* FreshSet() {
  static const std::optional<TSignSet> set = []() -> std::optional<TSignSet> {
    if (!OnLinuxPort() || std::system("command -v openssl >/dev/null 2>&1") != 0) return std::nullopt;
    freshFolder.dir = fs::temp_directory_path() / ("lu-sign-" + std::to_string(platform::CurrentProcessId()));
    const std::string command = "bash '" + std::string(LU_SOURCE_DIR) + "/tests/data/sign/make.sh' '" +
                                freshFolder.dir.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return TSignSet{freshFolder.dir};
  }();
  return set ? &*set : nullptr;
}

// 2026-01-01, and the last second of the day a statement of the set expires.
constexpr int64_t kNow = 1767225600;
constexpr int64_t kLastSecond = 1814399999;  // 2027-06-30 23:59:59 UTC

// What a case does to the statement before the check.
enum class Change { AsMade, SigEmpty, SigCut, SigAppended, PaddedInteger, BodyChanged, Trailing, Bare };

struct Case {
  const char* name;
  const char* keys;       // make.sh key names separated by commas, or a key text when it starts with '!'
  const char* statement;  // a make.sh statement name
  Change change;
  const char* expected;  // "" verifies; else a part of the error message
  int64_t now = kNow;
};

const char kNotSigned[] = "is not signed by";

// clang-format off
const Case kCases[] = {
    {"rsa2048",                 "rsa2048",         "rsa2048",       Change::AsMade, ""},
    {"rsa4096",                 "rsa4096",         "rsa4096",       Change::AsMade, ""},
    {"p256",                    "p256",            "p256",          Change::AsMade, ""},
    {"the second key signed",   "rsa2048-other,p256", "p256",       Change::AsMade, ""},
    {"the fourth key signed",   "p256-other, rsa2048-other ,rsa4096,p256", "p256", Change::AsMade, ""},
    {"none of two keys",        "rsa2048,rsa4096", "p256",          Change::AsMade, "any of the package keys"},
    {"another RSA key",         "rsa2048-other",   "rsa2048",       Change::AsMade, kNotSigned},
    {"another P-256 key",       "p256-other",      "p256",          Change::AsMade, kNotSigned},
    {"a P-256 sig, RSA key",    "rsa2048",         "p256",          Change::AsMade, kNotSigned},
    {"an RSA sig, P-256 key",   "p256",            "rsa2048",       Change::AsMade, kNotSigned},
    {"PSS padding",             "rsa2048",         "rsa2048-pss",   Change::AsMade, kNotSigned},
    {"changed after signing",   "p256",            "p256",          Change::BodyChanged, kNotSigned},
    {"empty signature",         "p256",            "p256",          Change::SigEmpty, "not Base64"},
    {"cut RSA signature",       "rsa2048",         "rsa2048",       Change::SigCut, kNotSigned},
    {"cut P-256 signature",     "p256",            "p256",          Change::SigCut, kNotSigned},
    {"P-256 sig + a byte",      "p256",            "p256",          Change::SigAppended, kNotSigned},
    {"P-256 sig, not DER",      "p256",            "p256",          Change::PaddedInteger, kNotSigned},
    {"text after the signature", "p256",           "p256",          Change::Trailing, "goes on after its signature"},
    {"a bare signature",        "p256",            "p256",          Change::Bare, "a bare signature of the package"},
    {"unknown line, expiry ahead", "p256",         "p256-expires",  Change::AsMade, ""},
    {"its last day",            "p256",            "p256-expires",  Change::AsMade, "", kLastSecond},
    {"the day after",           "p256",            "p256-expires",  Change::AsMade, "expired on 2027-06-30", kLastSecond + 1},
    {"lines end in CR LF",      "p256",            "p256-crlf",     Change::AsMade, "must end in LF alone"},
    {"no version",              "p256",            "p256-noversion", Change::AsMade, "gives no version"},
    {"version twice",           "p256",            "p256-twice",    Change::AsMade, "gives its version twice"},
    {"RSA of 1024 bits",        "rsa1024",         "rsa2048",       Change::AsMade, "RSA key of 1024 bits"},
    {"P-384",                   "p384",            "p256",          Change::AsMade, "curve other than P-256"},
    {"Ed25519",                 "ed25519",         "p256",          Change::AsMade, "neither RSA nor ECDSA"},
    {"compressed point",        "p256-compressed", "p256",          Change::AsMade, "uncompressed"},
    {"not Base64",              "!MFkw$EwYH",      "p256",          Change::AsMade, "not valid Base64"},
    {"Base64, not a key",       "!aGVsbG8gd29ybGQ=", "p256",        Change::AsMade, "not a DER public key"},
    {"no key",                  "!",               "p256",          Change::AsMade, "No package key"},
    {"a bad second key",        "!MFkw,",          "p256",          Change::AsMade, "Key 1 of PackageKey: "},
};
// clang-format on

// The two INTEGERs of a DER ECDSA signature with r re-encoded one byte longer
// than needed (or, when r needs its leading zero, without it): a value the
// strict decoders must refuse either way.
std::string NonCanonical(const std::string& der) {
  const size_t rLength = static_cast<uint8_t>(der[3]);
  std::string r = der.substr(4, rLength), rest = der.substr(4 + rLength);
  r = r[0] == '\0' ? r.substr(1) : std::string(1, '\0') + r;
  std::string body = std::string(1, '\x02') + static_cast<char>(r.size()) + r + rest;
  return std::string(1, '\x30') + static_cast<char>(body.size()) + body;
}

// The statement with its signature bytes changed by f.
template <typename F>
std::string WithSignature(const std::string& statement, F f) {
  const size_t at = statement.find("signature: ");
  std::string bytes;
  EXPECT_TRUE(net::Base64Decode(statement.substr(at + 11), bytes));
  return statement.substr(0, at) + "signature: " + net::Base64Encode(f(bytes)) + "\n";
}

std::vector<std::string> Keys(const TSignSet& set, const std::string& names) {
  if (names[0] == '!') return net::SplitPackageKeys(names.substr(1));
  std::string list;
  for (size_t from = 0;;) {
    const size_t comma = names.find(',', from);
    std::string name = names.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    const size_t first = name.find_first_not_of(' '), last = name.find_last_not_of(' ');
    // The blanks around a name stay around its key.
    list += name.substr(0, first) + set.Key(name.substr(first, last - first + 1)) + name.substr(last + 1);
    if (comma == std::string::npos) break;
    list += ',';
    from = comma + 1;
  }
  return net::SplitPackageKeys(list);
}

void RunCases(const TSignSet& set) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string text = set.Statement(c.statement);
    ASSERT_FALSE(text.empty()) << "no statement " << c.statement;
    switch (c.change) {
      case Change::AsMade: break;
      case Change::SigEmpty: text = text.substr(0, text.find("signature: ")) + "signature: \n"; break;
      case Change::SigCut: text = WithSignature(text, [](std::string b) { return b.substr(0, b.size() - 1); }); break;
      case Change::SigAppended: text = WithSignature(text, [](std::string b) { return b + '\0'; }); break;
      case Change::PaddedInteger: text = WithSignature(text, NonCanonical); break;
      case Change::BodyChanged: text.replace(text.find("5.4.0"), 5, "5.4.1"); break;
      case Change::Trailing: text += "note: unsigned\n"; break;
      case Change::Bare: text = set.File("package.p256.sig"); break;
    }
    try {
      const net::TReleaseStatement s = net::VerifyStatement(text, Keys(set, c.keys), "Kestrova", c.now);
      EXPECT_STREQ(c.expected, "") << "verified";
      EXPECT_EQ(s.Version, "5.4.0");
      EXPECT_EQ(s.Product, "Kestrova");
      EXPECT_EQ(s.Expires, std::string(c.statement) == "p256-expires" ? "2027-06-30" : "");
      platform::TFileStream package(set.Package(), platform::TFileMode::OpenRead);
      net::CheckPackageStream(package, s);
    } catch (const net::ESignatureError& e) {
      EXPECT_STRNE(c.expected, "") << e.Message;
      EXPECT_NE(e.Message.find(c.expected), std::string::npos) << e.Message;
    }
  }
}

}  // namespace

TEST(Signature, CommittedSetThroughTheSystemsCryptography) { RunCases(CommittedSet()); }

TEST(Signature, FreshKeysMadeByOpenssl) {
  const TSignSet* set = FreshSet();
  if (!set) GTEST_SKIP() << "needs the Linux port and the openssl command";
  RunCases(*set);
}

TEST(Signature, ThePackageItsStatementDescribes) {
  const TSignSet set = CommittedSet();
  const std::vector<std::string> key = {set.Key("p256")};
  const net::TReleaseStatement good = net::VerifyStatement(set.Statement("p256"), key, "Kestrova", kNow);
  EXPECT_THROW(net::VerifyStatement(set.Statement("p256-product"), key, "Kestrova", kNow), net::ESignatureError);
  EXPECT_EQ(net::ReadStatement(set.Statement("p256-product"), key, kNow).Product, "Lumeva");

  // The same size, one byte changed; a statement of another size, or hash.
  testsupport::TTempFolder temp;
  std::string changed = testsupport::ReadFileText(set.Package());
  ASSERT_GT(changed.size(), 65536u);  // more than one piece of the checker's reading
  changed[changed.size() / 2] ^= 1;
  testsupport::WriteFileText(temp / "other.txt", changed);
  const struct {
    std::string file;
    const char* statement;
    const char* expected;
  } cases[] = {
      {set.Package(), "p256", ""},
      {temp / "other.txt", "p256", "SHA-256 is not the one"},
      {set.Package(), "p256-size", "bytes; its release statement says"},
      {set.Package(), "p256-sha256", "SHA-256 is not the one"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    const net::TReleaseStatement s = net::VerifyStatement(set.Statement(c.statement), key, "Kestrova", kNow);
    try {
      platform::TFileStream file(c.file, platform::TFileMode::OpenRead);
      net::CheckPackageStream(file, s);
      EXPECT_STREQ(c.expected, "");
    } catch (const net::ESignatureError& e) {
      EXPECT_NE(e.Message.find(c.expected), std::string::npos) << e.Message;
      EXPECT_STRNE(c.expected, "");
    }
  }

  // Hashed while written, as the download step writes it: sized first, then in
  // pieces; the digest is the file's.
  TMemoryStream written;
  net::THashingStream hashing(written);
  const std::string bytes = testsupport::ReadFileText(set.Package());
  hashing.SetSize(static_cast<int64_t>(bytes.size()));
  for (size_t at = 0; at < bytes.size(); at += 1000) {
    EXPECT_EQ(hashing.Position(), static_cast<int64_t>(at));
    hashing.Write(bytes.data() + at, static_cast<int64_t>(std::min<size_t>(1000, bytes.size() - at)));
  }
  EXPECT_THROW(hashing.SetPosition(0), EStreamError);
  EXPECT_THROW(hashing.SetSize(10), EStreamError);
  EXPECT_TRUE(written.Data() == bytes);
  EXPECT_NO_THROW(hashing.Check(good));
  EXPECT_EQ(net::TSha256::Hex(std::string("\x01\xAB\xff", 3)), "01abff");
  net::TSha256 empty;
  EXPECT_EQ(net::TSha256::Hex(empty.Finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Signature, VersionsDatesAndAddresses) {
  const struct {
    const char* a;
    const char* b;
    int order;
  } versions[] = {
      {"5.10", "5.9", 1},     {"5.4", "5.4.0", 0},
      {"5.4.0", "5.4.1", -1}, {"05.004", "5.4", 0},
      {"1", "0.9.9", 1},      {"2.0", "10.0", -1},
      {"0", "0.0.0", 0},      {"123456789012345678901234567890", "123456789012345678901234567891", -1},
  };
  for (const auto& v : versions) {
    SCOPED_TRACE(std::string(v.a) + " " + v.b);
    EXPECT_EQ(net::CompareVersions(v.a, v.b), v.order);
    EXPECT_EQ(net::CompareVersions(v.b, v.a), -v.order);
  }
  for (const char* bad : {"", ".5", "5.", "5..4", "5.4a", "v5", " 5", "-1", "5,4"}) {
    EXPECT_FALSE(net::IsVersion(bad)) << bad;
    EXPECT_THROW(net::CompareVersions(bad, "1"), net::ESignatureError) << bad;
  }

  int64_t days = -1;
  EXPECT_TRUE(net::ParseDate("1970-01-01", days));
  EXPECT_EQ(days, 0);
  EXPECT_TRUE(net::ParseDate("2000-02-29", days));
  EXPECT_EQ(days, 11016);
  EXPECT_TRUE(net::ParseDate("2027-06-30", days));
  EXPECT_EQ(days, kLastSecond / 86400);
  for (const char* bad : {"2027-6-30", "2027-06-31", "2100-02-29", "2027-13-01", "2027-00-10", "0000-01-01",
                          "2027/06/30", "2027-06-30 ", "+027-06-30"})
    EXPECT_FALSE(net::ParseDate(bad, days)) << bad;

  EXPECT_EQ(net::StatementUrl("http://h/k/p.zip"), "http://h/k/p.zip.sig");
  EXPECT_EQ(net::StatementUrl("http://h/k/p.zip?v=2&x=#top"), "http://h/k/p.zip.sig?v=2&x=#top");
  EXPECT_EQ(net::StatementUrl("https://[::1]:8443/p.zip#a?b"), "https://[::1]:8443/p.zip.sig#a?b");
}

TEST(Signature, PackageKeyLists) {
  const TSignSet set = CommittedSet();
  const std::string a = set.Key("p256"), b = set.Key("rsa4096");
  EXPECT_EQ(net::SplitPackageKeys(""), std::vector<std::string>{});
  EXPECT_EQ(net::SplitPackageKeys("  "), std::vector<std::string>{});
  EXPECT_EQ(net::SplitPackageKeys(a), std::vector<std::string>{a});
  EXPECT_EQ(net::SplitPackageKeys(" " + a + " , " + b), (std::vector<std::string>{a, b}));
  EXPECT_EQ(net::SplitPackageKeys(b + "," + b + "," + b + "," + b).size(), 4u);  // four RSA-4096 keys
  const struct {
    std::string list;
    const char* message;
  } refused[] = {
      {a + "," + a + "," + a + "," + a + "," + a, "lists 5 keys; at most 4"},
      {a + ",," + b, "Key 2 of PackageKey: empty"},
      {a + ",", "Key 2 of PackageKey: empty"},
      {a + "," + set.Key("rsa1024"), "Key 2 of PackageKey: The package key is an RSA key of 1024 bits"},
  };
  for (const auto& r : refused) {
    try {
      net::SplitPackageKeys(r.list);
      ADD_FAILURE() << r.message;
    } catch (const net::ESignatureError& e) {
      EXPECT_NE(e.Message.find(r.message), std::string::npos) << e.Message;
    }
  }
  // Trailing bytes after a key make it another text.
  std::string der;
  ASSERT_TRUE(net::Base64Decode(a, der));
  EXPECT_THROW(net::TSignatureVerifier{der + '\0'}, net::ESignatureError);
  der.resize(der.size() - 1);
  EXPECT_THROW(net::TSignatureVerifier{der}, net::ESignatureError);
}

TEST(Signature, TrustPolicyFromTheDefaults) {
  const TSignSet set = CommittedSet();
  const std::string a = set.Key("p256"), b = set.Key("rsa2048");
  const struct {
    std::string keys, allow, max;
    const char* words;  // or a part of the error
    bool http, https;   // addresses allowed
  } cases[] = {
      {"", "0", "", "unsigned packages over https only", false, true},
      {"", "", "4294967296", "unsigned packages over https only", false, true},
      {"", "1", "100", "unsigned packages over http accepted", true, true},
      {a, "0", "", "packages must be signed by the package key", true, true},
      {a + "," + b, "1", "", "packages must be signed by one of 2 keys", true, true},
      {"", "2", "", "AllowUnauthenticated is 0 or 1, not '2'", false, false},
      {"", "0", "4G", "MaxPackageSize is a number of bytes above 0, not '4G'", false, false},
      {"", "0", "0", "MaxPackageSize is a number of bytes above 0", false, false},
      {"", "0", "-5", "MaxPackageSize is a number of bytes above 0", false, false},
      {a + ",x", "0", "", "Key 2 of PackageKey", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    try {
      const net::TTrustPolicy p = net::TTrustPolicy::FromDefaults(c.keys, c.allow, c.max);
      EXPECT_EQ(p.Describe(), c.words);
      EXPECT_EQ(p.MaxPackageSize, c.max == "100" ? 100 : net::kDefaultMaxPackageSize);
      for (const char* url : {"http://h/k.zip", "h/k.zip", "HTTP://h:80/k.zip"}) {
        try {
          p.CheckAddress(url);
          EXPECT_TRUE(c.http) << url;
        } catch (const net::EPolicyError& e) {
          EXPECT_FALSE(c.http) << url;
          EXPECT_NE(e.Message.find("has no package key"), std::string::npos) << e.Message;
        }
      }
      EXPECT_NO_THROW(p.CheckAddress("https://[::1]:8443/k.zip"));
    } catch (const Exception& e) {
      EXPECT_FALSE(c.https) << e.Message;
      EXPECT_NE(e.Message.find(c.words), std::string::npos) << e.Message;
    }
  }
}

TEST(Signature, Base64) {
  struct {
    const char* text;
    const char* bytes;  // nullptr: refused
  } cases[] = {
      {"", ""},          {"TWFu", "Man"},         {"TWE=", "Ma"},      {"TWE", "Ma"},      {"TQ==", "M"},
      {"TQ", "M"},       {" T W\r\nFu\t", "Man"}, {"TQ=", nullptr},    {"TWFu=", nullptr}, {"T", nullptr},
      {"TR==", nullptr}, {"TWF=", nullptr},       {"TQ==TQ", nullptr}, {"TW-u", nullptr},  {"TW\xC3\xA9", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string bytes;
    EXPECT_EQ(net::Base64Decode(c.text, bytes), c.bytes != nullptr);
    if (c.bytes) {
      EXPECT_EQ(bytes, c.bytes);
    }
  }
  for (const char* bytes : {"", "M", "Ma", "Man", "\xff\x00\x80\x7f"}) {
    std::string back;
    EXPECT_TRUE(net::Base64Decode(net::Base64Encode(bytes), back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_EQ(net::Base64Encode("Ma"), "TWE=");
}

TEST(Signature, FetchTakesOnlyACompleteSmallStatement) {
  net::THTTPClient client;
  {
    std::string request;
    TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcde", &request));
    EXPECT_EQ(net::FetchStatement(client, server.Url("/p.zip?v=1")), "abcde");
    EXPECT_EQ(request.substr(0, 23), "GET /p.zip.sig?v=1 HTTP");
  }
  const struct {
    std::string answer;
    const char* message;
  } refused[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", "404 Not Found"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "arrived incomplete"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "is empty"},
      // The address as every report shows it: no password, no query.
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ":***@127.0.0.1"},
      // A server's status line reaches the report short and without control characters.
      {"HTTP/1.1 404 " + std::string(9900, 'x') + "\x1b[2J\r\n\r\n", "404 xxx"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 16385\r\n\r\n" + std::string(16385, 'x'), "larger than 16384 bytes"},
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(100000, 'x'), "larger than 16384 bytes"},
      // Refused on the announcement: nothing of 2 GB is held or awaited.
      {"HTTP/1.1 200 OK\r\nContent-Length: 2000000000\r\n\r\n" + std::string(100000, 'x'), "larger than 16384"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.message);
    net::THTTPClient fresh;
    TScriptedServer server([&r](net::TSocket& s, int) {
      nettest::ReadRequestHead(s);
      try {
        nettest::Send(s, r.answer);
      } catch (const Exception&) {
        // the client may stop reading and close early
      }
    });
    try {
      const std::string url = server.Url("/p.zip?token=secret");
      net::FetchStatement(fresh, url.substr(0, 7) + "ann:URLPASS@" + url.substr(7));
      ADD_FAILURE() << "taken";
    } catch (const Exception& e) {
      EXPECT_NE(e.Message.find(r.message), std::string::npos) << e.Message;
      EXPECT_EQ(e.Message.find_first_of("\x1b\r\n"), std::string::npos) << e.Message;
      EXPECT_LT(e.Message.size(), 400u);
      EXPECT_EQ(e.Message.find("URLPASS"), std::string::npos) << e.Message;
      EXPECT_EQ(e.Message.find("secret"), std::string::npos) << e.Message;
    }
    EXPECT_LT(fresh.BytesReceived(), 3 * 65536);
  }
}

TEST(Signature, LuVerifyAndLuRelease) {
  auto find = [](const char* name) {
    for (const std::string& path : {std::string("../") + name + ".exe", std::string("../") + name})
      if (fs::exists(path)) return fs::path(path).make_preferred();
    return fs::path();
  };
  const fs::path verify = find("lu-verify"), release = find("lu-release");
  if (verify.empty()) GTEST_SKIP() << "lu-verify is not built";
  const TSignSet set = CommittedSet();
  testsupport::TTempFolder temp;
  const std::string log = temp / "out.txt";
  using platform::HostPath;
  using testsupport::Quoted;
  // The shell takes host paths. The tool paths have no blanks; left unquoted so
  // that cmd.exe keeps the quotes.
  auto run = [&](const fs::path& tool, const std::string& arguments, const std::string& output) {
    return std::system((tool.string() + " " + arguments + " > " + Quoted(HostPath(output)) + " 2>&1").c_str());
  };
  auto check = [&](const std::string& statement, const std::string& keys) {
    return run(verify, Quoted(HostPath(set.Package())) + " " + Quoted(HostPath(statement)) + " " + keys, log);
  };
  // What a tool printed, its line ends as on the Linux port.
  auto Log = [&] {
    std::string text = testsupport::ReadFileText(log);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  };
  auto statement = [&](const char* name) { return platform::FromHostPath((set.dir / name).string()); };
  const std::string p256 = set.Key("p256");
  EXPECT_EQ(check(statement("statement.p256-expires"), set.Key("p256-other") + "," + p256), 0) << Log();
  EXPECT_NE(Log().find("product: Kestrova\nversion: 5.4.0\nsize: 78894\nexpires: 2027-06-30"), std::string::npos)
      << Log();
  EXPECT_NE(check(statement("statement.p256"), set.Key("p256-other")), 0);
  EXPECT_NE(Log().find(kNotSigned), std::string::npos) << Log();
  EXPECT_NE(check(statement("statement.p256-size"), p256), 0);
  EXPECT_NE(Log().find("its release statement says"), std::string::npos);
  EXPECT_NE(check(statement("package.p256.sig"), p256), 0);
  EXPECT_NE(check(statement("statement.p256"), "not-base64!"), 0);
  EXPECT_NE(Log().find("Base64"), std::string::npos) << Log();

  // The vendor's side on the Linux port: a statement written by lu-release is
  // one lu-verify takes.
  if (release.empty() || std::system("command -v openssl >/dev/null 2>&1") != 0) return;
  const std::string pem = temp / "key.pem", made = temp / "made.sig", pub = temp / "key.b64";
  ASSERT_EQ(std::system(("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " +
                         Quoted(HostPath(pem)) + " 2>/dev/null && openssl pkey -in " + Quoted(HostPath(pem)) +
                         " -pubout -outform DER | base64 -w0 > " + Quoted(HostPath(pub)))
                            .c_str()),
            0);
  const std::string args = Quoted(HostPath(pem)) + " " + Quoted(HostPath(set.Package())) + " Kestrova ";
  EXPECT_EQ(run(release, args + "5.10 2099-12-31", made), 0) << testsupport::ReadFileText(made);
  EXPECT_EQ(check(made, testsupport::ReadFileText(pub)), 0) << Log();
  EXPECT_NE(Log().find("version: 5.10\nsize: 78894\nexpires: 2099-12-31"), std::string::npos) << Log();
  for (const char* refused : {"5..10", "5.10 2020-01-01", "5.10 2099-02-30"}) {
    EXPECT_EQ(run(release, args + refused, log), 256) << refused;
    EXPECT_NE(Log().find("lu-release: "), std::string::npos) << refused;
  }
}
