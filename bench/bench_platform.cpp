#include "bench/bench_platform.h"

#include <ctime>

namespace sorel::bench {

void BenchPlatform::PressKey(std::int16_t key_code) {
  key_entered_ = Clock::now();
  ScriptedPlatform::PressKey(key_code);
}

float BenchPlatform::SecondsSinceMidnight() {
  clock_readings_.push_back(Clock::now());
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto fraction = now - std::chrono::system_clock::from_time_t(seconds);
  return static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec +
                            std::chrono::duration<double>(fraction).count());
}

void BenchPlatform::StartSound(const std::string& path) {
  sound_started_ = Clock::now();  // before the bookkeeping, which is not the program's time
  ScriptedPlatform::StartSound(path);
}

}  // namespace sorel::bench
