// How the tools read a path from their command line, on both targets: a Windows
// path text (a drive letter, or a leading backslash) is taken as it is; anything
// else is a host path, made absolute and given its Windows form (on the Linux port
// through the emulated machine's mapping, under Wine as drive Z:).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/files.h"

inline std::string ArgumentPath(const std::string& arg) {
  if ((arg.size() >= 2 && arg[1] == ':') || (!arg.empty() && arg[0] == '\\')) return arg;
  if (arg.empty() || arg[0] == '/') return platform::FromHostPath(arg);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(arg, ec);
  return platform::FromHostPath(ec ? arg : absolute.string());
}
