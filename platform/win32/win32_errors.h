#pragma once

namespace sorel {

// The run-time error number (platform/seam/run_error.h) that the user sees for a Win32 error code.
int RunErrorNumberFor(unsigned long win32_error);

// Raises the RunError for GetLastError().
[[noreturn]] void RaiseLastWin32Error();

}  // namespace sorel
