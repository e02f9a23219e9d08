// A list of header lines of the form name, ": ", value. Lookup ignores letter
// case; a received line starting with a blank or tab continues the previous one.
#pragma once

#include <string>
#include <vector>

namespace net {

class THeaderList {
 public:
  void Clear() { lines_.clear(); }
  // One line as received: "Name: value" (blanks around name and value are not
  // kept), or a continuation joined to the previous value with one blank. A line
  // without a colon is kept as a name with an empty value.
  void AddReceivedLine(const std::string& line);
  // Sets (replacing every line of that name) or, with an empty value, removes.
  void SetValue(const std::string& name, const std::string& value);
  void Add(const std::string& name, const std::string& value);

  // The value of the first line with that name; "" when there is none.
  std::string Values(const std::string& name) const;
  // Every value of that name, in order.
  std::vector<std::string> AllValues(const std::string& name) const;
  bool Has(const std::string& name) const;

  const std::vector<std::string>& Lines() const { return lines_; }
  size_t Count() const { return lines_.size(); }
  // The lines, each followed by CR LF.
  std::string Text() const;

  static std::string NameOf(const std::string& line);
  static std::string ValueOf(const std::string& line);

 private:
  std::vector<std::string> lines_;
};

}  // namespace net
