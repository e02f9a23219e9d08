#include "archive/unzip_errors.h"

#include "base/text.h"

namespace archive {

std::string UnZipErrorText(int code) {
  switch (code) {
    case kErrBadHeader: return "Bad file header";
    case kErrUnsafeName: return "Unsafe file name";
    case kErrNameCodePage: return "File name not representable in this system's code page";
    case kErrBadDirectory: return "Central directory missing or damaged";
    case kErrNotZip: return "Not a ZIP archive";
    case kErrWrite: return "Error writing to file";
    case kErrClose: return "Error closing file";
    case kErrCrc: return "File fails CRC check";
    case kErrNotAccessible: return "is not accessible";
    case kErrFileNotFound: return "File not found";
    case kErrOpen: return "Error opening file";
    case kErrRequiredEvent: return "Required event not assigned";
    case kErrUnsupported: return "Unsupported compression method";
    case kErrBadPassword: return "Invalid password";
    case kErrUnexpected: return "Extraction stopped by an unexpected error";
    case kErrEncrypted: return "The entry is encrypted";
    default: return "Error " + text::IntToStr(code);
  }
}

std::string UnZipErrorLine(int code, const std::string& fileName, const std::string& extendedMsg) {
  std::string line = UnZipErrorText(code) + ": " + fileName;
  if (!extendedMsg.empty()) line += " (" + extendedMsg + ")";
  return line;
}

bool IsMachineError(int code) {
  switch (code) {
    case kErrOpen:
    case kErrWrite:
    case kErrClose:
    case kErrNotAccessible:
    case kErrUnexpected: return true;
    default: return false;
  }
}

bool IsLocalError(int code) {
  switch (code) {
    case kErrFileNotFound:
    case kErrNameCodePage:
    case kErrEncrypted:
    case kErrUnsupported: return true;
    default: return IsMachineError(code);
  }
}

}  // namespace archive
