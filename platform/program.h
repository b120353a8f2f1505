#pragma once

namespace sorel {

class Form1;

// Program start and event loop of the back end that was built in: creates the window object,
// loads, shows and activates it, dispatches events until it is unloaded, then releases it.
int RunProgram(int argc, char** argv);

// While one of these lives, a process that ends through exit() without the window's unload
// (Qt does so when the display goes away) still closes and removes the form's test file.
class ExitCleanup {
 public:
  explicit ExitCleanup(Form1& form);
  ~ExitCleanup();
  ExitCleanup(const ExitCleanup&) = delete;
  ExitCleanup& operator=(const ExitCleanup&) = delete;
};

}  // namespace sorel
