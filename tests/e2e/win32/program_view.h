#pragma once

#include <windows.h>

#include <string>

namespace driver {

// The program under test, started by the driver and ended by it if still running at the end.
class Program {
 public:
  explicit Program(const std::wstring& path);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  DWORD id() const { return info_.dwProcessId; }
  DWORD thread_id() const { return info_.dwThreadId; }
  // False while the program still runs after timeout_ms.
  bool WaitForExit(DWORD timeout_ms, DWORD& status) const;

 private:
  PROCESS_INFORMATION info_{};
};

// Reads what the window system holds, without a message that a busy program would block.
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);

HWND WaitForMainWindow(const Program& program, const wchar_t* caption);
// The program's message box on screen, or null.
HWND MessageBoxOf(const Program& program);
HWND WaitForMessageBox(const Program& program, DWORD timeout_ms, const wchar_t* which);
void PressOk(HWND box);

struct LabelView {
  std::wstring text;
  RECT rect;  // in the window's client area
  bool enabled;
  bool visible;  // its own visibility, whatever its parent's
  LONG style;
};
LabelView ReadLabel(HWND window, int id);

// The keys go where a user's would: to the foreground window.
void PressKey(HWND window, WORD key);
void BringToFront(HWND window);

}  // namespace driver
