#include "program_view.h"

#include "report.h"

namespace driver {
namespace {

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK KeepMessageBox(HWND window, LPARAM search_address) {
  auto* search = reinterpret_cast<BoxSearch*>(search_address);
  if (ProcessOf(window) == search->process && IsWindowVisible(window) &&
      ClassOf(window) == L"#32770") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

Program::Program(const std::wstring& path) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command = L"\"" + path + L"\"";
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info_)) {
    throw Abort{L"cannot start " + path};
  }
}

Program::~Program() {
  if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool Program::WaitForExit(DWORD timeout_ms, DWORD& status) const {
  if (WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(info_.hProcess, &status);
  return true;
}

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  InternalGetWindowText(window, text, static_cast<int>(std::size(text)));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return name;
}

HWND WaitForMainWindow(const Program& program, const wchar_t* caption) {
  HWND window = nullptr;
  // Found before its labels exist; visible once it is complete.
  const bool found = WaitFor(
      [&] {
        window = nullptr;
        while ((window = FindWindowExW(nullptr, window, caption, caption)) != nullptr) {
          if (ProcessOf(window) == program.id() && IsWindowVisible(window)) return true;
        }
        return false;
      },
      60000);
  if (!found) throw Abort{L"the window never appeared"};
  return window;
}

HWND MessageBoxOf(const Program& program) {
  BoxSearch search{program.id(), nullptr};
  EnumWindows(KeepMessageBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForMessageBox(const Program& program, DWORD timeout_ms, const wchar_t* which) {
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = MessageBoxOf(program)) != nullptr; }, timeout_ms)) {
    throw Abort{std::wstring(L"no ") + which + L" message box"};
  }
  return box;
}

void PressOk(HWND box) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
  if (!WaitFor([&] { return !IsWindow(box); }, 10000)) throw Abort{L"the message box stayed"};
}

LabelView ReadLabel(HWND window, int id) {
  HWND label = GetDlgItem(window, id);
  const LONG style = GetWindowLongW(label, GWL_STYLE);
  LabelView view{
      TextOf(label), {}, IsWindowEnabled(label) != FALSE, (style & WS_VISIBLE) != 0, style};
  GetWindowRect(label, &view.rect);
  MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&view.rect), 2);
  return view;
}

void BringToFront(HWND window) {
  const bool front = WaitFor(
      [&] {
        if (GetForegroundWindow() == window) return true;
        SetForegroundWindow(window);
        return false;
      },
      5000, 50);
  if (!front) throw Abort{L"the window never came to the front"};
}

void PressKey(HWND window, WORD key) {
  BringToFront(window);
  INPUT strokes[2] = {};
  for (INPUT& stroke : strokes) {
    stroke.type = INPUT_KEYBOARD;
    stroke.ki.wVk = key;
    stroke.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    if (key == VK_DOWN || key == VK_UP) stroke.ki.dwFlags = KEYEVENTF_EXTENDEDKEY;
  }
  strokes[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(2, strokes, sizeof(INPUT));
}

}  // namespace driver
