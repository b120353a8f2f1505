#pragma once

#include <cstdint>
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
// handles it; the back end's dispatch point handles whatever is left.
class RunError : public std::runtime_error {
 public:
  explicit RunError(int number);
  int number() const { return number_; }

 private:
  int number_;
};

// Japanese description of an error number, as shown to the user.
std::string ErrorDescription(int number);

// 16-bit signed addition that raises the overflow error instead of wrapping.
std::int16_t CheckedAdd16(std::int16_t value, int delta);

}  // namespace sorel
