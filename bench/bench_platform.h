#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing/scripted_platform.h"

namespace sorel::bench {

using Clock = std::chrono::steady_clock;

// The scripted back end, plus the moments the program reads the clock, receives a key and
// starts a sound, so spans inside the unchanged program can be timed from outside. The clock
// is the real one, so the result message shows a real figure.
class BenchPlatform : public ScriptedPlatform {
 public:
  // Notes the moment the key enters the program, then hands it over.
  void PressKey(std::int16_t key_code);

  const std::vector<Clock::time_point>& clock_readings() const { return clock_readings_; }
  Clock::time_point key_entered() const { return key_entered_; }
  Clock::time_point sound_started() const { return sound_started_; }
  const std::string& last_sound() const { return sounds().back(); }
  std::int64_t sounds_started() const { return static_cast<std::int64_t>(sounds().size()); }

  float SecondsSinceMidnight() override;
  void StartSound(const std::string& path) override;

 private:
  std::vector<Clock::time_point> clock_readings_;
  Clock::time_point key_entered_{};
  Clock::time_point sound_started_{};
};

}  // namespace sorel::bench
