// Shell services: shortcut files, the folder browser, the Internet proxy settings.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wininet.h>

#include <cstring>

#include "platform/shell.h"
#include "platform/system.h"
#include "platform/win32/wide_paths.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::TComInit;
using win32::TComPtr;
using win32::Widen;

namespace {

// An item identifier list the shell allocated for us.
class TPidl {
 public:
  explicit TPidl(LPITEMIDLIST p) : p_(p) {}
  TPidl(const TPidl&) = delete;
  TPidl& operator=(const TPidl&) = delete;
  ~TPidl() {
    if (p_ != nullptr) ::CoTaskMemFree(p_);
  }
  LPITEMIDLIST Get() const { return p_; }

 private:
  LPITEMIDLIST p_;
};

}  // namespace

bool SaveShellLink(const std::string& linkFile, const std::string& target, const std::string& arguments,
                   const std::string& workingFolder) {
  // The program initialises COM on its main thread; a caller elsewhere gets it here.
  TComInit com;
  if (!com.Usable()) return false;
  TComPtr<IShellLinkA> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.PutVoid())))
    return false;
  TComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return false;
  // The object is fresh, so an empty text is left unset rather than stored: some
  // shells (Wine's) would otherwise write an empty string and mark it present.
  if (!arguments.empty() && FAILED(link->SetArguments(arguments.c_str()))) return false;
  if (FAILED(link->SetPath(target.c_str()))) return false;
  if (!workingFolder.empty() && FAILED(link->SetWorkingDirectory(workingFolder.c_str()))) return false;
  std::wstring name = Widen(linkFile);
  if (name.empty()) return false;
  // FALSE: the link object does not take the file as its current one.
  return SUCCEEDED(file->Save(name.c_str(), FALSE));
}

std::string BrowseForFolder(intptr_t ownerWindow, const std::string& title) {
  BROWSEINFOA info{};
  info.hwndOwner = reinterpret_cast<HWND>(ownerWindow);
  info.pidlRoot = nullptr;  // rooted at the desktop
  info.pszDisplayName = nullptr;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;  // only items with a file-system folder behind them
  TPidl chosen(::SHBrowseForFolderA(&info));
  if (chosen.Get() == nullptr) return std::string();  // cancelled
  char path[MAX_PATH];
  if (!::SHGetPathFromIDListA(chosen.Get(), path)) return std::string();
  return path;
}

bool QueryProxySettings(uint32_t& accessType, std::string& proxyList) {
  // INTERNET_PROXY_INFO and the texts it points to, all inside this one block;
  // 4096 bytes is what the settings are allowed to take.
  constexpr DWORD kSize = 4096;
  std::vector<INTERNET_PROXY_INFO> block(kSize / sizeof(INTERNET_PROXY_INFO) + 1);
  auto* start = reinterpret_cast<const char*>(block.data());
  DWORD length = kSize;
  if (!::InternetQueryOptionA(nullptr,  // no session: the process-wide settings
                              INTERNET_OPTION_PROXY, block.data(), &length))
    return false;
  const INTERNET_PROXY_INFO& info = block[0];
  accessType = info.dwAccessType;
  proxyList.clear();
  const char* text = reinterpret_cast<const char*>(info.lpszProxy);
  if (text != nullptr) {
    // The text normally lies inside the block; never read past its end.
    if (text >= start && text < start + kSize)
      proxyList.assign(text, strnlen(text, static_cast<size_t>(start + kSize - text)));
    else
      proxyList = text;
  }
  return true;
}

}  // namespace platform
