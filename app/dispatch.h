#pragma once

#include <exception>
#include <new>

#include "app/form1.h"
#include "app/run_error.h"

namespace sorel {

// Calls a handler of the form and answers any error that leaves it: the one place where such
// errors stop. Back ends route every window event through here.
template <typename Handler>
void DispatchToForm(Form1& form, Handler&& handler) {
  try {
    handler();
  } catch (const RunError& error) {
    form.ReportUnhandledError(error);
  } catch (const std::bad_alloc&) {
    form.ReportUnhandledError(RunError(kErrOutOfMemory));
  } catch (const std::exception&) {
    form.ReportUnhandledError(RunError(kErrInternal));
  }
}

}  // namespace sorel
