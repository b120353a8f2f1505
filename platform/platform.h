#pragma once

#include <string>

// The seam between the window object and the system it runs on. Everything the core asks of
// the system is declared in this folder: the window (this file), the test file
// (record_file.h), the program start and the clean-up at a forced exit (program.h).
// Back ends deliver window events by calling Form1's handlers through DispatchToForm().

namespace sorel {

enum class LabelId { kLabel1 = 1, kLabel2, kLabel3, kLabel4 };

// The window's mouse pointer, by the codes the program was designed with.
enum class MousePointer { kDefault = 0, kBusy = 11 };

// Message box styles: one OK button with this icon.
enum class MessageStyle { kCritical = 16, kInformation = 64 };

// Everything the window object needs from its window and the system. Texts are UTF-8.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual void SetLabelCaption(LabelId label, const std::string& text) = 0;
  virtual void SetLabelVisible(LabelId label, bool visible) = 0;
  virtual void SetLabelEnabled(LabelId label, bool enabled) = 0;
  virtual void SetMousePointer(MousePointer pointer) = 0;

  // Modal; the prompt's lines are joined by a bare CR.
  virtual void ShowMessage(const std::string& prompt, MessageStyle style,
                           const std::string& title) = 0;

  // Delivers the window events queued so far; they may re-enter the window's handlers.
  virtual void ProcessPendingEvents() = 0;

  // Drops the key presses that queued up while the window could not take them, so that none
  // reaches the message box that opens next and closes it unread.
  virtual void DiscardTypeAhead() = 0;

  // Takes the window away; Form1::Form_Unload runs before this returns.
  virtual void UnloadWindow() = 0;

  // Ends the process at once: no further window event runs.
  [[noreturn]] virtual void EndProgram(int exit_status) = 0;

  virtual float SecondsSinceMidnight() = 0;
  virtual std::string ProgramFolder() = 0;

  // Returns at once; a new sound cuts off one still playing. A missing sample is the back
  // end's affair: the Qt back end stays silent; on Windows the system plays its default sound
  // instead, if one is set, since the call does not ask for silence (no SND_NODEFAULT).
  virtual void StartSound(const std::string& path) = 0;
};

}  // namespace sorel
