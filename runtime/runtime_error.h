#pragma once
// The run-time error that every failure of the program travels as: a number, the
// place it came from and a description, the way the user is finally shown it.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace zorvani {

enum ErrorNumber : std::int32_t {
  kErrOverflow = 6,
  kErrSubscriptOutOfRange = 9,
  kErrTypeMismatch = 13,
  kErrInternal = 51,
  kErrFileNotFound = 53,
  kErrFileAccess = 75,
  kErrInvalidPicture = 481,
  kErrBitmapFile = 17,
};

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(std::int32_t number, std::string source, std::string description);

  std::int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
};

// The standard description of a numbered error ("Overflow", "Type mismatch", ...).
std::string StandardErrorText(std::int32_t number);

// Raises a numbered error with its standard description and the program as source.
[[noreturn]] void Raise(std::int32_t number);
[[noreturn]] void Raise(std::int32_t number, std::string description);

// "Run-time error 'N':" followed by the description, as the user is shown it.
std::string RunTimeErrorReport(const RuntimeError& error);

}  // namespace zorvani
