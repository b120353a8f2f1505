#pragma once

#include <windows.h>
// mmsystem.h builds on windows.h.
#include <mmsystem.h>

#include <vector>

#include "platform/platform.h"
#include "platform/win32/main_window.h"

namespace sorel {

class Win32Platform : public Platform {
 public:
  Win32Platform();
  ~Win32Platform() override;
  void Attach(MainWindow& window) { window_ = &window; }

  void SetLabelCaption(LabelId label, const std::string& text) override;
  void SetLabelVisible(LabelId label, bool visible) override;
  void SetLabelEnabled(LabelId label, bool enabled) override;
  void SetMousePointer(MousePointer pointer) override;
  void ShowMessage(const std::string& prompt, MessageStyle style,
                   const std::string& title) override;
  void ProcessPendingEvents() override;
  void DiscardTypeAhead() override;
  void UnloadWindow() override;
  [[noreturn]] void EndProgram(int exit_status) override;
  float SecondsSinceMidnight() override;
  std::string ProgramFolder() override;
  void StartSound(const std::string& path) override;

 private:
  MainWindow* window_ = nullptr;
  // sndPlaySoundW from the system's winmm.dll, or null if it could not be loaded.
  decltype(&sndPlaySoundW) play_sound_ = nullptr;
  // The sample playing now, which the system reads from here until it ends or the next starts.
  std::vector<char> sample_;
};

}  // namespace sorel
