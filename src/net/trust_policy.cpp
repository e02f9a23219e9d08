#include "net/trust_policy.h"

#include "base/text.h"
#include "net/statement.h"
#include "net/uri.h"

namespace net {

TTrustPolicy TTrustPolicy::FromDefaults(const std::string& packageKey, const std::string& allowUnauthenticated,
                                        const std::string& maxPackageSize) {
  TTrustPolicy p;
  p.Keys = SplitPackageKeys(packageKey);
  if (allowUnauthenticated != "" && allowUnauthenticated != "0" && allowUnauthenticated != "1")
    throw EPolicyError("AllowUnauthenticated is 0 or 1, not '" + allowUnauthenticated + "'.");
  p.AllowUnauthenticated = allowUnauthenticated == "1";
  if (!maxPackageSize.empty()) {
    if (!text::TryDigitsToInt64(maxPackageSize, p.MaxPackageSize) || p.MaxPackageSize <= 0)
      throw EPolicyError("MaxPackageSize is a number of bytes above 0, not '" + maxPackageSize + "'.");
  }
  return p;
}

std::string TTrustPolicy::Describe() const {
  if (Keys.size() == 1) return "packages must be signed by the package key";
  if (!Keys.empty()) return "packages must be signed by one of " + std::to_string(Keys.size()) + " keys";
  return AllowUnauthenticated ? "unsigned packages over http accepted" : "unsigned packages over https only";
}

void TTrustPolicy::CheckAddress(const std::string& url) const {
  if (NeedsStatement() || AllowUnauthenticated) return;
  // Only https vouches for what arrives when nothing is signed; any other
  // scheme the client refuses by itself.
  if (text::SameText(TURI::Parse(url).Protocol, "http"))
    throw EPolicyError("This program has no package key, so it takes packages only over https from a server " +
                       std::string("whose certificate verifies; ") + LoggableUrl(url) +
                       " is refused (AllowUnauthenticated is not set).");
}

}  // namespace net
