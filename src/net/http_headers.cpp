#include "net/http_headers.h"

#include "base/text.h"

namespace net {

std::string THeaderList::NameOf(const std::string& line) {
  size_t colon = line.find(':');
  return text::Trim(colon == std::string::npos ? line : line.substr(0, colon));
}

std::string THeaderList::ValueOf(const std::string& line) {
  size_t colon = line.find(':');
  return colon == std::string::npos ? std::string() : text::Trim(line.substr(colon + 1));
}

void THeaderList::AddReceivedLine(const std::string& line) {
  if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    // RFC 2616 section 4.2 line folding; nothing to continue means nothing to keep.
    if (!lines_.empty()) {
      std::string more = text::Trim(line);
      if (!more.empty()) lines_.back() += " " + more;
    }
    return;
  }
  Add(NameOf(line), ValueOf(line));
}

void THeaderList::Add(const std::string& name, const std::string& value) { lines_.push_back(name + ": " + value); }

void THeaderList::SetValue(const std::string& name, const std::string& value) {
  std::vector<std::string> kept;
  bool placed = false;
  for (auto& l : lines_) {
    if (!text::SameText(NameOf(l), name)) {
      kept.push_back(std::move(l));
    } else if (!placed && !value.empty()) {
      kept.push_back(name + ": " + value);
      placed = true;
    }
  }
  if (!placed && !value.empty()) kept.push_back(name + ": " + value);
  lines_ = std::move(kept);
}

std::string THeaderList::Values(const std::string& name) const {
  for (const auto& l : lines_)
    if (text::SameText(NameOf(l), name)) return ValueOf(l);
  return "";
}

std::vector<std::string> THeaderList::AllValues(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& l : lines_)
    if (text::SameText(NameOf(l), name)) out.push_back(ValueOf(l));
  return out;
}

bool THeaderList::Has(const std::string& name) const {
  for (const auto& l : lines_)
    if (text::SameText(NameOf(l), name)) return true;
  return false;
}

std::string THeaderList::Text() const {
  std::string out;
  for (const auto& l : lines_) out += l + "\r\n";
  return out;
}

}  // namespace net
