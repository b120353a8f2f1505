#include "app/form1.h"
#include "app/run_error.h"

namespace sorel {

void Form1::Form_Unload(std::int16_t& /*Cancel*/) {
  unloaded_ = true;
  RemoveTestFile();
  ProcessPendingEventsIgnoringErrors();
}

void Form1::Form_Terminate() {
  RemoveTestFile();
  ProcessPendingEventsIgnoringErrors();
}

void Form1::ProcessPendingEventsIgnoringErrors() {
  try {
    platform_.ProcessPendingEvents();
  } catch (const RunError&) {
  }
}

}  // namespace sorel
