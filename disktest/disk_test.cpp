#include <array>
#include <cstdlib>

#include "app/form1.h"
#include "disktest/messages.h"
#include "platform/seam/run_error.h"

namespace sorel {
namespace {
constexpr std::int16_t kRunOnceMarker = 1111;
}  // namespace

void Form1::Form_Activate() {
  // Message boxes and event processing re-activate the window: the test runs once.
  if (run_once_marker_ == kRunOnceMarker) return;
  run_once_marker_ = kRunOnceMarker;
  RunDiskTest();
}

// Every call that lets events through may have closed the window; once it is closed, nothing
// more is created and no box opens.
void Form1::RunDiskTest() {
  platform_.SetLabelEnabled(LabelId::kLabel1, false);
  Cnt = 5;
  if (!ShowTestMessage(StartMessage())) return;

  platform_.SetMousePointer(MousePointer::kBusy);
  platform_.SetLabelCaption(LabelId::kLabel4, kProgressCaption);
  platform_.SetLabelVisible(LabelId::kLabel4, true);
  test_file_.DeleteLeftover(kRecordLength * record_written_);
  // Gets the pointer and progress label drawn before the write starts.
  ProcessPendingEventsIgnoringErrors();
  if (unloaded_) return;
  // Outside the timed span, so that it costs the figure nothing.
  platform_.WaitForScreenReader();
  if (unloaded_) return;

  try {
    const std::array<std::uint8_t, kRecordBufferSize> buffer{};
    writing_ = true;
    const float start = platform_.SecondsSinceMidnight();
    test_file_.Open();
    // Meanwhile the desktop is answered, so that it never takes the window for hung; a close
    // stops the write, and the file goes with the window.
    const bool written = test_file_.WriteRecordExtending(record_written_, buffer, [this] {
      platform_.KeepWindowAnswering();
      return !unloaded_;
    });
    if (!written) return;  // closed meanwhile: the window and the file are gone
    const float end = platform_.SecondsSinceMidnight();
    // The voice test's first replay must be served by the device, not by what we just wrote.
    test_file_.DropCachedPages();
    const float elapsed = ElapsedSeconds(start, end);
    // Keys typed during the write would close the result unread.
    platform_.DiscardTypeAhead();
    writing_ = false;
    if (unloaded_) return;

    platform_.SetMousePointer(MousePointer::kDefault);
    platform_.SetLabelVisible(LabelId::kLabel4, false);
    if (!ShowTestMessage(ResultMessage(elapsed))) return;
    if (!ShowTestMessage(InstructionMessage())) return;
    platform_.SetLabelEnabled(LabelId::kLabel1, true);
  } catch (const RunError&) {
    writing_ = false;
    // Failed after the user left (the close took the file away): nobody waits for the box.
    if (!unloaded_) FailDiskTest();
  }
}

bool Form1::ShowTestMessage(const std::string& prompt) {
  platform_.ShowMessage(prompt, MessageStyle::kInformation, kTestTitle);
  return !unloaded_;
}

void Form1::FailDiskTest() {
  // A half-written 700 MiB file (after a full disk, say) must not stay behind.
  RemoveTestFile();
  ending_ = true;
  platform_.ShowMessage(FailureMessage(), MessageStyle::kInformation, kFailureTitle);
  platform_.EndProgram(1);
  std::abort();  // a back end whose EndProgram returned would leave the run in a broken state
}

}  // namespace sorel
