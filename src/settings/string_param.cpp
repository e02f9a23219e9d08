#include "settings/string_param.h"

#include <algorithm>

#include "base/text.h"

namespace {
const char kCrLf[] = "\r\n";
}

TStringParam::TStringParam() : separator_(kCrLf) {}

TStringParam::TStringParam(const std::string& text, const std::string& separator) {
  SetSeparator(separator);
  SetTextStr(text);
}

void TStringParam::SetSeparator(const std::string& separator) { separator_ = separator.empty() ? kCrLf : separator; }

std::string TStringParam::GetTextStr() const {
  std::string result;
  for (const Item& item : items_) {
    result += item.Text;
    result += separator_;
  }
  return result;
}

void TStringParam::SetTextStr(const std::string& value) {
  items_.clear();
  if (value.empty()) return;
  const std::string& sep = separator_;
  const size_t s = sep.size();
  std::string text = value;
  if (text.size() < s || text.compare(text.size() - s, s, sep) != 0) text += sep;
  const size_t length = text.size();

  // The scan never steps back: after a partial match it resumes at the first
  // character that did not match. That is exact for one-character separators and
  // for CR LF, the only kinds in use.
  size_t start = 0;  // 0-based
  size_t i = 0;
  while (i < length) {
    if (text[i] != sep[0]) {
      ++i;
      continue;
    }
    ++i;
    size_t matched = 1;
    while (matched < s && i < length && text[i] == sep[matched]) {
      ++i;
      ++matched;
    }
    if (matched == s) {
      items_.push_back(Item{text.substr(start, i - s - start), 0});
      start = i;
    }
  }
}

void TStringParam::Check(int index) const {
  if (index < 0 || index >= Count()) throw EStringListError("List index out of bounds (" + text::IntToStr(index) + ")");
}

int TStringParam::Add(const std::string& s) { return AddObject(s, 0); }

int TStringParam::AddObject(const std::string& s, intptr_t object) {
  items_.push_back(Item{s, object});
  return Count() - 1;
}

void TStringParam::Insert(int index, const std::string& s, intptr_t object) {
  if (index < 0 || index > Count()) throw EStringListError("List index out of bounds (" + text::IntToStr(index) + ")");
  items_.insert(items_.begin() + index, Item{s, object});
}

void TStringParam::Delete(int index) {
  Check(index);
  items_.erase(items_.begin() + index);
}

const std::string& TStringParam::Strings(int index) const {
  Check(index);
  return items_[static_cast<size_t>(index)].Text;
}

void TStringParam::SetStrings(int index, const std::string& s) {
  Check(index);
  items_[static_cast<size_t>(index)].Text = s;
}

intptr_t TStringParam::Objects(int index) const {
  Check(index);
  return items_[static_cast<size_t>(index)].Object;
}

void TStringParam::SetObjects(int index, intptr_t object) {
  Check(index);
  items_[static_cast<size_t>(index)].Object = object;
}

int TStringParam::IndexOf(const std::string& s) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (text::AnsiSameText(items_[i].Text, s)) return static_cast<int>(i);
  return -1;
}

void TStringParam::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& a, const Item& b) { return text::AnsiCompareText(a.Text, b.Text) < 0; });
}

std::vector<std::string> TStringParam::Texts() const {
  std::vector<std::string> texts;
  texts.reserve(items_.size());
  for (const Item& item : items_) texts.push_back(item.Text);
  return texts;
}

void SortIgnoringCase(std::vector<std::string>& texts) {
  std::stable_sort(texts.begin(), texts.end(),
                   [](const std::string& a, const std::string& b) { return text::AnsiCompareText(a, b) < 0; });
}
