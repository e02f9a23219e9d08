// The release statement: what the vendor released, signed. It is served at the
// package's address with ".sig" added to the path, as text whose lines end in LF:
//
//   product: Kestrova
//   version: 5.4.0
//   size: 12345678
//   sha256: <64 lower-case hexadecimal digits of the package>
//   expires: 2027-06-30
//   signature: <Base64 of the signature of every byte before this line>
//
// The signature is what `openssl dgst -sha256 -sign key.pem` writes for those
// bytes (signature.h says which keys). product, version, size and sha256 are
// required, expires is optional (the statement is refused after that day, UTC);
// other lines before the signature are signed too and ignored, so the format
// can grow. Nothing but the line end may follow the signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/signature.h"
#include "platform/stream.h"

namespace net {

class THTTPClient;

// The largest statement taken (a statement with an RSA-4096 signature has some
// 900 bytes).
constexpr int64_t kMaxStatementSize = 16384;
// PackageKey lists at most this many keys, so that a new key can be published
// beside the old ones before they are retired.
constexpr size_t kMaxPackageKeys = 4;

struct TReleaseStatement {
  std::string Product;
  std::string Version;  // dotted decimal numbers, as written
  int64_t Size = 0;
  std::string Sha256;   // 64 lower-case hexadecimal digits
  std::string Expires;  // YYYY-MM-DD; "" when the statement does not expire
};

// The address of a package's statement: ".sig" after the path, before any
// ?query or #fragment ("http://h/p.zip?x#y" gives "http://h/p.zip.sig?x#y").
std::string StatementUrl(const std::string& packageUrl);

// The keys of a PackageKey text: Base64 keys separated by commas, blanks around
// each ignored; an empty text lists none. Raises ESignatureError for more than
// kMaxPackageKeys, an empty item, or a key the program cannot use (the message
// says which of them).
std::vector<std::string> SplitPackageKeys(const std::string& list);

// The text of a statement without its signature line, for the vendor to sign.
std::string StatementBody(const TReleaseStatement& statement);

// A statement taken apart before its signature is checked: the signed lines and
// the signature's bytes. Raises ESignatureError when there is no signature line,
// something follows it, or it is not Base64.
struct TStatementParts {
  std::string Body, Signature;
};
TStatementParts SplitStatement(const std::string& text);
// The fields of the signed lines; raises ESignatureError for a field missing,
// given twice or not of its form, and for lines that end in CR LF.
TReleaseStatement ReadStatementFields(const std::string& body);

// Reads a statement and checks it as the updater does: its signature by one of
// keys (Base64 keys, as SplitPackageKeys gives them), then its fields, then that
// it has not expired on the UTC day of nowUtc (seconds since 1970). Returns its
// fields; raises ESignatureError saying what is wrong (among others for a bare
// signature, which is no statement).
TReleaseStatement ReadStatement(const std::string& text, const std::vector<std::string>& keys, int64_t nowUtc);
// ReadStatement, and the statement must name product (exactly).
TReleaseStatement VerifyStatement(const std::string& text, const std::vector<std::string>& keys,
                                  const std::string& product, int64_t nowUtc);
// The same on today's date.
TReleaseStatement VerifyStatement(const std::string& text, const std::vector<std::string>& keys,
                                  const std::string& product);
// Seconds since 1970, UTC.
int64_t NowUtc();

// Whether text is a version: numbers of decimal digits separated by single dots.
bool IsVersion(const std::string& text);
// Compares two versions number by number (5.10 is above 5.9, 5.4 equals 5.4.0,
// leading zeros do not count): below zero when a is lower, zero when equal,
// above zero when a is higher. Raises ESignatureError when one is not a version.
int CompareVersions(const std::string& a, const std::string& b);

// Days since 1970-01-01 of a YYYY-MM-DD date (proleptic Gregorian); false when the
// text is not such a date.
bool ParseDate(const std::string& text, int64_t& days);

// Raises ESignatureError unless a package of size bytes whose SHA-256 is digest
// (32 bytes) is the one statement describes.
void CheckPackage(const TReleaseStatement& statement, int64_t size, const std::string& digest);
// Reads stream from its start to its end and checks it so; the stream's read
// errors pass through. Memory stays small whatever the size.
void CheckPackageStream(TStream& stream, const TReleaseStatement& statement);

// A stream that hashes what is written through it into dest, so that a package
// is checked as it arrives, without reading it again. Writes must come in order
// (the client's sizing and position queries pass through); a seek elsewhere, or
// a size that would cut what was hashed, raises EStreamError. Cutting it back to
// where hashing began starts the hash again (a download that starts over).
class THashingStream : public TStream {
 public:
  // Hashes from dest's current position on.
  explicit THashingStream(TStream& dest);
  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

  int64_t Written() const { return written_; }
  // The digest of everything written (32 bytes). Call once, after the last write.
  std::string Digest() { return hash_->Finish(); }
  // CheckPackage on what was written.
  void Check(const TReleaseStatement& statement) { CheckPackage(statement, written_, Digest()); }

 private:
  TStream& dest_;
  std::unique_ptr<TSha256> hash_;
  int64_t start_ = 0, written_ = 0;
};

// GETs the statement of packageUrl with client: at most kMaxStatementSize bytes,
// whatever the server announces (nothing beyond that is held in memory).
// Raises ESignatureError for a statement larger than that, cut short, or empty;
// the client's other errors (an error answer, a connection that fails) pass
// through.
std::string FetchStatement(THTTPClient& client, const std::string& packageUrl);

}  // namespace net
