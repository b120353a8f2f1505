#include "platform/program.h"

#include <QApplication>
#include <QWidget>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/screen_reader.h"
#include "platform/qt/termination_signals.h"

namespace sorel {

int RunProgram(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("SorelCheck");

  // The progress label is spoken as it shows, so the wait for the test file is not silent.
  AnnounceLabelWhenShown("Label4");
  QtPlatform platform;
  Form1 form(platform);
  // Qt ends the process with exit() when the display goes away (a crashed or closed X
  // session), bypassing the window's unload; the 700 MiB file must not outlive it even then.
  const ExitCleanup exit_cleanup(form);
  MainWindow window(form);
  platform.Attach(window);

  // Ends the run as closing the window would, for a signal or a window destroyed from outside.
  const auto unload = [&window] {
    // A message box may be open: close it so the run below it can see the window is gone.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget != &window && widget->isVisible()) widget->close();
    }
    window.Unload();
  };
  RouteTerminationSignals(unload);
  const WindowDestroyedWatch destroyed_watch(window, unload);

  DispatchToForm(form, [&] { form.Form_Load(); });
  window.show();
  // No window manager activates a new window by itself.
  window.activateWindow();
  window.raise();
  QApplication::exec();

  DispatchToForm(form, [&] { form.Form_Terminate(); });
  return 0;
}

}  // namespace sorel
