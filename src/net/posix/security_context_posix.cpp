// The Linux port has no system security package: proxies are answered with
// Basic alone.
#include "net/security_context.h"

namespace net {

std::unique_ptr<TSecurityContext> NewSecurityContext(const std::string&, const std::string&) { return nullptr; }

}  // namespace net
