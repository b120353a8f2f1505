#include "bench/bench_platform.h"

#include <ctime>

#include "app/dispatch.h"
#include "app/form1.h"

namespace sorel::bench {

void BenchPlatform::StartProgram() {
  DispatchToForm(*form_, [&] { form_->Form_Load(); });
  DispatchToForm(*form_, [&] { form_->Form_Activate(); });
}

void BenchPlatform::PressKey(std::int16_t key_code) {
  if (!window_loaded_) return;
  key_entered_ = Clock::now();
  DispatchToForm(*form_, [&] {
    std::int16_t key = key_code;
    std::int16_t shift = 0;
    form_->Form_KeyDown(key, shift);
  });
}

void BenchPlatform::CloseWindow() {
  if (window_loaded_) DispatchToForm(*form_, [&] { UnloadWindow(); });
}

void BenchPlatform::ShowMessage(const std::string& prompt, int /*style*/,
                                const std::string& /*title*/) {
  messages_.push_back(prompt);
}

void BenchPlatform::UnloadWindow() {
  if (!window_loaded_) return;
  window_loaded_ = false;
  std::int16_t cancel = 0;
  form_->Form_Unload(cancel);
}

void BenchPlatform::EndProgram(int exit_status) { throw ProgramEnded{exit_status}; }

float BenchPlatform::SecondsSinceMidnight() {
  clock_readings_.push_back(Clock::now());
  // The same reading a real back end gives, so the result message shows a real figure too.
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto fraction = now - std::chrono::system_clock::from_time_t(seconds);
  return static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec +
                            std::chrono::duration<double>(fraction).count());
}

void BenchPlatform::StartSound(const std::string& path) {
  sound_started_ = Clock::now();
  last_sound_ = path;
  ++sounds_started_;
}

}  // namespace sorel::bench
