#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/seam/window_events.h"

// The seam between the program's core and the system it runs on. This folder holds all of it:
// the calls down (this file, record_file.h, program.h), the calls up (window_events.h) and the
// error the file layers raise (run_error.h). Back ends implement it in folders of their own.

namespace sorel {

enum class LabelId { kLabel1 = 1, kLabel2, kLabel3, kLabel4 };

// What a label is besides its text, for the back end to render it so.
enum class LabelRole {
  kText,                // the window's font and colours
  kWelcomePanel,        // the layout's own font, on the window-background colour
  kAnnouncedWhenShown,  // a screen reader speaks its text as soon as it shows
};

// The window's mouse pointer: Windows' cursor codes, which the core keeps on every system.
enum class MousePointer { kDefault = 0, kBusy = 11 };

// Message box styles: one OK button with this icon.
enum class MessageStyle { kCritical = 16, kInformation = 64 };

struct LabelLayout {
  LabelId id;
  LabelRole role;
  int left, top, width, height;  // pixels at 96 dpi
  bool visible_at_start;
  const char* caption;  // lines end in CR LF
  // The text it shows later instead, which its font must fit too; null if none.
  const char* later_caption = nullptr;
};

// What the window looks like when it opens. Texts are UTF-8.
struct WindowLayout {
  const char* caption;
  int client_width, client_height;  // pixels at 96 dpi
  std::span<const LabelLayout> labels;
  // The welcome panel's own font; the other labels use the window's.
  const char* welcome_font_family;
  int welcome_font_points;
};

// Everything the core needs from its window and the system. Texts are UTF-8.
class Platform {
 public:
  virtual ~Platform() = default;

  // Builds the window, still hidden; from now on the back end reports its events to `events`.
  void OpenWindow(const WindowLayout& layout, WindowEvents& events) {
    events_ = &events;
    OpenWindowImpl(layout);
  }
  // Shows the window and makes it the active one (which reports an activation).
  virtual void ShowAndActivate() = 0;
  // Delivers events until the window is gone.
  virtual void RunEventLoop() = 0;
  // Takes the window away; also ends message boxes and event loops still running.
  virtual void EndWindow() = 0;
  // Runs `call` from the event loop once the event being handled now is over.
  virtual void CallFromEventLoop(std::function<void()> call) = 0;

  // Closes the window as the close button would: the program's own way out.
  void UnloadWindow() {
    if (events_ != nullptr) events_->CloseRequested();
  }

  virtual void SetLabelCaption(LabelId label, const std::string& text) = 0;
  virtual void SetLabelVisible(LabelId label, bool visible) = 0;
  virtual void SetLabelEnabled(LabelId label, bool enabled) = 0;
  virtual void SetMousePointer(MousePointer pointer) = 0;

  // Modal; the prompt's lines are joined by a bare CR.
  virtual void ShowMessage(const std::string& prompt, MessageStyle style,
                           const std::string& title) = 0;

  // Delivers the window events queued so far; they may re-enter the window's handlers.
  virtual void ProcessPendingEvents() = 0;

  // Serves what the desktop asks of the window while a long job runs (paints, pings, the
  // screen reader's questions, close requests, signals), so that it never counts as hung.
  // Keys and clicks that come meanwhile are not acted on.
  virtual void KeepWindowAnswering() = 0;

  // Gives a running screen reader the moment it needs to read what the window now shows,
  // before a job that keeps the window busy; returns at once when none runs.
  virtual void WaitForScreenReader() {}

  // Drops the key presses that queued up while the window could not take them, so that none
  // reaches the message box that opens next and closes it unread.
  virtual void DiscardTypeAhead() = 0;

  // Ends the process at once: no further window event runs.
  [[noreturn]] virtual void EndProgram(int exit_status) = 0;

  virtual float SecondsSinceMidnight() = 0;
  virtual std::string ProgramFolder() = 0;

  // The samples StartSound will be asked for, so that a back end can load them beforehand.
  virtual void PrepareSounds(const std::vector<std::string>& /*paths*/) {}
  // Returns at once; a new sound cuts off one still playing.
  virtual void StartSound(const std::string& path) = 0;

 protected:
  WindowEvents& events() { return *events_; }

 private:
  virtual void OpenWindowImpl(const WindowLayout& layout) = 0;

  WindowEvents* events_ = nullptr;
};

}  // namespace sorel
