// The root of every error the program raises. Code that "catches the ordinary
// errors" catches Exception&; anything else reaches the worker's catch-all.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  std::string Message;
};

// An operating-system call failed; Message carries context and the system's text.
class EOSError : public Exception {
 public:
  EOSError(std::string message, unsigned long code) : Exception(std::move(message)), ErrorCode(code) {}
  unsigned long ErrorCode;
};

// File input/output failed (a folder that cannot be made current, a file that
// cannot be read).
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int code) : Exception(std::move(message)), ErrorCode(code) {}
  int ErrorCode;
};

// A file stream could not be created or opened.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

// Reading or writing an open stream failed.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
