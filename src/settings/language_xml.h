// The two text-cutting operations the language document is read with. The
// document is not parsed as XML: both are plain case-sensitive substring
// searches over single-byte text, and malformed input gives an empty or
// partial result rather than an error.
#pragma once

#include <string>

// The element with that tag, from "<tag" (a prefix match) through "</tag>".
// No end tag, or an end tag before the start tag: "". No start tag but an end
// tag: the source from its first character through the end tag.
std::string ExtractElement(const std::string& tag, const std::string& source);

// The values of every entry of key in section, joined by CR LF. An entry is the
// key followed directly by a blank; its value is the text between the next two
// double quotes after it. Empty values at the end of a series vanish. Never
// raises.
std::string ReadValue(const std::string& key, const std::string& section);
