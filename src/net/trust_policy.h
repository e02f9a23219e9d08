// Which packages a built program takes, from three of its defaults: with a
// package key, only what a release statement signed by one of the keys
// describes, over any scheme; without one, unsigned packages over https from a
// server whose certificate verifies, or also over plain http when
// AllowUnauthenticated is 1 (test rigs, vendors who accept the risk), and then
// no larger than MaxPackageSize.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"

namespace net {

// A default that cannot be read, or an address the policy refuses. Message
// says which, for the user's report.
class EPolicyError : public Exception {
 public:
  using Exception::Exception;
};

constexpr int64_t kDefaultMaxPackageSize = int64_t{4} << 30;  // 4 GiB

struct TTrustPolicy {
  std::vector<std::string> Keys;  // Base64, at most four
  bool AllowUnauthenticated = false;
  int64_t MaxPackageSize = kDefaultMaxPackageSize;

  // From the texts of PackageKey, AllowUnauthenticated ("0", "1" or empty for 0)
  // and MaxPackageSize (bytes in decimal, or empty for the default). Raises
  // ESignatureError for a key list that cannot be used, EPolicyError for the
  // other two.
  static TTrustPolicy FromDefaults(const std::string& packageKey, const std::string& allowUnauthenticated,
                                   const std::string& maxPackageSize);

  // Packages are taken only with a signed release statement.
  bool NeedsStatement() const { return !Keys.empty(); }
  // The policy in words: "packages must be signed by one of 2 keys",
  // "unsigned packages over https only", "unsigned packages over http accepted".
  std::string Describe() const;
  // Returns when a package may be fetched from url; raises EPolicyError with
  // the reason otherwise (plain http without a key and without
  // AllowUnauthenticated).
  void CheckAddress(const std::string& url) const;
};

}  // namespace net
