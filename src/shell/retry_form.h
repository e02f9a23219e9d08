// The retry dialog: the files the copy step could not replace, each with its
// folder, and the buttons Retry and Cancel.
#pragma once

#include <string>
#include <vector>

#include "engine/controls.h"

class TFileXML;
class TBackend;

class TFRetry {
 public:
  explicit TFRetry(TFileXML& texts);

  // Shows the dialog modally; true when the user chose Retry (the close box and
  // Cancel answer false).
  bool AskRetry(const std::vector<std::string>& files, TBackend& backend);

  std::string Caption;
  TLabel LRetryMessage{"LRetryMessage"};
  std::vector<std::string> LBRetry;  // the list box's lines
  TButton BRetry{"BRetry"};
  TButton BCancel{"BCancel"};
};

// The folder of a path: up to its last "\" or ":", trailing backslashes removed.
std::string FileFolder(const std::string& path);
// A list line: the file name, " (", its folder, ")".
std::string RetryLine(const std::string& path);
