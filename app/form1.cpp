#include "app/form1.h"

#include <cstdlib>
#include <utility>

#include "app/run_error.h"
#include "disktest/messages.h"

namespace sorel {

Form1::Form1(Platform& platform, std::string test_file_path, std::int32_t record_written)
    : platform_(platform),
      test_file_path_(std::move(test_file_path)),
      record_written_(record_written) {}

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
    pending_presses_.clear();
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
  unloaded_ = true;
  // Before the box, as the disk test's failure does: a box left open, or a program ended
  // while it is shown, must not keep 700 MiB on the disk.
  RemoveTestFile();
  platform_.ShowMessage(UnhandledErrorMessage(error.number()), MessageStyle::kCritical,
                        kApplicationTitle);
  platform_.EndProgram(1);
  std::abort();  // a back end whose EndProgram returned would leave the run in a broken state
}

void Form1::RemoveTestFile() noexcept { test_file_.CloseAndDelete(test_file_path_); }

}  // namespace sorel
