#pragma once

#include <QLabel>
#include <QMainWindow>
#include <map>

#include "app/form1.h"

namespace sorel {

// The program's window: fixed client area, four labels, every key press to the form.
class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(Form1& form);

  QLabel* label(LabelId id) { return labels_.at(id); }
  bool unloaded() const { return unloaded_; }
  // Closes the window as the close button would; Form_Unload runs before this returns.
  void Unload();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  Form1& form_;
  std::map<LabelId, QLabel*> labels_;
  bool unloaded_ = false;
};

// Qt shows a CR or CR LF as a line break but screen readers get the raw characters.
QString WithPlainLineBreaks(const std::string& text);

}  // namespace sorel
