// libFuzzer target: the update journal's reader over arbitrary file bytes, which
// a disk or a hand may leave. Whatever it reads must be what the writer would
// have written, and every path it lets through must stay below the folder.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/journal_format.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

// No name of a path the reader lets through climbs or leaves the folder.
void CheckInside(const std::string& relative) {
  size_t at = 0;
  for (;;) {
    const size_t end = relative.find_first_of("\\/", at);
    const std::string name = relative.substr(at, end == std::string::npos ? std::string::npos : end - at);
    Require(!name.empty() && name.find_first_not_of(". ") != std::string::npos);
    Require(name.find(':') == std::string::npos);
    if (end == std::string::npos) return;
    at = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace engine::journal;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TParsed parsed = Parse(bytes);
  Require(!parsed.Damage.empty() || !parsed.Records.empty());
  for (size_t n = 0; n < parsed.Records.size(); ++n) {
    const TRecord& r = parsed.Records[n];
    Require(!r.empty());
    // A record read is one the writer writes: written again, it reads the same.
    const TParsed again = Parse(Line(r));
    if (n == 0) {
      Require(again.Records.size() == 1 && again.Records[0] == r);
    }
    if (r[0] == "MKDIR" || r[0] == "ADD" || r[0] == "MOVE") CheckInside(r[1]);
  }
  if (RelativeInside(std::string(bytes))) CheckInside(std::string(bytes));
  return 0;
}
