#pragma once

#include <cstdint>

#include "app/form1.h"
#include "platform/seam/platform.h"
#include "platform/seam/window_events.h"

namespace sorel {

// The window's life, the same on every back end: opens, loads and shows the window, delivers
// its events to Form1 by one set of rules, and terminates the form when the window is gone.
// The rules: the activation handler never runs inside the activation event itself (the disk
// test opens modal loops); nothing reaches the form once it is unloaded; it unloads once,
// however many ways the window is closed at the same time; keys that come while the test file
// is being written are not acted on; a close while the failure message or an error report
// shows ends the program at once; and every error that leaves a handler stops here, reported
// by the form.
class FormRunner : public WindowEvents {
 public:
  FormRunner(Form1& form, Platform& platform) : form_(form), platform_(platform) {}

  // The whole life of the program; returns its exit status.
  int Run();
  // Run's parts, for tests that deliver events between them.
  void Start();
  void Finish();

  void Activated() override;
  void KeyDown(std::int16_t key_code, std::int16_t shift) override;
  void CloseRequested() override;

 private:
  template <typename Handler>
  void Dispatch(Handler&& handler);

  Form1& form_;
  Platform& platform_;
};

}  // namespace sorel
