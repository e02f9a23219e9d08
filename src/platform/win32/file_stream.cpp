// TFileStream over a Win32 file handle, with 64-bit positions on both builds.
#include <windows.h>

#include <algorithm>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/win32/wide_paths.h"

namespace platform {

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
const intptr_t kNoHandle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces.
constexpr int64_t kMaxChunk = 0x40000000;

}  // namespace

TFileStream::TFileStream(const std::string& path, TFileMode mode) : fileName_(path), handle_(kNoHandle) {
  if (mode == TFileMode::CreateInOwnFolder) mode = TFileMode::CreateExclusive;  // the system checks as it makes
  DWORD access = GENERIC_READ;
  DWORD share = 0;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case TFileMode::OpenRead: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case TFileMode::OpenReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      share = FILE_SHARE_READ;
      break;
    case TFileMode::CreateExclusive:
    case TFileMode::CreateInOwnFolder:
      access = GENERIC_READ | GENERIC_WRITE;
      share = 0;                    // nobody else opens it while we write
      disposition = CREATE_ALWAYS;  // replaces an existing file
      break;
    case TFileMode::CreateTemporary:
      access = GENERIC_READ | GENERIC_WRITE | DELETE;  // DELETE for the removal on close
      share = 0;                                       // no reading, writing, renaming or deleting beside us
      disposition = CREATE_NEW;                        // never an existing file, nor where a link stands
      break;
  }
  auto fail = [&](DWORD code) {
    std::string text = SysErrorMessage(code);
    ::SetLastError(code);  // the caller may still ask for it
    if (mode == TFileMode::CreateExclusive || mode == TFileMode::CreateTemporary)
      throw EFCreateError("Cannot create file \"" + path + "\". " + text);
    throw EFOpenError("Cannot open file \"" + path + "\". " + text);
  };
  const std::wstring longPath = win32::LongPath(path);
  HANDLE h = INVALID_HANDLE_VALUE;
  if (mode == TFileMode::CreateTemporary) {
    // Removed by the system when the handle closes, however the process ends.
    h = ::CreateFileW(longPath.c_str(), access, share, nullptr /* default security, not inherited */, disposition,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr /* no template */);
    if (h == INVALID_HANDLE_VALUE) fail(::GetLastError());
  } else if (mode == TFileMode::CreateExclusive) {
    // Most files are new (an extraction's all are): made without asking anything
    // first. Only an existing one needs the check below.
    h = ::CreateFileW(longPath.c_str(), access, share, nullptr /* default security, not inherited */, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr /* no template */);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) fail(::GetLastError());
  }
  if (h == INVALID_HANDLE_VALUE) {
    // Writing to a read-only file is refused by Windows itself; a Wine prefix run by
    // root would let it through (the host's permissions do not stop root), so the
    // attribute is checked here as well.
    if (mode != TFileMode::OpenRead) {
      DWORD attributes = ::GetFileAttributesW(longPath.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
          !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        fail(ERROR_ACCESS_DENIED);
    }
    h = ::CreateFileW(longPath.c_str(), access, share, nullptr /* default security, not inherited */, disposition,
                      FILE_ATTRIBUTE_NORMAL, nullptr /* no template */);
    if (h == INVALID_HANDLE_VALUE) fail(::GetLastError());
  }
  handle_ = reinterpret_cast<intptr_t>(h);
}

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Close() {
  if (handle_ == kNoHandle) return false;
  bool ok = ::CloseHandle(AsHandle(handle_)) != FALSE;
  handle_ = kNoHandle;
  if (attributesAtClose_) ::SetFileAttributesW(win32::LongPath(fileName_).c_str(), closeAttributes_);
  return ok;
}

void TFileStream::SetAttributesAtClose(uint32_t attributes, uint32_t unixMode) {
  attributesAtClose_ = true;
  closeAttributes_ = attributes;
  closeUnixMode_ = unixMode;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (handle_ == kNoHandle) throw EStreamError("Stream read error");
  auto* p = static_cast<char*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    DWORD want = static_cast<DWORD>(std::min(count, kMaxChunk));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), p, want, &got, nullptr /* synchronous */)) {
      DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF) break;
      ::SetLastError(code);
      throw EStreamError("Stream read error");
    }
    if (got == 0) break;  // end of file
    p += got;
    total += got;
    count -= got;
    if (got < want) break;
  }
  return total;
}

void TFileStream::Write(const void* buffer, int64_t count) {
  if (handle_ == kNoHandle) throw EStreamError("Stream write error");
  const auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    DWORD want = static_cast<DWORD>(std::min(count, kMaxChunk));
    DWORD done = 0;
    if (!::WriteFile(AsHandle(handle_), p, want, &done, nullptr)) {
      throw EStreamError("Stream write error");  // LastError keeps the reason
    }
    if (done == 0) throw EStreamError("Stream write error");
    p += done;
    count -= done;
  }
}

void TFileStream::WriteAt(int64_t offset, const void* buffer, int64_t count) {
  if (handle_ == kNoHandle) throw EStreamError("Stream write error");
  const auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    OVERLAPPED at{};  // on a synchronous handle: the offset to write at, nothing more
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD want = static_cast<DWORD>(std::min(count, kMaxChunk));
    DWORD done = 0;
    if (!::WriteFile(AsHandle(handle_), p, want, &done, &at)) throw EStreamError("Stream write error");
    if (done == 0) throw EStreamError("Stream write error");
    p += done;
    offset += done;
    count -= done;
  }
}

bool TFileStream::Flush() { return handle_ != kNoHandle && ::FlushFileBuffers(AsHandle(handle_)) != FALSE; }

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (handle_ == kNoHandle) throw EStreamError("Invalid stream position");
  DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                 : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                    : FILE_END;
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(AsHandle(handle_), distance, &result, method))
    throw EStreamError("Invalid stream position");  // LastError keeps the reason
  return result.QuadPart;
}

void TFileStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  Seek(size, TSeekOrigin::soBeginning);
  // SetEndOfFile cuts or grows the file at the current position.
  if (!::SetEndOfFile(AsHandle(handle_))) {
    DWORD code = ::GetLastError();
    Seek(pos, TSeekOrigin::soBeginning);
    ::SetLastError(code);
    throw EStreamError("Invalid stream size");
  }
  Seek(std::min(pos, size), TSeekOrigin::soBeginning);
}

}  // namespace platform
