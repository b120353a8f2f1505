#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sorel::bench {

using Clock = std::chrono::steady_clock;

// Thrown by EndProgram, so a failed disk test surfaces in the bench instead of ending it.
struct ProgramEnded {
  int exit_status;
};

// A back end without a screen that notes the moments the program reads the clock, receives a
// key and starts a sound, so spans inside the unchanged program can be timed from outside.
// Message boxes return at once; events are never pending.
class BenchPlatform : public Platform {
 public:
  void Attach(Form1& form) { form_ = &form; }

  // Load and first activation, as the window system delivers them: this runs the disk test.
  void StartProgram();
  // Notes the moment the key enters the program, then hands it over.
  void PressKey(std::int16_t key_code);
  // The window closed from outside: the program removes its test file.
  void CloseWindow();

  const std::vector<Clock::time_point>& clock_readings() const { return clock_readings_; }
  const std::vector<std::string>& messages() const { return messages_; }
  Clock::time_point key_entered() const { return key_entered_; }
  Clock::time_point sound_started() const { return sound_started_; }
  const std::string& last_sound() const { return last_sound_; }
  std::int64_t sounds_started() const { return sounds_started_; }
  std::int64_t events_processed() const { return events_processed_; }

  void SetLabelCaption(LabelId, const std::string&) override {}
  void SetLabelVisible(LabelId, bool) override {}
  void SetLabelEnabled(LabelId, bool) override {}
  void SetMousePointer(int) override {}
  void ShowMessage(const std::string& prompt, int style, const std::string& title) override;
  void ProcessPendingEvents() override { ++events_processed_; }
  void UnloadWindow() override;
  [[noreturn]] void EndProgram(int exit_status) override;
  float SecondsSinceMidnight() override;
  std::string ProgramFolder() override { return "/opt/sorelcheck-bench"; }
  void StartSound(const std::string& path) override;

 private:
  Form1* form_ = nullptr;
  bool window_loaded_ = true;
  std::vector<Clock::time_point> clock_readings_;
  std::vector<std::string> messages_;
  Clock::time_point key_entered_{};
  Clock::time_point sound_started_{};
  std::string last_sound_;
  std::int64_t sounds_started_ = 0;
  std::int64_t events_processed_ = 0;
};

}  // namespace sorel::bench
