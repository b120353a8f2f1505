#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/program.h"
#include "platform/win32/main_window.h"
#include "platform/win32/win32_platform.h"

namespace sorel {

int RunProgram(int /*argc*/, char** /*argv*/) {
  // Before the program loads any library itself: a DLL planted beside the exe (in Downloads,
  // say) must never be taken for a system one, least of all in a program that runs elevated.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

  // With the manifest's common-controls dependency, message boxes get the current look.
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  Win32Platform platform;
  Form1 form(platform);
  // Whatever ends the process (a kill, a forced sign-out), the system removes the 700 MiB file.
  form.test_file().DeleteWhenLastClosed();
  MainWindow window(form);
  platform.Attach(window);
  if (!window.Create(GetModuleHandleW(nullptr))) return 1;

  DispatchToForm(form, [&] { form.Form_Load(); });
  window.Show();

  // Ends when the window is destroyed, whichever way it was closed.
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  DispatchToForm(form, [&] { form.Form_Terminate(); });
  return 0;
}

}  // namespace sorel
