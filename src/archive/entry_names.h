// Entry names as the program uses them: converted to its code page with "\"
// between folders, checked so that nothing lands outside the target folder, and
// joined to the target folder into output paths.
#pragma once

#include <cstdint>
#include <string>

namespace archive {

// The stored name as the program uses it: "\" between folders, "." segments left
// out (tar.exe and bsdtar begin every name with "./"), and, when translate is set,
// in the program's ANSI code page. The stored bytes are taken for UTF-8 when the
// entry says so (general-purpose bit 11) or when a Unix or macOS tool made it (and
// they are valid UTF-8; else they are kept as they are), for code page 437
// otherwise: PKWARE's APPNOTE names it as the default, and MS-DOS and Windows tools
// write it. host is the "version made by" host, -1 when unknown (a name read from a
// local header alone: UTF-8 when valid, else code page 437).
//
// False when the code page has no byte of its own for a character of the name: it
// is never replaced by a look-alike, which could make two names one. name then
// shows each such character as <U+XXXX>, for the error that names the entry.
bool EntryName(const std::string& storedName, uint16_t flags, int host, bool translate, std::string& name);

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
