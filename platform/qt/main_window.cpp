#include "platform/qt/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QTimer>

#include "app/dispatch.h"
#include "app/labels.h"

namespace sorel {
namespace {

std::int16_t VirtualKeyCode(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Down:
      return kVkDown;
    case Qt::Key_Up:
      return kVkUp;
    case Qt::Key_Escape:
      return kVkEscape;
    default:
      return 0;  // the form acts on no other key
  }
}

std::int16_t ShiftState(Qt::KeyboardModifiers modifiers) {
  return static_cast<std::int16_t>((modifiers & Qt::ShiftModifier ? 1 : 0) |
                                   (modifiers & Qt::ControlModifier ? 2 : 0) |
                                   (modifiers & Qt::AltModifier ? 4 : 0));
}

QFont JapaneseFont(int points) {
  QFont font;
  font.setFamilies({QString::fromUtf8(kWelcomeFontFamily), "IPAPGothic", "Noto Sans CJK JP"});
  font.setPointSize(points);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace

QString WithPlainLineBreaks(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace("\r\n", "\n");
  result.replace('\r', '\n');
  return result;
}

MainWindow::MainWindow(Form1& form) : form_(form) {
  // A fixed frame: no maximise button on a window that cannot be resized.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf8(kWindowCaption));
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addFile(QString(":/icon/%1.png").arg(size));
  setWindowIcon(icon);
  setFont(JapaneseFont(9));

  auto* client = new QWidget(this);
  client->setFocusPolicy(Qt::NoFocus);
  setCentralWidget(client);
  setFixedSize(kClientWidth, kClientHeight);

  for (const LabelLayout& placement : kLabels) {
    auto* label = new QLabel(client);
    // Named before its text: the accessible interface is chosen by name on the first change.
    label->setObjectName(QString("Label%1").arg(static_cast<int>(placement.id)));
    label->setText(WithPlainLineBreaks(placement.caption));
    label->setGeometry(placement.left, placement.top, placement.width, placement.height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    label->setVisible(placement.visible_at_start);
    labels_[placement.id] = label;
  }
  QLabel* welcome = labels_.at(LabelId::kLabel1);
  welcome->setFont(JapaneseFont(kWelcomeFontPoints));
  // The welcome text stands on a window-coloured panel inside the dialog-coloured window.
  QPalette panel = welcome->palette();
  panel.setColor(QPalette::Window, panel.color(QPalette::Base));
  // With the text colour that goes with it, so dark and high-contrast themes stay readable;
  // the disabled group keeps its own, greyed one.
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    panel.setColor(group, QPalette::WindowText, panel.color(group, QPalette::Text));
  }
  welcome->setPalette(panel);
  welcome->setAutoFillBackground(true);

  setFocusPolicy(Qt::StrongFocus);
}

void MainWindow::Unload() {
  if (!unloaded_) close();
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && !unloaded_) {
    // Run outside the activation event itself: the disk test opens modal loops.
    QTimer::singleShot(0, this, [this] {
      if (!unloaded_) DispatchToForm(form_, [this] { form_.Form_Activate(); });
    });
  }
  return QMainWindow::event(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  std::int16_t key_code = VirtualKeyCode(event->key());
  std::int16_t shift = ShiftState(event->modifiers());
  if (!unloaded_) DispatchToForm(form_, [&] { form_.Form_KeyDown(key_code, shift); });
  event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (unloaded_) return;
  unloaded_ = true;
  std::int16_t cancel = 0;
  DispatchToForm(form_, [&] { form_.Form_Unload(cancel); });
  // Also ends modal loops still running below us (a message box, say).
  QCoreApplication::exit(0);
}

}  // namespace sorel
