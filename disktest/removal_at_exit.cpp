#include "disktest/removal_at_exit.h"

#include <cstdlib>

#include "app/form1.h"
#include "platform/seam/run_error.h"

namespace sorel {
namespace {

// A plain pointer: it must still be valid while exit() runs the handlers.
RecordFile* armed_test_file = nullptr;

void RemoveArmedTestFile() {
  if (armed_test_file != nullptr) armed_test_file->CloseAndDelete();
}

}  // namespace

RemovalAtExit::RemovalAtExit(RecordFile& test_file) {
  static const bool registered = std::atexit(RemoveArmedTestFile) == 0;
  if (registered) armed_test_file = &test_file;
}

RemovalAtExit::~RemovalAtExit() { armed_test_file = nullptr; }

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
