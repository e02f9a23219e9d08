#include "platform/win32/wide_paths.h"

#include <windows.h>

namespace platform::win32 {

namespace {

UINT FileCodePage() { return ::AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const UINT codePage = FileCodePage();
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const UINT codePage = FileCodePage();
  // What the code page lacks becomes its default character, as the ANSI functions
  // return such names.
  const int n =
      ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::wstring LongPath(const std::string& path) {
  const std::wstring wide = Widen(path);
  if (wide.empty() || StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) return wide;
  // The system's own normalisation, which has no length limit in its wide form.
  const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr /* no file part wanted */);
  if (need == 0) return std::wstring();
  std::wstring full(need, L'\0');
  const DWORD n = ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
  if (n == 0 || n >= need) return std::wstring();
  full.resize(n);
  // A device name ("C:\dir\CON" is the console) comes back in the device form.
  if (StartsWith(full, L"\\\\.\\") || StartsWith(full, L"\\\\?\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace platform::win32
