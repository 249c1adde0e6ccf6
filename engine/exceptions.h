// The engine's error classes. Every failure is an exception carrying a message.
#pragma once

#include <stdexcept>
#include <string>

namespace norvale {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

class EDbfError : public Exception {
 public:
  using Exception::Exception;
};

class EDbfWriteError : public EDbfError {
 public:
  using EDbfError::EDbfError;
};

// Text that should have been a number ("'%s' is not a valid integer value").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// printf-style formatting of the message templates in messages.h.
std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace norvale
