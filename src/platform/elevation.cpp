#include "platform/elevation.h"

#include "base/text.h"

namespace platform {

bool IsSidText(const std::string& text) {
  if (!text::StartsText("S-1-", text)) return false;
  size_t start = 4;
  for (;;) {
    const size_t dash = text.find('-', start);
    const std::string part = text.substr(start, dash == std::string::npos ? std::string::npos : dash - start);
    if (part.empty() || !text::AllDigits(part)) return false;
    if (dash == std::string::npos) return true;
    start = dash + 1;
  }
}

}  // namespace platform
