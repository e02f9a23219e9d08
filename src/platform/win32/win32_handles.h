// Owners for the system's handles: each closes what it holds exactly once, on
// every path. Non-copyable (a copy would close twice), movable.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace platform::win32 {

// A kernel object handle (file, process, thread, token). Both "no handle"
// values the API uses, NULL and INVALID_HANDLE_VALUE, count as empty.
class THandle {
 public:
  THandle() = default;
  explicit THandle(HANDLE h) : h_(h) {}
  THandle(THandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  THandle& operator=(THandle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() { Reset(); }

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  // Closes now; false when the system refused (or there was nothing to close).
  bool Reset() {
    bool ok = false;
    if (Valid()) ok = ::CloseHandle(h_) != FALSE;
    h_ = nullptr;
    return ok;
  }
  // For out-parameters of the API: closes what is held and hands out the slot.
  HANDLE* Put() {
    Reset();
    return &h_;
  }

 private:
  HANDLE h_ = nullptr;
};

// A search of FindFirstFileW, ended with FindClose.
class TFindHandle {
 public:
  explicit TFindHandle(HANDLE h) : h_(h) {}
  TFindHandle(TFindHandle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  TFindHandle& operator=(TFindHandle&&) = delete;
  TFindHandle(const TFindHandle&) = delete;
  TFindHandle& operator=(const TFindHandle&) = delete;
  ~TFindHandle() {
    if (Valid()) ::FindClose(h_);
  }
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// A registry key that we opened (RegOpenKeyExA/RegCreateKeyExA hand out a handle
// of their own even for an empty sub-key path, so closing it is always right).
class TRegHandle {
 public:
  TRegHandle() = default;
  explicit TRegHandle(HKEY h) : h_(h) {}
  TRegHandle(TRegHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  TRegHandle& operator=(TRegHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  TRegHandle(const TRegHandle&) = delete;
  TRegHandle& operator=(const TRegHandle&) = delete;
  ~TRegHandle() { Reset(); }

  HKEY Get() const { return h_; }
  bool Valid() const { return h_ != nullptr; }
  void Reset() {
    if (h_ != nullptr) ::RegCloseKey(h_);
    h_ = nullptr;
  }
  HKEY* Put() {
    Reset();
    return &h_;
  }

 private:
  HKEY h_ = nullptr;
};

// A COM interface pointer; Release()d once when dropped.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  TComPtr& operator=(TComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  ~TComPtr() { Reset(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }
  // For CoCreateInstance / QueryInterface.
  void** PutVoid() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

// COM for the calling thread for as long as this lives. Every successful
// CoInitialize (S_OK, and S_FALSE when it was already initialised) is balanced;
// a thread already in the multi-threaded apartment (RPC_E_CHANGED_MODE) can use
// COM as it is and is left alone.
class TComInit {
 public:
  TComInit() : hr_(::CoInitialize(nullptr)) {}
  TComInit(const TComInit&) = delete;
  TComInit& operator=(const TComInit&) = delete;
  ~TComInit() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// Critical-error boxes ("There is no disk in the drive") suppressed while this
// lives, so that a folder or drive probe fails quietly instead of waiting for a
// user. The previous mode is restored afterwards.
class TQuietErrorMode {
 public:
  TQuietErrorMode() : old_(::SetErrorMode(SEM_FAILCRITICALERRORS)) { ::SetErrorMode(old_ | SEM_FAILCRITICALERRORS); }
  TQuietErrorMode(const TQuietErrorMode&) = delete;
  TQuietErrorMode& operator=(const TQuietErrorMode&) = delete;
  ~TQuietErrorMode() { ::SetErrorMode(old_); }

 private:
  UINT old_;
};

}  // namespace platform::win32
