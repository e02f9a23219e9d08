// Paths for the wide file functions. The program's texts are in the ANSI code
// page, and the ANSI file functions stop at MAX_PATH (260) characters: an
// installation a few folders deep, extracted below %TEMP%\<GUID>\, passes that.
// The wide functions take up to 32,767 characters in the long-path form, which
// the system passes on as it is, so the text is normalised first.
#pragma once

#include <string>

namespace platform::win32 {

// Between the code page the file functions use (the ANSI one unless the program
// switched them to OEM) and UTF-16; empty when a text does not convert.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// The long-path form of a path text: normalised as the system normalises (made
// absolute against the current folder and drive, "." and ".." resolved, "/" and
// runs of separators made one "\", trailing dots and blanks dropped from the last
// name), then prefixed "\\?\" ("\\?\UNC\server\share\..." for a network path).
// A text that already names a device or a long path ("\\.\", "\\?\") is kept
// as it is. Empty for an empty text or one that does not convert.
std::wstring LongPath(const std::string& path);

}  // namespace platform::win32
