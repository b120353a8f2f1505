#pragma once

// The Windows back end: raw Win32, sound through winmm, files through record_file.cpp here.
//   Type-ahead:  keys and clicks that come while the test file is written are taken off the
//                queue and dropped as they arrive, the rest of the queue is served; those left
//                over are dropped before the next message box, which they would close unread.
//                Alt+F4 and the caption's close button still close the window meanwhile.
//   Cached pages: none to drop: the fill bypasses the system cache.
//   Forced exit: the test file is opened delete-on-close, so the system removes it however
//                the process ends; a close, Alt+F4 and the end of the session close the window
//                as its close button would.
//   Missing sample: the system plays its default sound, if one is set (no SND_NODEFAULT).
//   Sound:       the samples are read by the program at start and played from memory, so that
//                a folder outside the ANSI code page works on every winmm.
//   Ownership:   only a plain file of exactly a test file's size, zeros where sampled, is taken
//                for an earlier run's; the test file is always made new.

#include <windows.h>
// mmsystem.h builds on windows.h.
#include <mmsystem.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/platform.h"
#include "platform/win32/live_region.h"
#include "platform/win32/main_window.h"

namespace sorel {

class Win32Platform : public Platform {
 public:
  Win32Platform();
  ~Win32Platform() override;

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
  void DiscardTypeAhead() override;
  [[noreturn]] void EndProgram(int exit_status) override;
  float SecondsSinceMidnight() override;
  std::string ProgramFolder() override;
  void PrepareSounds(const std::vector<std::string>& paths) override;
  void StartSound(const std::string& path) override;

 private:
  void OpenWindowImpl(const WindowLayout& layout) override;
  void PumpMessages(bool drop_user_input);
  void DropInputExceptClose(const MSG& message);

  std::optional<MainWindow> window_;
  // The label a screen reader speaks as it shows. Goes before the window does.
  std::optional<LiveRegion> announced_;
  // sndPlaySoundW from the system's winmm.dll, or null if it could not be loaded.
  decltype(&sndPlaySoundW) play_sound_ = nullptr;
  // The samples by path, read at start; the system plays them from here.
  std::map<std::string, std::vector<char>> samples_;
  // The caption's close button was pressed while input was dropped; its release there closes.
  bool close_button_pressed_ = false;
};

}  // namespace sorel
