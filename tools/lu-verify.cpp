// lu-verify FILE SIG BASE64KEY
// Checks a package's signature exactly as the updater does, for the vendor's
// release scripts: exit status 0 only when SIG is BASE64KEY's signature of FILE;
// 1 with the reason otherwise, 2 for wrong usage.
#include <cstdio>
#include <string>

#include "base/exception.h"
#include "net/signature.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: lu-verify FILE SIG BASE64KEY\n");
    return 2;
  }
  try {
    platform::TFileStream sigFile(argv[2], platform::TFileMode::OpenRead);
    // Read as the updater fetches it: more than its limit is refused unread.
    std::string signature(net::kMaxSignatureSize + 1, '\0');
    int64_t size = 0;
    for (int64_t got; (got = sigFile.Read(&signature[size], static_cast<int64_t>(signature.size()) - size)) > 0;)
      size += got;
    if (size > static_cast<int64_t>(net::kMaxSignatureSize))
      throw net::ESignatureError(std::string(argv[2]) + " is larger than " + std::to_string(net::kMaxSignatureSize) +
                                 " bytes.");
    signature.resize(static_cast<size_t>(size));
    net::VerifyFileSignature(argv[1], signature, argv[3]);
  } catch (const Exception& e) {
    std::fprintf(stderr, "lu-verify: %s\n", e.Message.c_str());
    return 1;
  }
  std::printf("%s: signature verified\n", argv[1]);
  return 0;
}
