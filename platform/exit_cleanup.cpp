#include <cstdlib>

#include "app/form1.h"
#include "platform/program.h"

namespace sorel {
namespace {

// A plain pointer: it must still be valid while exit() runs the handlers.
Form1* armed_form = nullptr;

void RemoveArmedFormsTestFile() {
  if (armed_form != nullptr) armed_form->RemoveTestFile();
}

}  // namespace

ExitCleanup::ExitCleanup(Form1& form) {
  static const bool registered = std::atexit(RemoveArmedFormsTestFile) == 0;
  if (registered) armed_form = &form;
}

ExitCleanup::~ExitCleanup() { armed_form = nullptr; }

}  // namespace sorel
