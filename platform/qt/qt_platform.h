#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/qt/main_window.h"
#include "platform/qt/sound_player.h"

namespace sorel {

class QtPlatform : public Platform {
 public:
  void Attach(MainWindow& window) { window_ = &window; }

  void SetLabelCaption(LabelId label, const std::string& text) override;
  void SetLabelVisible(LabelId label, bool visible) override;
  void SetLabelEnabled(LabelId label, bool enabled) override;
  void SetMousePointer(MousePointer pointer) override;
  void ShowMessage(const std::string& prompt, MessageStyle style,
                   const std::string& title) override;
  void ProcessPendingEvents() override;
  // Nothing to do: a modal box drops what was typed while the window was blocked.
  void DiscardTypeAhead() override {}
  void UnloadWindow() override;
  [[noreturn]] void EndProgram(int exit_status) override;
  float SecondsSinceMidnight() override;
  std::string ProgramFolder() override;
  void StartSound(const std::string& path) override;

 private:
  static std::vector<std::string> SamplePaths();

  MainWindow* window_ = nullptr;
  SoundPlayer sound_player_{SamplePaths()};
};

}  // namespace sorel
