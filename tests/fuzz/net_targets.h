// Fuzz entry points for what the updater reads from a server besides the answer's
// framing: the release statement before its signature is checked, a proxy's
// authentication challenges, and the Content-Range and Retry-After values.
//
// What must hold whatever the bytes: no memory fault, every failure is one of the
// program's exceptions, and what is accepted has the form the callers rely on
// (a statement's version is a version, its digest 64 hexadecimal digits; a
// range's numbers are not negative; a wait is -1 or at least 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/exception.h"
#include "fuzz/decoder_targets.h"
#include "net/http_response.h"
#include "net/input_buffer.h"
#include "net/proxy_auth.h"
#include "net/resuming_download.h"
#include "net/statement.h"
#include "support/memory_source.h"

namespace fuzz {

inline int RunStatement(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const net::TStatementParts parts = net::SplitStatement(text);
    Check(!parts.Signature.empty(), "an empty signature taken");
    Check(parts.Body.size() < text.size(), "the signed lines are the whole text");
  } catch (const Exception&) {
  }
  try {
    const net::TReleaseStatement s = net::ReadStatementFields(text);
    Check(net::IsVersion(s.Version), "a version that is no version");
    Check(s.Sha256.size() == 64, "a digest of another length");
    Check(s.Size >= 0, "a negative size");
    int64_t days;
    Check(s.Expires.empty() || net::ParseDate(s.Expires, days), "an expiry that is no date");
  } catch (const Exception&) {
  }
  return 0;
}

// Lines are the Proxy-Authenticate values of one answer, then of the next.
inline int RunProxyChallenges(const uint8_t* data, std::size_t size) {
  std::vector<std::vector<std::string>> answers(1);
  std::string line;
  for (std::size_t i = 0; i <= size; ++i) {
    const char c = i < size ? static_cast<char>(data[i]) : '\n';
    if (c == '\n') {
      answers.back().push_back(line);
      line.clear();
    } else if (c == '\f') {
      answers.emplace_back();
    } else {
      line += c;
    }
  }
  net::TProxyAuthenticator auth;
  auth.Credentials = [](const std::string&, int attempt, std::string& user, std::string& password) {
    user.assign(1, 'u');  // not = "u": GCC 12 warns falsely of overlapping copies
    password.assign(1, 'p');
    return attempt < 3;
  };
  try {
    for (const auto& values : answers) {
      for (const net::TAuthChallenge& c : net::ParseChallenges(values))
        Check(!c.Scheme.empty() && c.Scheme.find_first_of(" \t") == std::string::npos, "a scheme with blanks");
      auth.Respond(values, "proxy", true);
    }
  } catch (const Exception&) {
  }
  return 0;
}

// Byte 0 chooses: even, a Content-Range value in an answer's head; odd, a
// Retry-After value and, after a line end, the answer's Date.
inline int RunHeaderValues(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string value(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) == 0) {
    net::TMemorySource source("HTTP/1.1 206 Partial\r\nContent-Range: " + value + "\r\n\r\n", SIZE_MAX);
    net::TInputBuffer in(source, 4096);
    net::THTTPResponse r;
    try {
      net::ReadResponseHead(in, r, 16384);
    } catch (const Exception&) {
    }
    return 0;
  }
  const std::size_t lf = value.find('\n');
  const std::string retryAfter = value.substr(0, lf);
  const std::string date = lf == std::string::npos ? "" : value.substr(lf + 1);
  const int64_t ms = net::RetryAfterMs(retryAfter, date, 1700000000);
  Check(ms >= -1, "a wait below -1");
  int64_t seconds;
  net::ParseHttpDate(retryAfter, seconds);
  return 0;
}

}  // namespace fuzz
