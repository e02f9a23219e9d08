// lu-verify PACKAGE STATEMENT KEYS
// Checks a package against its release statement exactly as the updater does,
// for the vendor's release scripts: the statement's signature by one of KEYS
// (PackageKey's form: Base64 keys separated by commas), its fields and expiry,
// then the package's size and SHA-256. Prints what the statement says. Exit
// status 0 only when everything holds; 1 with the reason otherwise, 2 for wrong
// usage.
#include <cstdio>
#include <string>

#include "base/exception.h"
#include "net/statement.h"
#include "platform/file_stream.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: lu-verify PACKAGE STATEMENT KEYS\n");
    return 2;
  }
  try {
    const std::vector<std::string> keys = net::SplitPackageKeys(argv[3]);
    platform::TFileStream file(argv[2], platform::TFileMode::OpenRead);
    // Read as the updater fetches it: more than its limit is refused unread.
    std::string text(static_cast<size_t>(net::kMaxStatementSize) + 1, '\0');
    int64_t size = 0;
    for (int64_t got; (got = file.Read(&text[size], static_cast<int64_t>(text.size()) - size)) > 0;) size += got;
    if (size > net::kMaxStatementSize)
      throw net::ESignatureError(std::string(argv[2]) + " is larger than " + std::to_string(net::kMaxStatementSize) +
                                 " bytes.");
    text.resize(static_cast<size_t>(size));
    const net::TReleaseStatement statement = net::ReadStatement(text, keys, net::NowUtc());
    std::printf("product: %s\nversion: %s\nsize: %lld\nexpires: %s\n", statement.Product.c_str(),
                statement.Version.c_str(), static_cast<long long>(statement.Size),
                statement.Expires.empty() ? "never" : statement.Expires.c_str());
    platform::TFileStream package(argv[1], platform::TFileMode::OpenRead);
    net::CheckPackageStream(package, statement);
  } catch (const Exception& e) {
    std::fprintf(stderr, "lu-verify: %s\n", e.Message.c_str());
    return 1;
  }
  std::printf("%s: matches its release statement\n", argv[1]);
  return 0;
}
