#include "net/statement.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "net/base64.h"
#include "net/http_client.h"
#include "net/net_errors.h"
#include "net/uri.h"

namespace net {
namespace {

const char kSignatureField[] = "signature:";

// The numbers of a version, without their leading zeros.
std::vector<std::string> VersionNumbers(const std::string& version) {
  if (!IsVersion(version)) throw ESignatureError("'" + version + "' is not a version (numbers separated by dots).");
  std::vector<std::string> numbers;
  size_t from = 0;
  for (;;) {
    const size_t dot = version.find('.', from);
    std::string n = version.substr(from, dot == std::string::npos ? std::string::npos : dot - from);
    n.erase(0, std::min(n.find_first_not_of('0'), n.size() - 1));
    numbers.push_back(n);
    if (dot == std::string::npos) return numbers;
    from = dot + 1;
  }
}

// Compares two numbers written without leading zeros, of any length.
int CompareNumbers(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

// The statement's fields, set once each.
struct TFields {
  TReleaseStatement s;
  bool product = false, version = false, size = false, sha256 = false, expires = false;
};

void Take(TFields& f, const std::string& name, const std::string& value) {
  auto once = [&name](bool& seen) {
    if (seen) throw ESignatureError("The release statement gives its " + name + " twice.");
    seen = true;
  };
  if (name == "product") {
    once(f.product);
    f.s.Product = value;
  } else if (name == "version") {
    once(f.version);
    if (!IsVersion(value))
      throw ESignatureError("The release statement's version '" + ServerText(value) +
                            "' is not numbers separated by dots.");
    f.s.Version = value;
  } else if (name == "size") {
    once(f.size);
    if (!text::TryDigitsToInt64(value, f.s.Size))
      throw ESignatureError("The release statement's size '" + ServerText(value) + "' is not a number of bytes.");
  } else if (name == "sha256") {
    once(f.sha256);
    bool hex = value.size() == 64;
    for (char c : value) hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    if (!hex)
      throw ESignatureError("The release statement's sha256 '" + ServerText(value) +
                            "' is not 64 lower-case hexadecimal digits.");
    f.s.Sha256 = value;
  } else if (name == "expires") {
    once(f.expires);
    int64_t days;
    if (!ParseDate(value, days))
      throw ESignatureError("The release statement's expiry '" + ServerText(value) + "' is not a date (YYYY-MM-DD).");
    f.s.Expires = value;
  }
  // Other names: the format's later growth, signed and ignored.
}

}  // namespace

TReleaseStatement ReadStatementFields(const std::string& body) {
  if (body.find('\r') != std::string::npos)
    throw ESignatureError("The release statement's lines end in CR LF; they must end in LF alone.");
  TFields f;
  size_t from = 0;
  while (from < body.size()) {
    const size_t lf = std::min(body.find('\n', from), body.size());
    const std::string line = body.substr(from, lf - from);
    from = lf + 1;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    Take(f, line.substr(0, colon), text::Trim(line.substr(colon + 1)));
  }
  for (auto [seen, name] : {std::pair{f.product, "product"}, std::pair{f.version, "version"}, std::pair{f.size, "size"},
                            std::pair{f.sha256, "sha256"}})
    if (!seen) throw ESignatureError(std::string("The release statement gives no ") + name + ".");
  return f.s;
}

std::string StatementUrl(const std::string& packageUrl) {
  const size_t end = packageUrl.find_first_of("?#");
  if (end == std::string::npos) return packageUrl + ".sig";
  return packageUrl.substr(0, end) + ".sig" + packageUrl.substr(end);
}

std::vector<std::string> SplitPackageKeys(const std::string& list) {
  std::vector<std::string> keys;
  if (text::Trim(list).empty()) return keys;
  size_t from = 0;
  for (;;) {
    const size_t comma = list.find(',', from);
    keys.push_back(text::Trim(list.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (keys.size() > kMaxPackageKeys)
    throw ESignatureError("PackageKey lists " + std::to_string(keys.size()) + " keys; at most " +
                          std::to_string(kMaxPackageKeys) + " are accepted.");
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string which = keys.size() == 1 ? "" : "Key " + std::to_string(i + 1) + " of PackageKey: ";
    if (keys[i].empty()) throw ESignatureError(which + "empty (two commas, or a comma at an end).");
    try {
      CheckPublicKey(keys[i]);
    } catch (const ESignatureError& e) {
      throw ESignatureError(which + e.Message);
    }
  }
  return keys;
}

std::string StatementBody(const TReleaseStatement& s) {
  std::string body = "product: " + s.Product + "\nversion: " + s.Version + "\nsize: " + std::to_string(s.Size) +
                     "\nsha256: " + s.Sha256 + "\n";
  if (!s.Expires.empty()) body += "expires: " + s.Expires + "\n";
  return body;
}

TStatementParts SplitStatement(const std::string& text) {
  // The signature line begins the text or follows a line end.
  size_t at = text.compare(0, sizeof kSignatureField - 1, kSignatureField) == 0 ? 0 : std::string::npos;
  if (at == std::string::npos) {
    at = text.find(std::string("\n") + kSignatureField);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos)
    throw ESignatureError(
        "The release statement has no signature line; a bare signature of the package is not a release "
        "statement.");
  const std::string body = text.substr(0, at);
  std::string line = text.substr(at + sizeof kSignatureField - 1);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (line.find('\n') != std::string::npos)
    throw ESignatureError("The release statement goes on after its signature line.");
  TStatementParts parts;
  parts.Body = body;
  if (!Base64Decode(line, parts.Signature) || parts.Signature.empty())
    throw ESignatureError("The release statement's signature is not Base64.");
  return parts;
}

TReleaseStatement ReadStatement(const std::string& text, const std::vector<std::string>& keys, int64_t nowUtc) {
  const TStatementParts parts = SplitStatement(text);
  const std::string& body = parts.Body;
  const std::string& signature = parts.Signature;
  if (keys.empty()) throw ESignatureError("No package key to check the release statement with.");

  bool verified = false;
  for (const std::string& key : keys)
    if (!verified) verified = VerifySignature(body, signature, key);
  if (!verified)
    throw ESignatureError(std::string("The release statement is not signed by ") +
                          (keys.size() == 1 ? "the package key" : "any of the package keys") +
                          " (another key, or changed after signing).");

  TReleaseStatement s = ReadStatementFields(body);
  int64_t expires;
  // Floor division: a time before 1970 is a day before 0.
  const int64_t today = nowUtc >= 0 ? nowUtc / 86400 : -((-nowUtc + 86399) / 86400);
  if (!s.Expires.empty() && ParseDate(s.Expires, expires) && today > expires)
    throw ESignatureError("The release statement expired on " + s.Expires + ".");
  return s;
}

TReleaseStatement VerifyStatement(const std::string& text, const std::vector<std::string>& keys,
                                  const std::string& product, int64_t nowUtc) {
  try {
    TReleaseStatement s = ReadStatement(text, keys, nowUtc);
    if (s.Product != product)
      throw ESignatureError("The release statement is for the product '" + ServerText(s.Product) + "', not for '" +
                            product + "'.");
    logging::Log("Release statement accepted: " + ServerText(s.Product) + " " + s.Version + ", " +
                 std::to_string(s.Size) + " bytes, SHA-256 " + s.Sha256 +
                 (s.Expires.empty() ? "" : ", expires " + s.Expires));
    return s;
  } catch (const ESignatureError& e) {
    logging::Log("Release statement refused: " + e.Message);
    throw;
  }
}

TReleaseStatement VerifyStatement(const std::string& text, const std::vector<std::string>& keys,
                                  const std::string& product) {
  return VerifyStatement(text, keys, product, NowUtc());
}

int64_t NowUtc() { return static_cast<int64_t>(std::time(nullptr)); }

bool IsVersion(const std::string& text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' ? text[i - 1] == '.' : (c < '0' || c > '9')) return false;
  }
  return true;
}

int CompareVersions(const std::string& a, const std::string& b) {
  const std::vector<std::string> x = VersionNumbers(a), y = VersionNumbers(b);
  for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    const int c = CompareNumbers(i < x.size() ? x[i] : "0", i < y.size() ? y[i] : "0");
    if (c != 0) return c;
  }
  return 0;
}

bool ParseDate(const std::string& text, int64_t& days) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  const std::string y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
  if (!text::AllDigits(y) || !text::AllDigits(m) || !text::AllDigits(d)) return false;
  const int64_t year = std::stoi(y);
  const int month = std::stoi(m), day = std::stoi(d);
  if (year < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > lengths[month - 1]) return false;
  // The count of days from the civil date (H. Hinnant's algorithm), years
  // starting in March so that the leap day comes last.
  const int64_t yy = month <= 2 ? year - 1 : year;
  const int64_t era = yy / 400;  // years from 0000 on, never negative here
  const int64_t yearOfEra = yy - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  days = era * 146097 + dayOfEra - 719468;
  return true;
}

void CheckPackage(const TReleaseStatement& statement, int64_t size, const std::string& digest) {
  std::string problem;
  if (size != statement.Size)
    problem = "The package has " + std::to_string(size) + " bytes; its release statement says " +
              std::to_string(statement.Size) + ".";
  else if (TSha256::Hex(digest) != statement.Sha256)
    problem = "The package's SHA-256 is not the one its release statement gives (another file, or changed on its way).";
  logging::Log(problem.empty()
                   ? "The package is the one its release statement describes (SHA-256 " + TSha256::Hex(digest) + ")"
                   : "Package refused: " + problem);
  if (!problem.empty()) throw ESignatureError(problem);
}

void CheckPackageStream(TStream& stream, const TReleaseStatement& statement) {
  TSha256 hash;
  std::vector<char> buffer(1 << 16);
  int64_t size = 0;
  stream.SetPosition(0);
  for (int64_t got; (got = stream.Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0; size += got)
    hash.Update(buffer.data(), static_cast<size_t>(got));
  CheckPackage(statement, size, hash.Finish());
}

THashingStream::THashingStream(TStream& dest)
    : dest_(dest), hash_(std::make_unique<TSha256>()), start_(dest.Position()) {}

int64_t THashingStream::Read(void*, int64_t) { throw EStreamError("A package being hashed is not read back."); }

void THashingStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return;
  dest_.Write(buffer, count);
  hash_->Update(buffer, static_cast<size_t>(count));
  written_ += count;
}

int64_t THashingStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t here = start_ + written_;
  const int64_t target = origin == TSeekOrigin::soBeginning ? offset
                         : origin == TSeekOrigin::soCurrent ? here + offset
                                                            : std::max(dest_.Size(), here) + offset;
  if (target != here) throw EStreamError("A package being hashed is written in order.");
  return dest_.Seek(here, TSeekOrigin::soBeginning);
}

void THashingStream::SetSize(int64_t size) {
  if (size == start_ && written_ > 0) {
    dest_.SetSize(size);
    dest_.Seek(start_, TSeekOrigin::soBeginning);
    hash_ = std::make_unique<TSha256>();
    written_ = 0;
    return;
  }
  if (size < start_ + written_) throw EStreamError("A package being hashed cannot be cut.");
  dest_.SetSize(size);
}

std::string FetchStatement(THTTPClient& client, const std::string& packageUrl) {
  const std::string url = StatementUrl(packageUrl);
  TGetOptions request;
  request.MaxBodySize = kMaxStatementSize;
  TMemoryStream body;
  TGetResult got;
  try {
    got = client.Get(url, body, request);
  } catch (const EBodySizeError&) {
    throw ESignatureError("The release statement " + LoggableUrl(url) + " is larger than " +
                          std::to_string(kMaxStatementSize) + " bytes.");
  }
  // A cut statement would only fail later with a less telling message.
  if (!got.Complete) throw ESignatureError("The release statement " + LoggableUrl(url) + " arrived incomplete.");
  if (body.Data().empty()) throw ESignatureError("The release statement " + LoggableUrl(url) + " is empty.");
  return body.Data();
}

}  // namespace net
