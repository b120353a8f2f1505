#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>

#include "platform/seam/platform.h"
#include "platform/seam/window_events.h"

namespace sorel {

// The program's window: fixed client area, static labels as the layout places them, and its
// events reported as they come.
class MainWindow {
 public:
  explicit MainWindow(WindowEvents& events) : events_(events) {}
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Builds the window and its labels, still hidden.
  bool Create(HINSTANCE instance, const WindowLayout& layout);
  void Show();

  HWND handle() const { return window_; }
  // Whether the window is still there (it goes with EndWindow or a destruction from outside).
  bool exists() const { return IsWindow(window_) != FALSE; }
  HWND label(LabelId id) const { return labels_.at(id); }
  // The label a screen reader is to speak as it shows, if the layout has one.
  std::optional<LabelId> announced() const { return announced_; }
  void SetBusyPointer(bool busy);
  // Runs `call` once the message being handled now is over.
  void CallSoon(std::function<void()> call);

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  WindowEvents& events_;
  HWND window_ = nullptr;
  std::map<LabelId, HWND> labels_;
  HWND welcome_ = nullptr;
  std::optional<LabelId> announced_;
  HFONT welcome_font_ = nullptr;
  HFONT window_font_ = nullptr;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  bool busy_ = false;
  std::deque<std::function<void()>> soon_;
};

}  // namespace sorel
