#include "platform/win32/main_window.h"

// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <string>

#include "platform/win32/resource_ids.h"
#include "platform/win32/text.h"

namespace sorel {
namespace {

constexpr wchar_t kClassName[] = L"Sorel動作確認";
// A fixed single frame: no sizing border and no maximise box.
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// Posted for each call that waits for the current message to be over.
constexpr UINT kRunSoon = WM_APP + 1;
// The window's own font, for the labels without one of their own.
constexpr int kWindowFontPoints = 9;

std::int16_t ShiftState() {
  return static_cast<std::int16_t>((GetKeyState(VK_SHIFT) < 0 ? 1 : 0) |
                                   (GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
                                   (GetKeyState(VK_MENU) < 0 ? 4 : 0));
}

HFONT JapaneseFont(const char* family, int points, int dpi) {
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, Utf16FromUtf8(family).c_str());
}

HICON ProgramIcon(HINSTANCE instance, int width_metric, int height_metric) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(SORELCHECK_ICON), IMAGE_ICON,
                                       GetSystemMetrics(width_metric),
                                       GetSystemMetrics(height_metric), LR_SHARED));
}

// Windows draws a disabled static's text by itself, embossed or in a grey of its own choice,
// whatever colour WM_CTLCOLORSTATIC set. The welcome label paints that state here: the system's
// grey text on the window colour, a pair that high-contrast themes keep readable.
LRESULT CALLBACK WelcomeLabelProcedure(HWND label, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR, DWORD_PTR) {
  if (message != WM_PAINT || IsWindowEnabled(label)) {
    return DefSubclassProc(label, message, wparam, lparam);
  }
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(label, &paint);
  RECT area;
  GetClientRect(label, &area);
  FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
  const HGDIOBJ font =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  SetBkMode(dc, TRANSPARENT);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(label, text.data(), static_cast<int>(text.size()))));
  // What an SS_LEFT | SS_NOPREFIX static draws with.
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
            DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, font);
  EndPaint(label, &paint);
  return 0;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

}  // namespace

MainWindow::~MainWindow() {
  if (IsWindow(window_)) DestroyWindow(window_);
  DeleteObject(welcome_font_);
  DeleteObject(window_font_);
}

bool MainWindow::Create(HINSTANCE instance, const WindowLayout& layout) {
  // The layout is in pixels at 96 dpi; the manifest declares that we scale it ourselves.
  dpi_ = ScreenDpi();
  auto scaled = [this](int pixels) { return MulDiv(pixels, dpi_, USER_DEFAULT_SCREEN_DPI); };

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProcedure;
  window_class.hInstance = instance;
  window_class.hIcon = ProgramIcon(instance, SM_CXICON, SM_CYICON);
  window_class.hIconSm = ProgramIcon(instance, SM_CXSMICON, SM_CYSMICON);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  if (RegisterClassExW(&window_class) == 0) return false;

  RECT frame{0, 0, scaled(layout.client_width), scaled(layout.client_height)};
  AdjustWindowRectEx(&frame, kFrameStyle, FALSE, 0);
  CreateWindowExW(0, kClassName, Utf16FromUtf8(layout.caption).c_str(), kFrameStyle, CW_USEDEFAULT,
                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                  nullptr, instance, this);
  if (window_ == nullptr) return false;
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(window_class.hIcon));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(window_class.hIconSm));

  welcome_font_ = JapaneseFont(layout.welcome_font_family, layout.welcome_font_points, dpi_);
  window_font_ = JapaneseFont(layout.welcome_font_family, kWindowFontPoints, dpi_);
  for (const LabelLayout& entry : layout.labels) {
    const bool welcome = entry.role == LabelRole::kWelcomePanel;
    // The welcome text breaks at its own line ends; the one-line labels never wrap.
    DWORD style = WS_CHILD | SS_NOPREFIX | (welcome ? SS_LEFT : SS_LEFTNOWORDWRAP);
    if (entry.visible_at_start) style |= WS_VISIBLE;
    HWND label = CreateWindowExW(
        0, L"STATIC", Utf16FromUtf8(entry.caption).c_str(), style, scaled(entry.left),
        scaled(entry.top), scaled(entry.width), scaled(entry.height), window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance, nullptr);
    SendMessageW(label, WM_SETFONT,
                 reinterpret_cast<WPARAM>(welcome ? welcome_font_ : window_font_), FALSE);
    labels_[entry.id] = label;
    if (welcome) {
      welcome_ = label;
      SetWindowSubclass(label, WelcomeLabelProcedure, 0, 0);
    }
    if (entry.role == LabelRole::kAnnouncedWhenShown) announced_ = entry.id;
  }
  return true;
}

void MainWindow::Show() {
  ShowWindow(window_, SW_SHOWDEFAULT);
  UpdateWindow(window_);
  // Becoming the active window is what starts the disk test.
  SetForegroundWindow(window_);
}

void MainWindow::SetBusyPointer(bool busy) {
  busy_ = busy;
  // WM_SETCURSOR comes only when the mouse moves: change a pointer that is over us now.
  POINT at{};
  if (!GetCursorPos(&at)) return;
  HWND under = WindowFromPoint(at);
  if (under == window_ || GetParent(under) == window_) {
    SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  }
}

void MainWindow::CallSoon(std::function<void()> call) {
  soon_.push_back(std::move(call));
  if (!PostMessageW(window_, kRunSoon, 0, 0)) soon_.pop_back();  // no window, no loop for it
}

LRESULT CALLBACK MainWindow::WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return self->HandleMessage(message, wparam, lparam);
}

// noexcept: an exception must never unwind through the system's frames. The core answers
// every error of the handlers it calls before its event entry returns.
LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) events_.Activated();
      break;  // the default sets the keyboard focus to the window itself
    case kRunSoon:
      if (!soon_.empty()) {
        const std::function<void()> call = std::move(soon_.front());
        soon_.pop_front();
        call();
      }
      return 0;
    case WM_KEYDOWN:
      events_.KeyDown(static_cast<std::int16_t>(wparam), ShiftState());
      return 0;
    case WM_SYSKEYDOWN:
      // Alt combinations are reported too; Alt+F4 and the system menu still work.
      events_.KeyDown(static_cast<std::int16_t>(wparam), ShiftState());
      if (!exists()) return 0;
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == welcome_) {
        // The system's pair of colours for text on a window: readable under every theme.
        SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_SETCURSOR:
      if (busy_ && LOWORD(lparam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      events_.CloseRequested();
      return 0;
    case WM_ENDSESSION:
      // The session ends the process after this returns: clean up as a close would.
      if (wparam) events_.CloseRequested();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace sorel
