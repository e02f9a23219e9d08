// Prints this program's build-time defaults, one "Name=value" line each, then
// its arguments as the platform splits them, one "arg=..." line each.
#include <cstdio>

#include "platform/system.h"
#include "settings/build_defaults.h"

int main(int argc, char** argv) {
  platform::SetProgramArguments(argc, argv);
  for (int i = 0; i < defaults::kFieldCount; ++i)
    std::printf("%s=%s\n", defaults::kFields[i].Name, defaults::Value(i).c_str());
  std::printf("BatchFileName=%s\n", defaults::BatchFileName);
  std::printf("FileReplaceTimeout=%u\n", static_cast<unsigned>(defaults::FileReplaceTimeout));
  for (const std::string& argument : platform::ProgramArguments()) std::printf("arg=%s\n", argument.c_str());
  return 0;
}
