#pragma once
// The errors the game raises. Every event handler of the main form catches
// them and shows the message in a message box; the program then goes on.
#include <stdexcept>
#include <string>
#include <utility>

class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Archive stream errors ("Invalid stream format", "Stream read error", ...).
// clang-format off
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
// clang-format on
// A file that cannot be opened; Reason is the system's word for why.
class EFOpenError : public EStreamError {
public:
  EFOpenError(const std::string& message, std::string reason = {}) : EStreamError(message), Reason(std::move(reason)) {}
  std::string Reason;
};
// clang-format off
class EPropertyError : public Exception { using Exception::Exception; };
class EInvalidGraphic : public Exception { using Exception::Exception; };
// Lookups by name, list indices, drawing-component set-up.
class EListError : public Exception { using Exception::Exception; };
// Files that cannot be written (Config.cfg).
class EInOutError : public Exception { using Exception::Exception; };
// clang-format on

// printf-style formatting for the message texts.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
