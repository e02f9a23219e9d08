#include "settings/language_xml.h"

#include <vector>

#include "base/log.h"
#include "base/text.h"

using text::Copy;
using text::Pos;
using text::PosEx;

std::string ExtractElement(const std::string& tag, const std::string& source) {
  int64_t start = Pos("<" + tag, source);
  const std::string endTag = "</" + tag + ">";
  int64_t stop = Pos(endTag, source);
  if (stop > 0) stop += static_cast<int64_t>(endTag.size());
  // Without a start tag the element begins at the first character; counting
  // from 1 here keeps the cut exactly at the end tag's ">".
  if (start < 1) start = 1;
  return Copy(source, start, stop - start);
}

std::string ReadValue(const std::string& key, const std::string& section) {
  std::vector<std::string> values;
  try {
    const std::string entry = key + " ";
    // at: 1-based start of the text still to be read (the whole-text searches
    // work on positions instead of copies of the rest).
    int64_t at = 1;
    for (;;) {
      const int64_t p = PosEx(entry, section, at);
      if (p == 0) break;
      const int64_t open = PosEx("\"", section, p);
      // An entry with no double quote after it ends the series: nothing it or
      // later entries hold can be told apart.
      if (open == 0) break;
      const int64_t close = PosEx("\"", section, open + 1);
      values.push_back(close > 0 ? Copy(section, open + 1, close - open - 1) : std::string());
      // The closing quote stays, so the next search starts at it; without one
      // the search goes on after the opening quote.
      at = close > 0 ? close : open + 1;
    }
  } catch (...) {
    // What was read before the failure stands.
    logging::Log("Texts: the value of " + key + " is read only in part (" + logging::HandledErrorText() + ")");
  }
  // Empty values at the end vanish; an empty value before a non-empty one
  // leaves an empty line.
  size_t count = values.size();
  while (count > 0 && values[count - 1].empty()) --count;
  std::string result;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) result += "\r\n";
    result += values[i];
  }
  return result;
}
