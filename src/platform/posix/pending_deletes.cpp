// The deletions an uninstallation leaves for the next start of Windows. Windows
// runs the RunOnce commands when it starts; on the emulated machine nothing ever
// starts it, so the program's own start stands in, for the commands it wrote
// itself: "CMD.EXE /C DEL "<path>"" (or COMMAND.COM's) in values whose names it
// chose. Other values, other programs' above all, are left as they are.
#include <algorithm>
#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "platform/posix/posix_internal.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace platform {

using namespace posix;

namespace {

// The file a scheduled DEL command names; false for any other command, and for a
// name with wildcards (none of ours has them).
bool DeletedFile(const TRegValue& value, std::string& path) {
  if (value.Type != REG_SZ_TYPE && value.Type != REG_EXPAND_SZ_TYPE) return false;
  const std::string& command = value.Data;
  for (const char* interpreter : {"CMD.EXE /C DEL \"", "COMMAND.COM /C DEL \""}) {
    const std::string prefix = interpreter;
    if (!text::StartsText(prefix, command) || command.size() < prefix.size() + 2 || command.back() != '"') continue;
    path = command.substr(prefix.size(), command.size() - prefix.size() - 1);
    return path.find_first_of("\"*?") == std::string::npos;
  }
  return false;
}

}  // namespace

void RunPendingDeletes(const std::string& key, const std::string& valuePrefix) {
  // Most starts find nothing to do: look before taking the hive's write lock.
  TRegKey runOnce;
  std::vector<std::string> names;
  if (!runOnce.Open(HKEY_LOCAL_MACHINE_ID, key, false, true) || !runOnce.ValueNames(names)) return;
  if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return text::StartsText(valuePrefix, n); }))
    return;
  runOnce.Close();
  // One change of the hive, so a value scheduled meanwhile by another run is
  // neither lost nor carried out unseen.
  ChangeKey(HKEY_LOCAL_MACHINE_ID, key, [&](regedit4::Key& k) {
    bool changed = false;
    for (size_t i = 0; i < k.values.size();) {
      std::string path;
      if (!text::StartsText(valuePrefix, k.values[i].first) || !DeletedFile(k.values[i].second, path)) {
        ++i;
        continue;
      }
      // A file still held stays scheduled: at a real start of Windows nothing
      // would hold it, and a later start here may find it free.
      if (!EraseFile(path) && LastError() == kErrorSharingViolation) {
        ++i;
        continue;
      }
      k.values.erase(k.values.begin() + static_cast<std::ptrdiff_t>(i));
      changed = true;
    }
    return changed;
  });
}

}  // namespace platform
