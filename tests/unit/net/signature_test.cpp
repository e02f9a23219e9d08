// Package signatures made by the openssl command, checked by the platform's
// cryptography: the committed set (tests/data/sign, made by its make.sh) on both
// targets, and on the Linux port also a set made now with fresh keys. Then the
// Base64 reader, the signature fetch, and lu-verify as a release script runs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "net/http_client.h"
#include "net/signature.h"
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

// A set of keys and signatures as make.sh leaves it, in a host folder.
struct TSignSet {
  fs::path dir;
  std::string Key(const std::string& name) const { return ReadHostFile(dir / (name + ".pub.b64")); }
  std::string Sig(const std::string& name) const { return ReadHostFile(dir / ("package." + name + ".sig")); }
  std::string Package() const { return platform::FromHostPath((dir / "package.txt").string()); }
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

// What a case does to the signature before the check.
enum class Sig { AsMade, Empty, Cut, Appended, PaddedInteger };

struct Case {
  const char* name;
  const char* key;        // a make.sh key name, or a key text when it starts with '!'
  const char* signature;  // a make.sh signature name
  Sig change;
  bool otherFile;        // the package with one byte changed
  const char* expected;  // "" verifies; else a part of the error message
};

const char kNoMatch[] = "does not match its signature";

// clang-format off
const Case kCases[] = {
    {"rsa2048",                 "rsa2048",         "rsa2048",       Sig::AsMade, false, ""},
    {"rsa4096",                 "rsa4096",         "rsa4096",       Sig::AsMade, false, ""},
    {"p256",                    "p256",            "p256",          Sig::AsMade, false, ""},
    {"another RSA key",         "rsa2048-other",   "rsa2048",       Sig::AsMade, false, kNoMatch},
    {"another P-256 key",       "p256-other",      "p256",          Sig::AsMade, false, kNoMatch},
    {"another file, RSA",       "rsa2048",         "rsa2048",       Sig::AsMade, true,  kNoMatch},
    {"another file, P-256",     "p256",            "p256",          Sig::AsMade, true,  kNoMatch},
    {"a P-256 sig, RSA key",    "rsa2048",         "p256",          Sig::AsMade, false, kNoMatch},
    {"an RSA sig, P-256 key",   "p256",            "rsa2048",       Sig::AsMade, false, kNoMatch},
    {"PSS padding",             "rsa2048",         "rsa2048-pss",   Sig::AsMade, false, kNoMatch},
    {"empty signature",         "rsa2048",         "rsa2048",       Sig::Empty,  false, kNoMatch},
    {"cut RSA signature",       "rsa2048",         "rsa2048",       Sig::Cut,    false, kNoMatch},
    {"cut P-256 signature",     "p256",            "p256",          Sig::Cut,    false, kNoMatch},
    {"P-256 sig + a byte",      "p256",            "p256",          Sig::Appended, false, kNoMatch},
    {"P-256 sig, not DER",      "p256",            "p256",          Sig::PaddedInteger, false, kNoMatch},
    {"RSA of 1024 bits",        "rsa1024",         "rsa2048",       Sig::AsMade, false, "RSA key of 1024 bits"},
    {"P-384",                   "p384",            "p256",          Sig::AsMade, false, "curve other than P-256"},
    {"Ed25519",                 "ed25519",         "p256",          Sig::AsMade, false, "neither RSA nor ECDSA"},
    {"compressed point",        "p256-compressed", "p256",          Sig::AsMade, false, "uncompressed"},
    {"not Base64",              "!MFkw$EwYH",      "p256",          Sig::AsMade, false, "not valid Base64"},
    {"Base64, not a key",       "!aGVsbG8gd29ybGQ=", "p256",        Sig::AsMade, false, "not a DER public key"},
    {"empty key",               "!",               "p256",          Sig::AsMade, false, "not a DER public key"},
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

void RunCases(const TSignSet& set) {
  testsupport::TTempFolder temp;
  const std::string other = temp / "package.txt";
  std::string changed = testsupport::ReadFileText(set.Package());
  ASSERT_GT(changed.size(), 65536u);  // more than one piece of the checker's reading
  changed[changed.size() / 2] ^= 1;
  testsupport::WriteFileText(other, changed);

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string key = c.key[0] == '!' ? std::string(c.key + 1) : set.Key(c.key);
    ASSERT_FALSE(c.key[0] != '!' && key.empty()) << "no key " << c.key;
    std::string sig = set.Sig(c.signature);
    switch (c.change) {
      case Sig::AsMade: break;
      case Sig::Empty: sig.clear(); break;
      case Sig::Cut: sig.pop_back(); break;
      case Sig::Appended: sig += '\0'; break;
      case Sig::PaddedInteger: sig = NonCanonical(sig); break;
    }
    try {
      net::VerifyFileSignature(c.otherFile ? other : set.Package(), sig, key);
      EXPECT_STREQ(c.expected, "") << "verified";
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

TEST(Signature, KeyChecksAndUnreadableFile) {
  const TSignSet set = CommittedSet();
  EXPECT_NO_THROW(net::CheckPublicKey(set.Key("rsa4096")));
  EXPECT_THROW(net::CheckPublicKey(set.Key("rsa1024")), net::ESignatureError);
  // Trailing bytes after the key make it another text.
  std::string der = net::DecodeBase64(set.Key("p256"));
  const std::string longer = der + '\0';
  EXPECT_THROW(net::TSignatureVerifier{longer}, net::ESignatureError);
  der.resize(der.size() - 1);
  EXPECT_THROW(net::TSignatureVerifier{der}, net::ESignatureError);
  // A file that is not there is the file's error, not a verdict on the signature.
  testsupport::TTempFolder temp;
  EXPECT_THROW(net::VerifyFileSignature(temp / "missing.zip", set.Sig("p256"), set.Key("p256")), EFOpenError);
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
    if (c.bytes) {
      EXPECT_EQ(net::DecodeBase64(c.text), c.bytes);
    } else {
      EXPECT_THROW(net::DecodeBase64(c.text), net::ESignatureError);
    }
  }
}

TEST(Signature, FetchTakesOnlyACompleteSmallSignature) {
  net::THTTPClient client;
  {
    TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcde"));
    EXPECT_EQ(net::FetchSignature(client, server.Url("/p.zip.sig")), "abcde");
  }
  const struct {
    std::string answer;
    const char* message;
  } refused[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", "404 Not Found"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "arrived incomplete"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "is empty"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 16385\r\n\r\n" + std::string(16385, 'x'), "larger than 16384 bytes"},
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(100000, 'x'), "larger than 16384 bytes"},
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
      net::FetchSignature(fresh, server.Url("/p.zip.sig"));
      ADD_FAILURE() << "taken";
    } catch (const Exception& e) {
      EXPECT_NE(e.Message.find(r.message), std::string::npos) << e.Message;
    }
  }
}

TEST(Signature, LuVerifyExitStatus) {
  fs::path tool;
  for (const char* name : {"../lu-verify.exe", "../lu-verify"})
    if (fs::exists(name)) tool = fs::path(name).make_preferred();
  if (tool.empty()) GTEST_SKIP() << "lu-verify is not built";
  const TSignSet set = CommittedSet();
  const std::string package = set.Package();
  const std::string sig = platform::FromHostPath((set.dir / "package.p256.sig").string());
  testsupport::TTempFolder temp;
  const std::string log = temp / "out.txt";
  auto run = [&](const std::string& key) {
    // The shell takes host paths. The tool path has no blanks; left unquoted so
    // that cmd.exe keeps the quotes.
    using platform::HostPath;
    using testsupport::Quoted;
    const std::string command = tool.string() + " " + Quoted(HostPath(package)) + " " + Quoted(HostPath(sig)) + " " +
                                key + " > " + Quoted(HostPath(log)) + " 2>&1";
    return std::system(command.c_str());
  };
  EXPECT_EQ(run(set.Key("p256")), 0) << testsupport::ReadFileText(log);
  EXPECT_NE(run(set.Key("p256-other")), 0);
  EXPECT_NE(testsupport::ReadFileText(log).find(kNoMatch), std::string::npos) << testsupport::ReadFileText(log);
  EXPECT_NE(run("not-base64!"), 0);
  EXPECT_NE(testsupport::ReadFileText(log).find("Base64"), std::string::npos) << testsupport::ReadFileText(log);
}
