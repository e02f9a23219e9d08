#include "settings/live_update.h"

#include "base/text.h"
#include "platform/registry.h"
#include "platform/system.h"

TLiveUpdate::TLiveUpdate() : RegistryKeys("", ",") {}

bool TLiveUpdate::HasSwitch(const std::string& name) { return HasSwitch(name, platform::ProgramArguments()); }

bool TLiveUpdate::HasSwitch(const std::string& name, const std::vector<std::string>& arguments) {
  const std::string wanted = text::UpperCase(name);
  for (const std::string& argument : arguments)
    if (text::UpperCase(argument) == wanted) return true;
  return false;
}

std::string TLiveUpdate::GetSwitchValue(const std::string& name) {
  return GetSwitchValue(name, platform::ProgramArguments());
}

std::string TLiveUpdate::GetSwitchValue(const std::string& name, const std::vector<std::string>& arguments) {
  const std::string wanted = text::UpperCase(name);
  for (size_t i = 0; i + 1 < arguments.size(); ++i)
    if (text::UpperCase(arguments[i]) == wanted) return arguments[i + 1];
  return std::string();
}

std::string TLiveUpdate::ExtractURLFileName(const std::string& address) {
  const size_t slash = address.rfind('/');
  return slash == std::string::npos ? std::string() : address.substr(slash + 1);
}

void TLiveUpdate::SetRegistryKeys(const std::string& list) {
  struct Root {
    const char* Name;
    uint32_t Handle;
  };
  static const Root kRoots[] = {
      {"HKEY_LOCAL_MACHINE", platform::HKEY_LOCAL_MACHINE_ID},   {"HKEY_CURRENT_USER", platform::HKEY_CURRENT_USER_ID},
      {"HKEY_CLASSES_ROOT", platform::HKEY_CLASSES_ROOT_ID},     {"HKEY_USERS", platform::HKEY_USERS_ID},
      {"HKEY_CURRENT_CONFIG", platform::HKEY_CURRENT_CONFIG_ID},
  };
  const TStringParam pieces(list, ",");
  RegistryKeys.Clear();
  for (int i = 0; i < pieces.Count(); ++i) {
    const std::string& piece = pieces.Strings(i);
    const int64_t slash = text::Pos("\\", piece);
    const std::string root = slash > 0 ? text::UpperCase(text::Copy(piece, 1, slash - 1)) : std::string();
    const std::string path = slash > 0 ? text::CopyFrom(piece, slash + 1) : std::string();
    for (const Root& r : kRoots) {
      if (root == r.Name) {
        RegistryKeys.AddObject(path, static_cast<intptr_t>(r.Handle));
        break;
      }
    }
  }
}
