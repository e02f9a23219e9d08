// Entry names as the program uses them: converted to its code page with "\"
// between folders, checked so that nothing lands outside the target folder, and
// joined to the target folder into output paths.
#pragma once

#include <cstdint>
#include <string>

namespace archive {

// The stored name with "\" separators, converted to the ANSI code page when
// translate is set (flags and host as for EntryNameToAnsi).
std::string EntryName(const std::string& storedName, uint16_t flags, int host, bool translate);

std::string SlashesToBackslashes(std::string s);

// The file part after the last "\" or ":"; the folder part up to and including it.
std::string FilePart(const std::string& name);
std::string FolderPart(const std::string& name);

// Whether what remains of a name below the target folder stays below it: no drive
// or root left after the drive is stripped, no parent-folder segment, no device
// name, no NUL. With useStoredDirs false only the file part counts.
bool IsSafeName(const std::string& name, bool useStoredDirs);

// targetFolder (ending in "\") joined with the name's folder part, drive and root
// stripped (with useStoredDirs; without, nothing of it), and its file part.
std::string OutputPath(const std::string& targetFolder, const std::string& name, bool useStoredDirs);

}  // namespace archive
