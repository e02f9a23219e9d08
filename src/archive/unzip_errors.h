// The error codes TUnZip passes to OnError, and their texts. For a file that could
// not be opened, created, written or closed, ExtendedMsg is the system's message.
#pragma once

#include <string>

namespace archive {

constexpr int kErrBadHeader = 25114;   // "Bad file header": entry dropped while reading the directory
constexpr int kErrUnsafeName = 25115;  // "Unsafe file name": the name would leave the target folder; skipped
// "File name not representable in this system's code page": the entry is skipped;
// FileName shows each character the code page lacks as <U+XXXX>.
constexpr int kErrNameCodePage = 25116;
// "Central directory missing or damaged": the archive is cut short or damaged;
// nothing is extracted, or (the directory lost) what its local headers hold.
constexpr int kErrBadDirectory = 25117;
constexpr int kErrNotZip = 25118;      // "Not a ZIP archive": the file is none (empty, other data)
constexpr int kErrUnexpected = 25119;  // "Extraction stopped by an unexpected error"; ExtendedMsg says which
// "The entry is encrypted": no password was given to open it, or it is encrypted
// with AES, which this program cannot read; no file is written for it.
constexpr int kErrEncrypted = 25120;
constexpr int kErrWrite = 25136;  // "Error writing to file"
constexpr int kErrClose = 25138;  // "Error closing file"
// "File fails CRC check" (only without an OnEnd handler); ExtendedMsg says what
// failed: the CRC ('CRC 0A1B2C3D where the archive says 4E5F6A7B'), the size, or
// the data ('damaged compressed data after 100 of 2000 bytes').
constexpr int kErrCrc = 25151;
constexpr int kErrNotAccessible = 25170;  // "is not accessible": the archive's drive
constexpr int kErrFileNotFound = 25192;   // "File not found": no archive name
constexpr int kErrOpen = 25235;           // "Error opening file": the archive or an output file
constexpr int kErrRequiredEvent = 25270;  // "Required event not assigned"; ExtendedMsg names it
constexpr int kErrUnsupported = 25326;    // "Unsupported compression method": no file is written
constexpr int kErrBadPassword = 26517;    // "Invalid password"

std::string UnZipErrorText(int code);
// A problem as a person reads it: 'Error writing to file: C:\...\app.exe (There is
// not enough space on the disk.)', 'File fails CRC check: data\big.bin (CRC ...)'.
std::string UnZipErrorLine(int code, const std::string& fileName, const std::string& extendedMsg);

// Problems that lie with this machine: the archive, or an output file or folder,
// that could not be opened, created, written or closed (a full disk, a folder that
// cannot be written), or a failure nothing expected.
bool IsMachineError(int code);
// Those, and entries this program cannot open or name (encrypted, an unknown
// method, a name this system's code page cannot hold): no damage of the archive.
bool IsLocalError(int code);

}  // namespace archive
