// Shell links written directly in the binary Shell Link format ([MS-SHLLINK]):
// a header, a LinkInfo with the absolute target as its local base path (or a
// relative path for a relative target), then the working folder and arguments as
// ANSI StringData, ended by the terminal extra-data block.
#include <sys/stat.h>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/posix/posix_internal.h"
#include "platform/shell.h"

namespace platform {

using namespace posix;

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

// A Unix time as a FILETIME: 100-ns intervals since 1601-01-01 UTC.
uint64_t FileTime(const struct timespec& t) {
  return (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(t.tv_nsec) / 100;
}

constexpr uint32_t kHasLinkInfo = 0x00000002;
constexpr uint32_t kHasRelativePath = 0x00000008;
constexpr uint32_t kHasWorkingDir = 0x00000010;
constexpr uint32_t kHasArguments = 0x00000020;

bool IsAbsolute(const std::string& path) {
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// StringData: a 16-bit character count, then the characters (no terminator).
bool PutCountedString(std::string& out, const std::string& text) {
  if (text.size() > 0xFFFF) return false;
  Put16(out, static_cast<uint32_t>(text.size()));
  out += text;
  return true;
}

// ShellLinkHeader, with the target's attributes, times and size when it exists,
// as the shell records them.
void PutHeader(std::string& out, const std::string& target, uint32_t flags) {
  uint32_t attributes = faNormal;
  uint64_t created = 0, accessed = 0, written = 0;
  uint32_t size = 0;
  struct stat st;
  std::string targetHost = HostPath(target);
  if (!targetHost.empty() && stat(targetHost.c_str(), &st) == 0) {
    attributes = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
    if (!S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0) attributes |= faReadOnly;
    created = FileTime(st.st_ctim);
    accessed = FileTime(st.st_atim);
    written = FileTime(st.st_mtim);
    size = static_cast<uint32_t>(st.st_size);  // low 32 bits, as the format keeps
  }
  Put32(out, 0x4C);                                                                  // HeaderSize
  const unsigned char clsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,   // LinkCLSID
                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};  // 00021401-...-46
  out.append(reinterpret_cast<const char*>(clsid), sizeof clsid);
  Put32(out, flags);       // LinkFlags; IsUnicode clear: StringData is ANSI
  Put32(out, attributes);  // FileAttributes
  Put64(out, created);     // CreationTime
  Put64(out, accessed);    // AccessTime
  Put64(out, written);     // WriteTime
  Put32(out, size);        // FileSize
  Put32(out, 0);           // IconIndex
  Put32(out, 1);           // ShowCommand: SW_SHOWNORMAL
  Put16(out, 0);           // HotKey
  Put16(out, 0);           // Reserved1
  Put32(out, 0);           // Reserved2
  Put32(out, 0);           // Reserved3
}

// LinkInfo of an absolute target: header, VolumeID, LocalBasePath, CommonPathSuffix.
void PutLinkInfo(std::string& out, const std::string& target) {
  const uint32_t headerSize = 0x1C;
  const uint32_t volumeIdSize = 0x11;  // 16 bytes of fields and an empty label
  uint32_t basePathOffset = headerSize + volumeIdSize;
  uint32_t suffixOffset = basePathOffset + static_cast<uint32_t>(target.size()) + 1;
  uint32_t total = suffixOffset + 1;
  Put32(out, total);           // LinkInfoSize
  Put32(out, headerSize);      // LinkInfoHeaderSize
  Put32(out, 0x1);             // LinkInfoFlags: VolumeIDAndLocalBasePath
  Put32(out, headerSize);      // VolumeIDOffset
  Put32(out, basePathOffset);  // LocalBasePathOffset
  Put32(out, 0);               // CommonNetworkRelativeLinkOffset
  Put32(out, suffixOffset);    // CommonPathSuffixOffset
  Put32(out, volumeIdSize);    // VolumeIDSize
  Put32(out, 3);               // DriveType: DRIVE_FIXED
  Put32(out, 0);               // DriveSerialNumber
  Put32(out, 0x10);            // VolumeLabelOffset
  out += '\0';                 // VolumeLabel: empty
  out += target;               // LocalBasePath
  out += '\0';
  out += '\0';  // CommonPathSuffix: empty
}

}  // namespace

bool SaveShellLink(const std::string& linkFile, const std::string& target, const std::string& arguments,
                   const std::string& workingFolder) {
  bool absolute = IsAbsolute(target);
  uint32_t flags = (absolute ? kHasLinkInfo : kHasRelativePath) | (workingFolder.empty() ? 0 : kHasWorkingDir) |
                   (arguments.empty() ? 0 : kHasArguments);
  std::string out;
  PutHeader(out, target, flags);
  if (absolute)
    PutLinkInfo(out, target);
  else if (!PutCountedString(out, target))  // RELATIVE_PATH
    return Fail(kErrorInvalidParameter);
  if (!workingFolder.empty() && !PutCountedString(out, workingFolder)) return Fail(kErrorInvalidParameter);
  if (!arguments.empty() && !PutCountedString(out, arguments)) return Fail(kErrorInvalidParameter);
  Put32(out, 0);  // TerminalBlock

  try {
    TFileStream file(linkFile, TFileMode::CreateExclusive);
    file.Write(out.data(), static_cast<int64_t>(out.size()));
    return file.Close();
  } catch (const Exception&) {
    return false;  // the last error tells why
  }
}

}  // namespace platform
