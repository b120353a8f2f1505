#include "app/form1.h"

#include <cstdlib>
#include <limits>
#include <utility>

#include "disktest/messages.h"
#include "platform/seam/run_error.h"

namespace sorel {
namespace {

// 16-bit signed addition that raises the overflow error instead of wrapping.
std::int16_t CheckedAdd16(std::int16_t value, int delta) {
  const int sum = value + delta;
  if (sum < std::numeric_limits<std::int16_t>::min() ||
      sum > std::numeric_limits<std::int16_t>::max()) {
    throw RunError(kErrOverflow);
  }
  return static_cast<std::int16_t>(sum);
}

}  // namespace

Form1::Form1(Platform& platform, std::string test_file_path, std::int32_t record_written)
    : platform_(platform),
      record_written_(record_written),
      test_file_(std::move(test_file_path), kRecordLength) {}

void Form1::Form_KeyDown(std::int16_t& KeyCode, std::int16_t& /*Shift*/) {
  if (KeyCode == kVkDown || KeyCode == kVkUp) {
    if (voice_step_running_) {
      // Handled once the running step is over, so replays never nest.
      if (pending_presses_.size() < kMaxPendingPresses) pending_presses_.push_back(KeyCode);
      return;
    }
    VoiceStep(KeyCode);
    while (!pending_presses_.empty() && !unloaded_) {
      const std::int16_t next = pending_presses_.front();
      pending_presses_.pop_front();
      VoiceStep(next);
    }
  }
  if (KeyCode == kVkEscape && !unloaded_) platform_.UnloadWindow();
}

void Form1::VoiceStep(std::int16_t key_code) {
  Cnt = CheckedAdd16(Cnt, key_code == kVkDown ? 1 : -1);
  voice_step_running_ = true;
  struct StepEnd {
    bool& running;
    ~StepEnd() { running = false; }
  } step_end{voice_step_running_};
  OneVoice();
}

void Form1::ReportUnhandledError(const RunError& error) {
  if (unloaded_) return;
  // Before the box, as the disk test's failure does: a box left open, or a program ended
  // while it is shown, must not keep 700 MiB on the disk.
  RemoveTestFile();
  ending_ = true;
  platform_.ShowMessage(UnhandledErrorMessage(error.number()), MessageStyle::kCritical,
                        kApplicationTitle);
  platform_.EndProgram(1);
  std::abort();  // a back end whose EndProgram returned would leave the run in a broken state
}

void Form1::RemoveTestFile() noexcept { test_file_.CloseAndDelete(); }

}  // namespace sorel
