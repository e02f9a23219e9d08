// Paths, files and folders. Files and folders go through the wide functions in
// the long-path form (wide_paths.h), so that no path fails for its length alone.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::LongPath;
using win32::Narrow;
using win32::TFindHandle;
using win32::THandle;
using win32::TQuietErrorMode;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The folder part of a path up to and including its last separator or drive
// colon ("" when it has none).
std::string FolderPart(const std::string& path) {
  size_t i = path.find_last_of("\\/:");
  return i == std::string::npos ? std::string() : path.substr(0, i + 1);
}

// The root folder of the drive a path lies on: "X:\" for a drive letter,
// "\\server\share\" for a UNC path, the current folder's root otherwise.
std::string DriveRoot(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "\\";
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t server = path.find_first_of("\\/", 2);
    if (server == std::string::npos) return std::string();
    size_t share = path.find_first_of("\\/", server + 1);
    return (share == std::string::npos ? path : path.substr(0, share)) + "\\";
  }
  std::string current = GetCurrentDir();
  return current.empty() ? std::string() : DriveRoot(current);
}

SYSTEMTIME ToSystemTime(const TLocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.Year);
  st.wMonth = static_cast<WORD>(t.Month);
  st.wDay = static_cast<WORD>(t.Day);
  st.wHour = static_cast<WORD>(t.Hour);
  st.wMinute = static_cast<WORD>(t.Minute);
  st.wSecond = static_cast<WORD>(t.Second);
  return st;
}

TLocalTime FromSystemTime(const SYSTEMTIME& st) {
  TLocalTime t;
  t.Year = st.wYear;
  t.Month = st.wMonth;
  t.Day = st.wDay;
  t.Hour = st.wHour;
  t.Minute = st.wMinute;
  t.Second = st.wSecond;
  return t;
}

}  // namespace

// ---------------------------------------------------------------- paths

std::string HostPath(const std::string& path) { return path; }

std::string FromHostPath(const std::string& hostPath) {
  // Wine shows the host's root as drive Z:.
  if (hostPath.empty() || hostPath[0] != '/') return hostPath;
  std::string result = "Z:" + hostPath;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

bool DriveAccessible(const std::string& path) {
  std::string root = DriveRoot(path);
  if (root.empty()) return false;
  UINT type = ::GetDriveTypeA(root.c_str());
  if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return false;
  // A removable drive without its medium exists but cannot be read; ask quietly.
  TQuietErrorMode quiet;
  return ::GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------- files and folders

bool FileExists(const std::string& path) {
  DWORD a = ::GetFileAttributesW(LongPath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TFileLook LookAtFile(const std::string& path) {
  TFileLook look;
  look.Exists = FileExists(path);
  return look;
}

THeldFiles::THeldFiles(const TFileStream& /*witness*/) {}

bool THeldFiles::MayBeHeld(const TFileLook& /*file*/) const { return true; }

bool DirectoryExists(const std::string& path) {
  DWORD a = ::GetFileAttributesW(LongPath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDir(const std::string& path) {
  TQuietErrorMode quiet;
  return ::CreateDirectoryW(LongPath(path).c_str(), nullptr /* default security */) != FALSE;
}

bool ForceDirectories(const std::string& path) {
  std::string dir = text::WithoutTrailingSeparators(path);
  // An empty entry names no folder at all (a path of only separators included).
  if (dir.empty()) return false;
  if (dir.size() < 3 || DirectoryExists(dir)) return true;
  std::string parent = FolderPart(dir);
  // "X:" + name, or a bare relative name: nothing above it to make.
  if (!parent.empty() && parent != dir) {
    std::string trimmed = text::WithoutTrailingSeparators(parent);
    if (!trimmed.empty() && trimmed != dir && !ForceDirectories(parent)) return false;
  }
  return CreateDir(dir) || DirectoryExists(dir);
}

bool RemoveDir(const std::string& path) { return ::RemoveDirectoryW(LongPath(path).c_str()) != FALSE; }

bool EraseFile(const std::string& path, uint32_t /*known*/) { return ::DeleteFileW(LongPath(path).c_str()) != FALSE; }

uint32_t GetAttributes(const std::string& path) {
  // INVALID_FILE_ATTRIBUTES is faInvalid.
  return ::GetFileAttributesW(LongPath(path).c_str());
}

bool SetAttributes(const std::string& path, uint32_t attributes, uint32_t /*unixMode*/) {
  return ::SetFileAttributesW(LongPath(path).c_str(), attributes) != FALSE;
}

bool SetAttributesNormal(const std::string& path) {
  return ::SetFileAttributesW(LongPath(path).c_str(), FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool MoveFileTo(const std::string& source, const std::string& destination) {
  return ::MoveFileW(LongPath(source).c_str(), LongPath(destination).c_str()) != FALSE;
}

bool RenameFile(const std::string& source, const std::string& destination, uint32_t /*known*/) {
  // Without MOVEFILE_COPY_ALLOWED another volume fails with ERROR_NOT_SAME_DEVICE,
  // without MOVEFILE_REPLACE_EXISTING an existing destination stays.
  // MOVEFILE_WRITE_THROUGH: the journal counts on a name changed being changed
  // on the disk, wherever the file system can promise it on return.
  return ::MoveFileExW(LongPath(source).c_str(), LongPath(destination).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool CopyFileTo(const std::string& source, const std::string& destination, bool failIfExists) {
  // A read-only destination is never replaced (Windows refuses it; a Wine prefix
  // run by root would not).
  if (!failIfExists && FileExists(source) && FileExists(destination) &&
      (GetAttributes(destination) & FILE_ATTRIBUTE_READONLY)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return ::CopyFileW(LongPath(source).c_str(), LongPath(destination).c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

// ---------------------------------------------------------------- times

TLocalTime Now() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return FromSystemTime(st);
}

namespace {

bool ToFileTime(const TLocalTime& time, FILETIME& ft) {
  SYSTEMTIME local = ToSystemTime(time);
  SYSTEMTIME utc;
  // The zone's rule for that date, not today's offset (a summer date set in
  // winter keeps its summer offset).
  if (!::TzSpecificLocalTimeToSystemTime(nullptr /* the current zone */, &local, &utc)) return false;
  return ::SystemTimeToFileTime(&utc, &ft) != FALSE;
}

}  // namespace

bool SetLastWriteTime(const std::string& path, const TLocalTime& time) {
  FILETIME ft;
  if (!ToFileTime(time, ft)) return false;
  THandle file(::CreateFileW(LongPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,  // others keep their access
                             nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS,  // lets a folder be opened too
                             nullptr));
  if (!file.Valid()) return false;
  return ::SetFileTime(file.Get(), nullptr /* creation */, nullptr /* last access */, &ft) != FALSE;
}

bool TFileStream::SetLastWriteTime(const TLocalTime& time) {
  FILETIME ft;
  if (!ToFileTime(time, ft)) return false;
  // A time set on the handle is kept when it is closed, as a later write would not.
  return ::SetFileTime(reinterpret_cast<HANDLE>(handle_), nullptr /* creation */, nullptr /* last access */, &ft) !=
         FALSE;
}

std::optional<TLocalTime> GetLastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  SYSTEMTIME utc, local;
  if (!::FileTimeToSystemTime(&data.ftLastWriteTime, &utc)) return std::nullopt;
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return std::nullopt;
  return FromSystemTime(local);
}

// ---------------------------------------------------------------- names and folders

std::string ShortPathName(const std::string& path, uint32_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::string buffer(bufferSize, '\0');
  DWORD n = ::GetShortPathNameA(path.c_str(), buffer.data(), bufferSize);
  // 0 is a failure; a value of at least the buffer size is the size it would
  // have needed, and the buffer then holds nothing usable.
  if (n == 0 || n >= bufferSize) return std::string();
  buffer.resize(n);
  return buffer;
}

bool SetCurrentDir(const std::string& path) { return ::SetCurrentDirectoryA(path.c_str()) != FALSE; }

std::string GetCurrentDir() {
  DWORD need = ::GetCurrentDirectoryA(0, nullptr);  // size with the NUL
  if (need == 0) return std::string();
  std::string buffer(need, '\0');
  DWORD n = ::GetCurrentDirectoryA(need, buffer.data());
  if (n == 0 || n >= need) return std::string();
  buffer.resize(n);
  return buffer;
}

std::string WindowsDir() {
  char buffer[MAX_PATH + 1];
  UINT n = ::GetWindowsDirectoryA(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

std::string TempDir() {
  char buffer[1024];
  DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

bool FlushFolder(const std::string& path) { return DirectoryExists(path); }

namespace {

// A handle for flushing: a file, or a volume ("\\.\C:") when path is one.
bool FlushHandleOf(const std::wstring& name) {
  THandle handle(::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle.Valid() && ::FlushFileBuffers(handle.Get()) != FALSE;
}

}  // namespace

bool FlushVolume(const std::string& path) {
  wchar_t mount[MAX_PATH + 1];
  if (!::GetVolumePathNameW(LongPath(path).c_str(), mount, MAX_PATH)) return false;
  // "C:\" (or "\\?\C:\") names the volume as "\\.\C:".
  std::wstring root = mount;
  if (root.rfind(L"\\\\?\\", 0) == 0) root.erase(0, 4);
  if (root.size() < 2 || root[1] != L':') {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  return FlushHandleOf(L"\\\\.\\" + root.substr(0, 2));
}

bool FlushesFileByFile(const std::string& folder) {
  // Any failure counts: flushing each file costs time, never the update.
  const bool whole = FlushVolume(folder);
  ::SetLastError(0);
  return !whole;
}

bool FlushFile(const std::string& path) {
  const std::wstring name = LongPath(path);
  if (FlushHandleOf(name)) return true;
  // A read-only file opens for reading only, and only a handle that may write
  // flushes: its attribute is cleared for the flush and put back.
  const DWORD refused = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (refused != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_READONLY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::SetLastError(refused);
    return false;
  }
  if (!::SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
  const bool flushed = FlushHandleOf(name);
  const DWORD code = ::GetLastError();
  ::SetFileAttributesW(name.c_str(), attributes);
  ::SetLastError(code);
  return flushed;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> folders, files;
  std::string pattern = path;
  if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW data;
  TFindHandle find(::FindFirstFileW(LongPath(pattern).c_str(), &data));
  if (!find.Valid()) return {};
  do {
    std::string name = Narrow(data.cFileName);
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      folders.push_back(name + "\\");
    else
      files.push_back(name);
  } while (::FindNextFileW(find.Get(), &data));
  // File systems differ in their enumeration order; give every caller the same.
  auto byName = [](const std::string& a, const std::string& b) { return text::AnsiCompareText(a, b) < 0; };
  std::sort(folders.begin(), folders.end(), byName);
  std::sort(files.begin(), files.end(), byName);
  folders.insert(folders.end(), files.begin(), files.end());
  return folders;
}

}  // namespace platform
