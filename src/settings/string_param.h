// An ordered list of texts, each with an attached pointer-sized value, whose
// whole-text form puts a chosen separator after every item ("a,b," for the items
// a and b). Used for process lists, registry key lists, ";"-joined file lists
// and for cutting paths and names into their parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"

// An index outside the list.
class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

class TStringParam {
 public:
  // An empty list whose separator is CR LF.
  TStringParam();
  // Sets the separator first, then the content from text.
  TStringParam(const std::string& text, const std::string& separator);

  // An empty separator stands for CR LF.
  void SetSeparator(const std::string& separator);
  const std::string& Separator() const { return separator_; }

  // Every item followed by the separator, the last one included; "" for no items.
  std::string GetTextStr() const;
  // Replaces the items with the pieces of text. Pieces end at each separator
  // (compared exactly); a missing final separator is implied, so "a,b" and "a,b,"
  // both give a and b, and "" gives no items while "," gives one empty item.
  void SetTextStr(const std::string& text);

  // Append; return the new item's index.
  int Add(const std::string& s);
  int AddObject(const std::string& s, intptr_t object);
  // Raise EStringListError for an index outside 0..Count()-1 (Insert: 0..Count()).
  void Insert(int index, const std::string& s, intptr_t object = 0);
  void Delete(int index);
  const std::string& Strings(int index) const;
  void SetStrings(int index, const std::string& s);
  intptr_t Objects(int index) const;
  void SetObjects(int index, intptr_t object);
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }
  // First item whose text equals s without regard to case (ISO-8859-1 letters
  // included); -1 when none.
  int IndexOf(const std::string& s) const;
  // Ascending, without regard to case (ISO-8859-1); equal texts keep their order.
  void Sort();

  // The texts alone, in order.
  std::vector<std::string> Texts() const;

 private:
  struct Item {
    std::string Text;
    intptr_t Object = 0;
  };
  void Check(int index) const;

  std::string separator_;
  std::vector<Item> items_;
};

// Sorts texts ascending without regard to case (ISO-8859-1); equal texts keep
// their order.
void SortIgnoringCase(std::vector<std::string>& texts);
