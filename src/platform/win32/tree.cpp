// Whole folders removed, and paths checked, without ever following a reparse
// point: an elevated updater works in folders the user's own unelevated programs
// can write (TEMP, the installation folder), where a planted junction or link must
// not lead it elsewhere.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "platform/win32/token.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::LongPath;
using win32::TFindHandle;
using win32::THandle;

namespace {

// Deeper trees than this are left where they are: each level holds a handle.
constexpr int kMaxDepth = 256;

// The object itself, never what a link leads to, with its own attributes: those
// of the handle, and the name's as the folder lists it, since some systems (Wine)
// say "link" in one place only.
THandle OpenOwn(const std::wstring& path, DWORD access, DWORD share, BY_HANDLE_FILE_INFORMATION& info) {
  THandle handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS /* folders too */ | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.Valid() && !::GetFileInformationByHandle(handle.Get(), &info)) handle.Reset();
  const DWORD named = ::GetFileAttributesW(path.c_str());
  if (handle.Valid() && named != INVALID_FILE_ATTRIBUTES) info.dwFileAttributes |= named & FILE_ATTRIBUTE_REPARSE_POINT;
  return handle;
}

bool Gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Deletes what a handle opened on the name itself holds (Vista and later; looked
// up, so that older systems still start the program).
bool DeleteThroughHandle(const std::wstring& path) {
  using TSetInformation = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  const auto set = reinterpret_cast<TSetInformation>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle")));
  if (!set) return false;
  THandle handle(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_DISPOSITION_INFO disposition{TRUE};
  return handle.Valid() && set(handle.Get(), FileDispositionInfo, &disposition, sizeof disposition);
}

// Removes one name that is not a folder to enter: a file, or a link of any kind
// as itself (DeleteFileW and RemoveDirectoryW never follow the last name). A link
// to a folder goes with RemoveDirectoryW on Windows; a system that keeps it as a
// link of its own (Wine: the host's) may want DeleteFileW.
bool RemoveName(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (::RemoveDirectoryW(path.c_str()) || Gone(::GetLastError())) return true;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (::DeleteFileW(path.c_str()) || DeleteThroughHandle(path));
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(path.c_str()) || Gone(::GetLastError());
}

// seen: the attributes the folder's listing gave the name, which say "link" on
// systems whose handles do not.
bool RemoveLong(const std::wstring& path, DWORD seen, int depth) {
  if (seen & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveName(path, seen);
  BY_HANDLE_FILE_INFORMATION info{};
  // Held without delete sharing while the walk is inside: nobody can rename it
  // away and put a junction in its place.
  THandle folder = OpenOwn(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, info);
  if (!folder.Valid()) {
    const DWORD error = ::GetLastError();
    if (Gone(error)) return true;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           RemoveName(path, attributes);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    folder.Reset();
    return RemoveName(path, info.dwFileAttributes);
  }
  if (depth >= kMaxDepth) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  bool empty = true;
  WIN32_FIND_DATAW entry;
  TFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
  if (find.Valid()) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      const bool removed = (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                               ? RemoveLong(child, entry.dwFileAttributes, depth + 1)
                               : RemoveName(child, entry.dwFileAttributes);
      empty = removed && empty;
    } while (::FindNextFileW(find.Get(), &entry));
  }
  folder.Reset();
  return empty && (::RemoveDirectoryW(path.c_str()) || Gone(::GetLastError()));
}

// Whether a security descriptor's owner is one of sids.
bool OwnedBy(const std::wstring& path, const std::vector<PSID>& sids) {
  BY_HANDLE_FILE_INFORMATION info{};
  THandle handle =
      OpenOwn(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info);
  if (!handle.Valid() || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
    return false;
  bool ours = false;
  for (PSID sid : sids) ours = ours || (owner && sid && ::EqualSid(owner, sid));
  ::LocalFree(sd);
  return ours;
}

}  // namespace

bool RemoveTree(const std::string& path, const THeldFiles* /*held*/) {
  std::wstring longPath = LongPath(path);
  while (longPath.size() > 7 && longPath.back() == L'\\') longPath.pop_back();
  if (longPath.empty()) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const DWORD seen = ::GetFileAttributesW(longPath.c_str());
  return RemoveLong(longPath, seen == INVALID_FILE_ATTRIBUTES ? 0 : seen, 0);
}

bool NoLinkBelow(const std::string& folder, const std::string& relative) {
  std::string below = relative;
  for (char& c : below)
    if (c == '/') c = '\\';
  std::string at = text::WithoutTrailingSeparators(folder);
  for (size_t start = 0;;) {
    const size_t end = below.find('\\', start);
    if (end == std::string::npos) return true;
    at += "\\" + below.substr(start, end - start);
    const DWORD attributes = ::GetFileAttributesW(LongPath(at).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Gone(::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    start = end + 1;
  }
}

bool ReadOwnFile(const std::string& path, size_t maxBytes, std::string& bytes) {
  bytes.clear();
  BY_HANDLE_FILE_INFORMATION info{};
  THandle file = OpenOwn(LongPath(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info);
  if (!file.Valid()) return false;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > maxBytes) {
    ::SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  bytes.resize(static_cast<size_t>(size));
  for (size_t done = 0; done < bytes.size();) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), &bytes[done], static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30)),
                    &read, nullptr))
      return false;
    if (read == 0) {
      bytes.resize(done);  // cut shorter meanwhile: what there is
      break;
    }
    done += read;
  }
  return true;
}

bool OwnFolder(const std::string& path) {
  std::vector<BYTE> user, owner;
  if (!win32::TokenInformation(TokenUser, user)) return false;
  std::vector<PSID> sids{reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid};
  if (win32::TokenInformation(TokenOwner, owner)) sids.push_back(reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner);
  return OwnedBy(LongPath(path), sids);
}

}  // namespace platform
