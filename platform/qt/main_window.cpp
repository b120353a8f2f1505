#include "platform/qt/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QTimer>

#include "platform/qt/welcome_font.h"

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
      return 0;  // the program acts on no other key
  }
}

std::int16_t ShiftState(Qt::KeyboardModifiers modifiers) {
  return static_cast<std::int16_t>((modifiers & Qt::ShiftModifier ? 1 : 0) |
                                   (modifiers & Qt::ControlModifier ? 2 : 0) |
                                   (modifiers & Qt::AltModifier ? 4 : 0));
}

QFont JapaneseFont(const char* family, int points) {
  QFont font;
  font.setFamilies({QString::fromUtf8(family), "IPAPGothic", "VL PGothic", "Noto Sans CJK JP"});
  font.setPointSize(points);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace

QString LabelObjectName(LabelId id) { return QString("Label%1").arg(static_cast<int>(id)); }

QString WithPlainLineBreaks(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace("\r\n", "\n");
  result.replace('\r', '\n');
  return result;
}

MainWindow::MainWindow(const WindowLayout& layout, WindowEvents& events) : events_(events) {
  // A fixed frame: no maximise button on a window that cannot be resized.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf8(layout.caption));
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addFile(QString(":/icon/%1.png").arg(size));
  setWindowIcon(icon);
  setFont(JapaneseFont(layout.welcome_font_family, 9));

  auto* client = new QWidget(this);
  client->setFocusPolicy(Qt::NoFocus);
  setCentralWidget(client);
  setFixedSize(layout.client_width, layout.client_height);
  setFocusPolicy(Qt::StrongFocus);

  QLabel* welcome = nullptr;
  QList<FittedText> others;  // in the window's font, each with the longest text it shows
  for (const LabelLayout& placement : layout.labels) {
    auto* label = new QLabel(client);
    // Named before its text: the accessible interface is chosen by name on the first change.
    label->setObjectName(LabelObjectName(placement.id));
    label->setText(WithPlainLineBreaks(placement.caption));
    label->setGeometry(placement.left, placement.top, placement.width, placement.height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setFocusPolicy(Qt::NoFocus);
    label->setVisible(placement.visible_at_start);
    labels_[placement.id] = label;
    if (placement.role == LabelRole::kWelcomePanel) {
      welcome = label;
    } else {
      const char* shown = placement.later_caption ? placement.later_caption : placement.caption;
      others.append({WithPlainLineBreaks(shown), label->size()});
    }
  }
  // No label may cut its text, whichever Japanese faces this desktop has.
  setFont(FittingFont(font(), others));
  if (welcome == nullptr) return;
  welcome->setFont(FittingFont(JapaneseFont(layout.welcome_font_family, layout.welcome_font_points),
                               {{welcome->text(), welcome->size()}}));
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
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) events_.Activated();
  return QMainWindow::event(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  events_.KeyDown(VirtualKeyCode(event->key()), ShiftState(event->modifiers()));
  event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  events_.CloseRequested();
}

}  // namespace sorel
