// The installation record: for every product key, the key "<path>\Uninstall"
// with the string value "Files", the full paths that uninstallation deletes, each
// followed by ";" in the order they were first recorded, none twice.
#pragma once

#include <string>

class TLiveUpdate;

namespace install {

// Name of the record's sub-key and of its values.
extern const char* const kRecordSubKey;       // "\Uninstall"
extern const char* const kFilesValue;         // "Files"
extern const char* const kUninstallKeyValue;  // "UninstallKey"

// The ";"-joined list `existing` followed by each item of `added` that it does not
// hold yet (letter case ignored), every item followed by ";".
std::string MergeFileLists(const std::string& existing, const std::string& added);

// Adds the ";"-joined paths of `list` to the record of every entry of
// settings.RegistryKeys, in order. When an entry has no "Files" yet, the list is
// written as given; otherwise the merged text is written, and that merged text is
// what the next entry starts from. Raises ERegistryException when a value cannot
// be written (for example when the record's key could not be created).
void RecordInstalledFiles(const TLiveUpdate& settings, std::string list);

}  // namespace install
