#include "runtime/runtime_error.h"

#include <utility>

namespace zorvani {

RuntimeError::RuntimeError(std::int32_t number, std::string source, std::string description)
    : std::runtime_error("Run-time error " + std::to_string(number) + ": " + description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

std::string StandardErrorText(std::int32_t number) {
  switch (number) {
    case kErrOverflow: return "Overflow";
    case kErrSubscriptOutOfRange: return "Subscript out of range";
    case kErrTypeMismatch: return "Type mismatch";
    case kErrInternal: return "Internal error";
    case kErrFileNotFound: return "File not found";
    case kErrFileAccess: return "Path/File access error";
    case kErrInvalidPicture: return "Invalid picture";
    default: return "Application-defined or object-defined error";
  }
}

void Raise(std::int32_t number) { Raise(number, StandardErrorText(number)); }

void Raise(std::int32_t number, std::string description) {
  throw RuntimeError(number, "ZorvaniWallpaper", std::move(description));
}

std::string RunTimeErrorReport(const RuntimeError& error) {
  return "Run-time error '" + std::to_string(error.number()) + "':\n\n" + error.description();
}

}  // namespace zorvani
