// The dialogs a run may open over the window. The retry dialog: the files the copy step could not replace, each with
// its folder, and the buttons Retry and Cancel.
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

// The question a proxy's Basic authentication asks: user name and password, OK
// and Cancel. Asked once a run; what is typed is kept for that run alone.
class TFProxyLogin {
 public:
  explicit TFProxyLogin(TFileXML& texts);
  // Shows it modally for proxy ("host:port"); true with OK, the fields then
  // holding the answer.
  bool Ask(const std::string& proxy, TBackend& backend);

  std::string Caption;
  TLabel LMessage{"LProxyMessage"};
  TLabel LUser{"LProxyUser"};
  TLabel LPassword{"LProxyPassword"};
  TEdit EUser{"EProxyUser"};
  TEdit EPassword{"EProxyPassword"};
  TButton BOk{"BProxyOk"};
  TButton BCancel{"BProxyCancel"};
};

// The folder of a path: up to its last "\" or ":", trailing backslashes removed.
std::string FileFolder(const std::string& path);
// A list line: the file name, " (", its folder, ")".
std::string RetryLine(const std::string& path);
