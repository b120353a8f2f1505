#pragma once

#include <windows.h>

#include <map>

#include "app/form1.h"

namespace sorel {

// The program's window: fixed client area, four static labels, every key press to the form.
class MainWindow {
 public:
  explicit MainWindow(Form1& form) : form_(form) {}
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Builds the window and its labels, still hidden.
  bool Create(HINSTANCE instance);
  void Show();

  HWND handle() const { return window_; }
  HWND label(LabelId id) const { return labels_.at(id); }
  bool unloaded() const { return unloaded_; }
  void SetBusyPointer(bool busy);
  // Closes the window as the close button would; Form_Unload runs before this returns.
  void Unload();

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  void CreateLabels(HINSTANCE instance);
  void OnKeyDown(WPARAM virtual_key);

  Form1& form_;
  HWND window_ = nullptr;
  std::map<LabelId, HWND> labels_;
  HFONT welcome_font_ = nullptr;
  HFONT window_font_ = nullptr;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  bool busy_ = false;
  bool unloaded_ = false;
};

}  // namespace sorel
