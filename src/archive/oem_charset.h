// Entry names to the ANSI code page (ISO-8859-1) the rest of the program speaks.
// Names from MS-DOS and Windows tools are in the OEM code page 437 that PKWARE's
// APPNOTE names as the default; names flagged UTF-8 (general-purpose bit 11) are
// decoded; characters without an ISO-8859-1 counterpart become "_".
#pragma once

#include <cstdint>
#include <string>

namespace archive {

// Code page 437 to ISO-8859-1, byte for byte; ASCII is unchanged.
std::string OemToAnsi(const std::string& name);

// UTF-8 to ISO-8859-1. false (and out untouched) when name is not valid UTF-8.
bool Utf8ToAnsi(const std::string& name, std::string& out);

// The name as this program should see it, given the entry's general-purpose flags
// and the host byte of "version made by" (-1 when unknown, as for a name read from
// a local header alone): UTF-8 when flagged; for Unix hosts, which store their own
// (nowadays UTF-8) bytes, UTF-8 when valid and else the bytes as they are; the OEM
// code page otherwise.
std::string EntryNameToAnsi(const std::string& name, uint16_t flags, int host);

}  // namespace archive
