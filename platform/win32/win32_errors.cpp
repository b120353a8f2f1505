#include "platform/win32/win32_errors.h"

#include <windows.h>

#include "platform/seam/run_error.h"

namespace sorel {

int RunErrorNumberFor(unsigned long win32_error) {
  switch (win32_error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return kErrDiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return kErrPermissionDenied;
    case ERROR_INVALID_HANDLE:
      return kErrBadFileNumber;
    case ERROR_NOT_READY:
    case ERROR_CRC:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
      return kErrDeviceIo;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kErrOutOfMemory;
    default:
      return kErrPathAccess;
  }
}

void RaiseLastWin32Error() { throw RunError(RunErrorNumberFor(GetLastError())); }

}  // namespace sorel
