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

void Form1::RunDiskTest() {
  platform_.SetLabelEnabled(LabelId::kLabel1, false);
  Cnt = 5;
  platform_.ShowMessage(StartMessage(), MessageStyle::kInformation, kTestTitle);
  if (unloaded_) return;

  platform_.SetMousePointer(MousePointer::kBusy);
  platform_.SetLabelCaption(LabelId::kLabel4, kProgressCaption);
  platform_.SetLabelVisible(LabelId::kLabel4, true);
  test_file_.DeleteLeftover(kRecordLength * record_written_);
  // Gets the pointer and progress label drawn before the write starts.
  ProcessPendingEventsIgnoringErrors();
  // Closed meanwhile: the window is gone, so nothing must be created any more.
  if (unloaded_) return;
  // Outside the timed span, so that it costs the figure nothing.
  platform_.WaitForScreenReader();
  if (unloaded_) return;

  try {
    const std::array<std::uint8_t, kRecordBufferSize> buffer{};
    writing_ = true;
    const float start = platform_.SecondsSinceMidnight();
    test_file_.Open();
    // Between the pieces the desktop is answered, so that it never takes the window for hung;
    // a close meanwhile stops the write, and the file goes with the window.
    const bool written = test_file_.WriteRecordExtending(record_written_, buffer, [this] {
      platform_.KeepWindowAnswering();
      return !unloaded_;
    });
    writing_ = written;
    if (!written) return;  // the unload has removed the file
    const float end = platform_.SecondsSinceMidnight();
    // The voice test's first replay must be served by the device, not by what we just wrote.
    test_file_.DropCachedPages();
    const float elapsed = ElapsedSeconds(start, end);
    // Keys typed during the write would close the result unread.
    platform_.DiscardTypeAhead();
    writing_ = false;

    platform_.SetMousePointer(MousePointer::kDefault);
    platform_.SetLabelVisible(LabelId::kLabel4, false);
    platform_.ShowMessage(ResultMessage(elapsed), MessageStyle::kInformation, kTestTitle);
    if (unloaded_) return;
    platform_.ShowMessage(InstructionMessage(), MessageStyle::kInformation, kTestTitle);
    if (unloaded_) return;
    platform_.SetLabelEnabled(LabelId::kLabel1, true);
  } catch (const RunError&) {
    writing_ = false;
    FailDiskTest();
  }
}

void Form1::FailDiskTest() {
  // A half-written 700 MiB file (after a full disk, say) must not stay behind.
  RemoveTestFile();
  platform_.ShowMessage(FailureMessage(), MessageStyle::kInformation, kFailureTitle);
  platform_.EndProgram(1);
  std::abort();  // a back end whose EndProgram returned would leave the run in a broken state
}

}  // namespace sorel
