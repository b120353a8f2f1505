#include "app/form_runner.h"

#include <exception>
#include <new>

#include "app/labels.h"
#include "disktest/removal_at_exit.h"
#include "platform/seam/run_error.h"

namespace sorel {

int FormRunner::Run() {
  // Qt ends the process with exit() when the display goes away, bypassing the unload; the
  // 700 MiB file must not outlive it even then.
  const RemovalAtExit removal_at_exit(form_.test_file());
  Start();
  platform_.RunEventLoop();
  Finish();
  return 0;
}

void FormRunner::Start() {
  // Where the system offers it (Windows), it removes the file however the process ends: a
  // kill, a forced sign-out.
  form_.test_file().DeleteWhenLastClosed();
  platform_.PrepareSounds(form_.SamplePaths());
  platform_.OpenWindow(kWindowLayout, *this);
  Dispatch([this] { form_.Form_Load(); });
  platform_.ShowAndActivate();
}

void FormRunner::Finish() {
  Dispatch([this] { form_.Form_Terminate(); });
}

void FormRunner::Activated() {
  if (form_.unloaded() || form_.ending()) return;
  platform_.CallFromEventLoop([this] {
    if (!form_.unloaded()) Dispatch([this] { form_.Form_Activate(); });
  });
}

void FormRunner::KeyDown(std::int16_t key_code, std::int16_t shift) {
  // During the write only the desktop is served: the user waits for the result.
  if (form_.unloaded() || form_.writing() || form_.ending()) return;
  Dispatch([&] { form_.Form_KeyDown(key_code, shift); });
}

void FormRunner::CloseRequested() {
  // The failure message or an error report shows, the file is gone already: leave at once.
  if (form_.ending()) platform_.EndProgram(0);
  if (form_.unloaded()) return;
  std::int16_t cancel = 0;
  Dispatch([&] { form_.Form_Unload(cancel); });
  platform_.EndWindow();
}

template <typename Handler>
void FormRunner::Dispatch(Handler&& handler) {
  try {
    handler();
  } catch (const RunError& error) {
    form_.ReportUnhandledError(error);
  } catch (const std::bad_alloc&) {
    form_.ReportUnhandledError(RunError(kErrOutOfMemory));
  } catch (const std::exception&) {
    form_.ReportUnhandledError(RunError(kErrInternal));
  }
}

}  // namespace sorel
