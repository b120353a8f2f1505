#pragma once

#include <string>

namespace sorel {

class Form1;

enum class LabelId { kLabel1 = 1, kLabel2, kLabel3, kLabel4 };

inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerBusy = 11;

inline constexpr int kStyleCritical = 16;
inline constexpr int kStyleInformation = 64;

// Everything the window object needs from the system it runs on. Texts are UTF-8.
// Back ends deliver window events by calling Form1's handlers through DispatchToForm().
class Platform {
 public:
  virtual ~Platform() = default;

  virtual void SetLabelCaption(LabelId label, const std::string& text) = 0;
  virtual void SetLabelVisible(LabelId label, bool visible) = 0;
  virtual void SetLabelEnabled(LabelId label, bool enabled) = 0;
  virtual void SetMousePointer(int pointer_code) = 0;

  // Modal; the prompt's lines are joined by a bare CR.
  virtual void ShowMessage(const std::string& prompt, int style, const std::string& title) = 0;

  // Delivers the window events queued so far; they may re-enter the window's handlers.
  virtual void ProcessPendingEvents() = 0;

  // Takes the window away; Form1::Form_Unload runs before this returns.
  virtual void UnloadWindow() = 0;

  // Ends the process at once: no further window event runs.
  [[noreturn]] virtual void EndProgram(int exit_status) = 0;

  virtual float SecondsSinceMidnight() = 0;
  virtual std::string ProgramFolder() = 0;

  // Returns at once; a new sound cuts off one still playing. Missing files stay silent.
  virtual void StartSound(const std::string& path) = 0;
};

// Program start and event loop of the back end that was built in.
int RunProgram(int argc, char** argv);

}  // namespace sorel
