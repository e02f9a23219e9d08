// Small services: proxy settings from the environment, GUIDs, ticks, the version
// query, privileges, the folder browser and the code page.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "base/codepage.h"
#include "platform/posix/posix_internal.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace platform {

using namespace posix;

bool QueryProxySettings(uint32_t& accessType, std::string& proxyList) {
  const char* env = std::getenv("http_proxy");
  if (!env || !*env) env = std::getenv("HTTP_PROXY");
  std::string value = env ? env : "";
  size_t b = value.find_first_not_of(" \t");
  size_t e = value.find_last_not_of(" \t");
  value = b == std::string::npos ? std::string() : value.substr(b, e - b + 1);
  // The same "host:port" text the Internet settings give: no scheme, no path and
  // no credentials (a user name in the list would be taken for the host).
  size_t scheme = value.find("://");
  if (scheme != std::string::npos) value.erase(0, scheme + 3);
  size_t slash = value.find('/');
  if (slash != std::string::npos) value.erase(slash);
  size_t at = value.rfind('@');
  if (at != std::string::npos) value.erase(0, at + 1);
  if (value.empty()) {
    accessType = 1;  // INTERNET_OPEN_TYPE_DIRECT
    proxyList.clear();
  } else {
    accessType = 3;  // INTERNET_OPEN_TYPE_PROXY
    proxyList = value;
  }
  return true;
}

std::string NewGuidText() {
  unsigned char b[16];
  bool filled = false;
  int fd = OpenCloexec("/dev/urandom", O_RDONLY);
  if (fd >= 0) {
    filled = read(fd, b, sizeof b) == static_cast<ssize_t>(sizeof b);
    close(fd);
  }
  if (!filled) {
    std::random_device rd;
    for (auto& x : b) x = static_cast<unsigned char>(rd());
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4, RFC 9562
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant 10
  char text[39];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

uint32_t TickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like GetTickCount
}

void SleepMs(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint32_t PlatformId() { return 2; }

// There are no token privileges to adjust; restarting is the system's decision.
uint32_t SetPrivilege(const std::string& name, uint32_t attributes) { return 0; }

// The console front end asks for the folder itself.
std::string BrowseForFolder(intptr_t ownerWindow, const std::string& title) { return std::string(); }

bool EmulatedMachine() { return true; }

bool UnicodeToAnsi(const std::u32string& unicode, std::string& ansi) {
  return codepage::UnicodeToCp1252(unicode, ansi);
}

}  // namespace platform
