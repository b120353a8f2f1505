#pragma once

#include <QLabel>
#include <QMainWindow>
#include <map>

#include "platform/seam/platform.h"
#include "platform/seam/window_events.h"

namespace sorel {

// The program's window: fixed client area, labels as the layout places them, and its events
// reported as they come.
class MainWindow : public QMainWindow {
 public:
  MainWindow(const WindowLayout& layout, WindowEvents& events);

  QLabel* label(LabelId id) { return labels_.at(id); }

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  WindowEvents& events_;
  std::map<LabelId, QLabel*> labels_;
};

// The object name a label gets, by which other parts of the back end find it.
QString LabelObjectName(LabelId id);

// Qt shows a CR or CR LF as a line break but screen readers get the raw characters.
QString WithPlainLineBreaks(const std::string& text);

}  // namespace sorel
