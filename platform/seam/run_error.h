#pragma once

#include <stdexcept>
#include <string>

namespace sorel {

// Error numbers the program can raise; the user sees them in the error report.
inline constexpr int kErrOutOfMemory = 7;
inline constexpr int kErrOverflow = 6;
inline constexpr int kErrInternal = 51;
inline constexpr int kErrBadFileNumber = 52;
inline constexpr int kErrDeviceIo = 57;
inline constexpr int kErrDiskFull = 61;
inline constexpr int kErrBadRecordNumber = 63;
inline constexpr int kErrPermissionDenied = 70;
inline constexpr int kErrPathAccess = 75;

// A run-time error: it ends the running operation and passes to the caller until someone
// handles it; the core's event dispatch handles whatever is left.
class RunError : public std::runtime_error {
 public:
  explicit RunError(int number)
      : std::runtime_error("run-time error " + std::to_string(number)), number_(number) {}
  int number() const { return number_; }

 private:
  int number_;
};

}  // namespace sorel
