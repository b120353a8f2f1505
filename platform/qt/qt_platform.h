#pragma once

// The Linux back end: Qt 6 Widgets on X11, sound through PulseAudio, files through platform/posix.
//   Type-ahead:  the window takes every event while the test file is written, and the core
//                acts on no key then; a last pass takes what came after the last piece.
//   Cached pages: the file layer asks the kernel to drop them after the write.
//   Forced exit: Qt ends the process with exit() when the display goes away; the core's exit
//                hook removes the test file then. SIGINT, SIGTERM, SIGHUP and the window
//                destroyed by another X client close the window as its close button would.
//   Screen reader: the progress label has the notification role, which Orca speaks as it shows;
//                before the write the reader gets the moment it needs to read it, and the window
//                is deactivated before each message box so that the reader moves on to the box.
//   Missing sample: silence.
//   Ownership:   the file layer trusts nothing at the path (see platform/posix/record_file.cpp).

#include <QApplication>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/main_window.h"
#include "platform/qt/sound_player.h"
#include "platform/qt/termination_signals.h"
#include "platform/seam/platform.h"

namespace sorel {

class QtPlatform : public Platform {
 public:
  QtPlatform(int& argc, char** argv);

  void ShowAndActivate() override;
  void RunEventLoop() override;
  void EndWindow() override;
  void CallFromEventLoop(std::function<void()> call) override;
  void SetLabelCaption(LabelId label, const std::string& text) override;
  void SetLabelVisible(LabelId label, bool visible) override;
  void SetLabelEnabled(LabelId label, bool enabled) override;
  void SetMousePointer(MousePointer pointer) override;
  void ShowMessage(const std::string& prompt, MessageStyle style,
                   const std::string& title) override;
  void ProcessPendingEvents() override;
  void KeepWindowAnswering() override;
  void WaitForScreenReader() override;
  void DiscardTypeAhead() override;
  [[noreturn]] void EndProgram(int exit_status) override;
  float SecondsSinceMidnight() override;
  std::string ProgramFolder() override;
  void PrepareSounds(const std::vector<std::string>& paths) override;
  void StartSound(const std::string& path) override;

 private:
  void OpenWindowImpl(const WindowLayout& layout) override;
  bool WindowShown() const { return window_ && window_->isVisible(); }

  QApplication application_;
  std::optional<SoundPlayer> sound_player_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<WindowDestroyedWatch> destroyed_watch_;
};

}  // namespace sorel
