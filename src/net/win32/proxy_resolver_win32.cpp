// The proxy for an address as WinHTTP resolves it. winhttp.dll is loaded when
// first needed, so the program still starts on a system without it (it then
// reads the Internet settings' fixed proxy). WinHTTP gives a configuration
// script's first proxy, and on some systems no more: where jsproxy.dll can run
// the same script, its whole answer supplies the proxies to fall back on.
#include <windows.h>
#include <winhttp.h>

#include <mutex>

#include "base/text.h"
#include "net/http_client.h"
#include "net/proxy_resolver.h"
#include "net/uri.h"
#include "platform/system.h"

namespace net {
namespace {

using GetIEProxyConfigFn = BOOL(WINAPI*)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);
using OpenFn = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using SetTimeoutsFn = BOOL(WINAPI*)(HINTERNET, int, int, int, int);
using GetProxyForUrlFn = BOOL(WINAPI*)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*);
using CloseHandleFn = BOOL(WINAPI*)(HINTERNET);

// jsproxy.dll's interface (the script as text, the answer as the script gives it).
struct TAutoProxyScriptBuffer {
  DWORD dwStructSize;
  LPSTR lpszScriptBuffer;
  DWORD dwScriptBufferSize;
};
using InitAutoProxyFn = BOOL(WINAPI*)(DWORD, LPSTR, LPSTR, void*, TAutoProxyScriptBuffer*);
using GetProxyInfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, LPSTR, DWORD, LPSTR*, LPDWORD);
using DeInitAutoProxyFn = BOOL(WINAPI*)(LPSTR, DWORD);

// The most of a configuration script we fetch for jsproxy.
constexpr int64_t kMaxScriptSize = 1024 * 1024;
// Each stage of WinHTTP's own fetch of a script, and of ours.
constexpr int kScriptTimeoutMs = 10000;

const char* const kInternetSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::wstring Wide(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// A text WinHTTP allocated, as ANSI; the allocation is freed.
std::string TakeText(LPWSTR w) {
  if (w == nullptr) return std::string();
  std::string s;
  const int n = ::WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n > 1) {
    s.resize(static_cast<size_t>(n - 1));
    ::WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
  }
  ::GlobalFree(w);
  return s;
}

template <class F>
F Function(HMODULE module, const char* name) {
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

std::string RegistryText(const char* name) {
  HKEY key;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  char value[2048];
  DWORD size = sizeof value - 1, type = 0;
  std::string s;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    value[size] = '\0';
    s = value;
  }
  ::RegCloseKey(key);
  return s;
}

std::string WinHttpErrorText(DWORD code) {
  const std::string number = "WinHTTP error " + std::to_string(code);
  switch (code) {
    case ERROR_WINHTTP_AUTODETECTION_FAILED: return "nothing found, " + number;
    case ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT: return "the script cannot be fetched, " + number;
    case ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT: return "the script fails, " + number;
    case ERROR_WINHTTP_TIMEOUT: return "no answer in time, " + number;
    default: return number;
  }
}

// jsproxy keeps one script for the whole process.
std::mutex& ScriptLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

struct TProxyResolver::Impl {
  ~Impl() {
    if (session) closeHandle(session);
    if (scriptLoaded) {
      std::lock_guard<std::mutex> guard(ScriptLock());
      Function<DeInitAutoProxyFn>(jsproxy, "InternetDeInitializeAutoProxyDll")(nullptr, 0);
    }
    if (jsproxy) ::FreeLibrary(jsproxy);
    if (winhttp) ::FreeLibrary(winhttp);
  }

  void Load();
  // WinHTTP's answer by automatic detection (script empty) or by a script; false
  // with why when there is none.
  bool AutoProxy(const std::string& url, const std::string& script, TProxyPlan& plan, std::string& why);
  // The whole answer of the user's script for url, by jsproxy; empty when it
  // cannot be had.
  std::vector<TProxyServer> ScriptAnswer(const std::string& url);

  bool loaded = false;
  HMODULE winhttp = nullptr;
  GetProxyForUrlFn getProxyForUrl = nullptr;
  CloseHandleFn closeHandle = nullptr;
  HINTERNET session = nullptr;
  // The user's settings.
  bool autoDetect = false;
  std::string scriptUrl, proxy, bypass;
  // jsproxy and the script it holds.
  HMODULE jsproxy = nullptr;
  bool scriptTried = false, scriptLoaded = false;
  // Why automatic detection or the script gave nothing, once they have failed;
  // why the settings are not known.
  std::string detectFailed, scriptFailed, unreadable;
};

void TProxyResolver::Impl::Load() {
  if (loaded) return;
  loaded = true;
  winhttp = ::LoadLibraryA("winhttp.dll");
  auto getConfig = Function<GetIEProxyConfigFn>(winhttp, "WinHttpGetIEProxyConfigForCurrentUser");
  auto open = Function<OpenFn>(winhttp, "WinHttpOpen");
  auto setTimeouts = Function<SetTimeoutsFn>(winhttp, "WinHttpSetTimeouts");
  getProxyForUrl = Function<GetProxyForUrlFn>(winhttp, "WinHttpGetProxyForUrl");
  closeHandle = Function<CloseHandleFn>(winhttp, "WinHttpCloseHandle");
  if (!getConfig || !open || !setTimeouts || !getProxyForUrl || !closeHandle) {
    if (winhttp) ::FreeLibrary(winhttp);
    winhttp = nullptr;
    return;
  }
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (getConfig(&config)) {
    autoDetect = config.fAutoDetect != FALSE;
    scriptUrl = TakeText(config.lpszAutoConfigUrl);
    proxy = TakeText(config.lpszProxy);
    bypass = TakeText(config.lpszProxyBypass);
  } else {
    unreadable = "the user's settings cannot be read (error " + std::to_string(::GetLastError()) + ")";
  }
  // The session only resolves; it never connects through a proxy itself.
  session = open(L"ORBAX Live Update", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session) setTimeouts(session, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs);
}

bool TProxyResolver::Impl::AutoProxy(const std::string& url, const std::string& script, TProxyPlan& plan,
                                     std::string& why) {
  const std::string source = script.empty() ? "automatic detection" : "configuration script " + script;
  if (!session) {
    why = source + ": no WinHTTP session";
    return false;
  }
  const std::wstring wideScript = Wide(script), wideUrl = Wide(url);
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (script.empty()) {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = wideScript.c_str();
  }
  // A script server that asks who we are is answered with the user's logon.
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  if (!getProxyForUrl(session, wideUrl.c_str(), &options, &info)) {
    why = source + " failed (" + WinHttpErrorText(::GetLastError()) + ")";
    return false;
  }
  const std::string list = TakeText(info.lpszProxy), scriptBypass = TakeText(info.lpszProxyBypass);
  plan = TProxyPlan();
  plan.Reason = source;
  std::string entry;
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || list.empty()) {
    plan.Servers.emplace_back();
  } else if (BypassListMatches(scriptBypass, url, entry)) {
    plan.Servers.emplace_back();
    plan.Reason += ", bypass list (" + entry + ")";
  } else {
    plan.Servers = ParseScriptResult(list);
    if (plan.Servers.empty()) {
      why = source + ": a proxy list that cannot be read (" + list + ")";
      return false;
    }
    if (!script.empty()) {
      // Only an answer that begins as WinHTTP's own can add to it.
      const std::vector<TProxyServer> whole = ScriptAnswer(url);
      if (whole.size() > plan.Servers.size() && whole.front() == plan.Servers.front()) {
        plan.Servers = whole;
        plan.Reason += ", all its choices by jsproxy";
      }
    }
  }
  return true;
}

std::vector<TProxyServer> TProxyResolver::Impl::ScriptAnswer(const std::string& url) {
  std::lock_guard<std::mutex> guard(ScriptLock());
  if (!scriptTried) {
    scriptTried = true;
    jsproxy = ::LoadLibraryA("jsproxy.dll");
    auto init = Function<InitAutoProxyFn>(jsproxy, "InternetInitializeAutoProxyDll");
    if (!init || !Function<GetProxyInfoFn>(jsproxy, "InternetGetProxyInfo") ||
        !Function<DeInitAutoProxyFn>(jsproxy, "InternetDeInitializeAutoProxyDll"))
      return {};
    std::string text;
    try {
      THTTPClient client;
      client.ReadTimeout = kScriptTimeoutMs;
      TGetOptions request;
      request.MaxBodySize = kMaxScriptSize;
      TMemoryStream body;
      client.Get(scriptUrl, body, request);
      text = body.Data();
    } catch (const Exception&) {
      return {};
    }
    TAutoProxyScriptBuffer buffer{sizeof(TAutoProxyScriptBuffer), text.data(), static_cast<DWORD>(text.size() + 1)};
    scriptLoaded = !text.empty() && init(0, nullptr, nullptr, nullptr, &buffer);
  }
  if (!scriptLoaded) return {};
  const std::string host = TURI::Parse(url).Host;
  LPSTR answer = nullptr;
  DWORD length = 0;
  if (!Function<GetProxyInfoFn>(jsproxy, "InternetGetProxyInfo")(url.c_str(), static_cast<DWORD>(url.size()),
                                                                 const_cast<char*>(host.c_str()),
                                                                 static_cast<DWORD>(host.size()), &answer, &length) ||
      answer == nullptr)
    return {};
  const std::string result = answer;
  ::GlobalFree(answer);
  return ParseScriptResult(result);
}

TProxyResolver::TProxyResolver() : impl_(std::make_unique<Impl>()) {}
TProxyResolver::~TProxyResolver() = default;

TProxyPlan TProxyResolver::Resolve(const std::string& url) {
  Impl& i = *impl_;
  i.Load();
  if (!i.winhttp) {
    uint32_t access = 0;
    std::string list;
    if (!platform::QueryProxySettings(access, list) || access != 3) list.clear();  // 3: a named proxy
    return FixedProxyPlan(url, list, RegistryText("ProxyOverride"), "Internet settings (winhttp.dll is not available)");
  }
  // Automatic detection first, then the script, as the system's own settings
  // dialog describes them; one that failed is not tried again in this run.
  std::string failures;
  TProxyPlan plan;
  for (const bool detect : {true, false}) {
    const std::string script = detect ? std::string() : i.scriptUrl;
    if (detect ? !i.autoDetect : script.empty()) continue;
    std::string& failed = detect ? i.detectFailed : i.scriptFailed;
    if (failed.empty() && i.AutoProxy(url, script, plan, failed)) {
      if (!failures.empty()) plan.Reason += "; " + failures;
      return plan;
    }
    failures += (failures.empty() ? "" : "; ") + failed;
  }
  const std::string note = failures.empty() ? "" : "; " + failures;
  if (text::Trim(i.proxy).empty()) {
    plan = TProxyPlan();
    plan.Servers.emplace_back();
    plan.Reason = (i.unreadable.empty() ? "the user's settings name no proxy" : i.unreadable) + note;
    return plan;
  }
  plan = FixedProxyPlan(url, i.proxy, i.bypass, "fixed proxy of the user's settings");
  plan.Reason += note;
  return plan;
}

}  // namespace net
