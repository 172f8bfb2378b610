#pragma once
// Exceptions that the system raises carry the class name that logs print
// ("<ClassName> error raised, with message : <message>").
#include <stdexcept>
#include <string>

namespace kelvane {

class EKelvaneError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual const char* ClassName() const { return "Exception"; }
};

// A file the platform refuses to create, read or write.
class EInOutError : public EKelvaneError {
 public:
  using EKelvaneError::EKelvaneError;
  const char* ClassName() const override { return "EInOutError"; }
};

// A date or time that does not exist (13/32/2026, 25:61:00).
class EConvertError : public EKelvaneError {
 public:
  using EKelvaneError::EKelvaneError;
  const char* ClassName() const override { return "EConvertError"; }
};

// The platform's refusal of a write: "Unable to write to " followed by the path.
[[noreturn]] void RaiseUnableToWrite(const std::string& path);

}  // namespace kelvane
