#include "app/run_error.h"

#include <limits>

namespace sorel {

RunError::RunError(int number) : std::runtime_error(ErrorDescription(number)), number_(number) {}

std::string ErrorDescription(int number) {
  switch (number) {
    case kErrOverflow:
      return "オーバーフローしました。";
    case kErrOutOfMemory:
      return "メモリが不足しています。";
    case kErrBadFileNumber:
      return "ファイル名または番号が不正です。";
    case kErrDeviceIo:
      return "デバイス I/O エラーです。";
    case kErrDiskFull:
      return "ディスクの空き容量が不足しています。";
    case kErrBadRecordNumber:
      return "レコード番号が不正です。";
    case kErrPermissionDenied:
      return "書き込みできません。";
    case kErrPathAccess:
      return "パス名が無効です。";
    default:
      return "アプリケーション定義またはオブジェクト定義のエラーです。";
  }
}

std::int16_t CheckedAdd16(std::int16_t value, int delta) {
  const int sum = value + delta;
  if (sum < std::numeric_limits<std::int16_t>::min() ||
      sum > std::numeric_limits<std::int16_t>::max()) {
    throw RunError(kErrOverflow);
  }
  return static_cast<std::int16_t>(sum);
}

}  // namespace sorel
