// The errors of the network layer. Every one derives from Exception, so a step
// that catches the ordinary errors sees them all; the message texts are the ones
// the user reads after "download failed".
#pragma once

#include <cstdint>
#include <string>

#include "base/exception.h"

// A socket call failed. Numbers are Winsock's on both targets (the Linux port maps
// errno), so the user reads the same text everywhere.
class ESocketError : public Exception {
 public:
  explicit ESocketError(int32_t code);
  int32_t LastError;
};

// The text for a Winsock error number; "" for numbers without one.
std::string SocketErrorText(int32_t code);

// The peer closed the connection where more was required (a status line, a chunk
// header).
class EConnClosedGracefully : public Exception {
 public:
  EConnClosedGracefully() : Exception("Connection Closed Gracefully.") {}
};

// A status, header or chunk line longer than the client's MaxLineLength.
class EReadLnMaxLineLengthExceeded : public Exception {
 public:
  EReadLnMaxLineLengthExceeded() : Exception("Max line length exceeded.") {}
};

// Nothing arrived within the read time limit.
class EReadTimeout : public Exception {
 public:
  EReadTimeout() : Exception("Read Timeout") {}
};

// The connection is gone when a body should be read; the base of the client's
// other protocol errors.
class ENetException : public Exception {
 public:
  ENetException() : Exception("Undefined situation") {}
  explicit ENetException(std::string message) : Exception(std::move(message)) {}
};

// The address cannot be used as given.
class EURIException : public Exception {
 public:
  explicit EURIException(std::string message = "Host field is empty") : Exception(std::move(message)) {}
};

// A scheme other than http or https without a port.
class EUnknownProtocol : public Exception {
 public:
  EUnknownProtocol() : Exception("") {}
};

// The answer's status was not 2xx, or it redirected. Message is the status line as
// received; ErrorMessage is the body of the refused answer.
// Text a server sent (a status line, a chunk line, a header value) as a
// report, a box or the log may show it: without control characters, and cut to
// a few hundred characters, so that it can neither break a log line nor fill a
// box with a text of its own.
std::string ServerText(const std::string& text);

class EHTTPProtocolException : public Exception {
 public:
  EHTTPProtocolException(const std::string& statusLine, int32_t code, std::string body)
      : Exception(ServerText(statusLine)), ReplyErrorCode(code), ErrorMessage(std::move(body)) {}
  int32_t ReplyErrorCode;
  std::string ErrorMessage;
};

// The answer breaks the framing rules in a way that cannot be read safely
// (a negative or oversized length, conflicting lengths, too many header lines).
class EHTTPInvalidResponse : public ENetException {
 public:
  explicit EHTTPInvalidResponse(std::string message) : ENetException(std::move(message)) {}
};

// The transfer was stopped from another thread (THTTPClient::Abort).
class ETransferAborted : public ENetException {
 public:
  ETransferAborted() : ENetException("Transfer aborted.") {}
};

// A secure connection could not be made or kept: the handshake failed, the
// server's certificate was refused (the message says why), or the protection of
// the data broke.
class ETlsError : public ENetException {
 public:
  explicit ETlsError(std::string message) : ENetException(std::move(message)) {}
};

// The transfer fell below the slowest rate the client waits for.
class ETransferTooSlow : public ENetException {
 public:
  ETransferTooSlow(int64_t minBytesPerSecond, int64_t windowMs);
};

// Nothing arrived for the transfer's stall limit.
class ETransferStalled : public ENetException {
 public:
  explicit ETransferStalled(int64_t stallMs);
};

// A body larger than the caller accepts (announced or sent), or not of the size
// the caller expects.
class EBodySizeError : public ENetException {
 public:
  explicit EBodySizeError(std::string message) : ENetException(std::move(message)) {}
};
