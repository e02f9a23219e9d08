// RFC 4648 Base64, as keys, signatures and Basic credentials travel.
#pragma once

#include <string>

namespace net {

// With "=" padding, on one line.
std::string Base64Encode(const std::string& bytes);
// White space (a text wrapped by base64 without -w0) is skipped. False on any
// other character outside the alphabet, a bad ending, or leftover bits that are
// not zero (so that one text has one meaning).
bool Base64Decode(const std::string& text, std::string& bytes);

}  // namespace net
