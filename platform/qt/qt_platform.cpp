#include "platform/qt/qt_platform.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTime>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/qt/message_box.h"
#include "platform/qt/screen_reader.h"
#include "platform/seam/program.h"

namespace sorel {
namespace {

QMessageBox::Icon IconForStyle(MessageStyle style) {
  return style == MessageStyle::kCritical ? QMessageBox::Critical : QMessageBox::Information;
}

// The variable's value, empty when it is unset.
std::string_view Environment(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "";
}

// In the language the user's locale asks for: Japanese, or else English.
const char* NoDesktopMessage() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (Environment(variable).empty()) continue;
    if (Environment(variable).starts_with("ja")) {
      return "SorelCheck はデスクトップのセッションの中で起動してください"
             "（DISPLAY も WAYLAND_DISPLAY も設定されていません）。\n";
    }
    break;
  }
  return "SorelCheck needs a desktop session: start it on your desktop "
         "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n";
}

}  // namespace

std::unique_ptr<Platform> CreatePlatform(int& argc, char** argv) {
  // Started over ssh, say: Qt would abort with a core dump and advice to reinstall.
  if (Environment("DISPLAY").empty() && Environment("WAYLAND_DISPLAY").empty() &&
      Environment("QT_QPA_PLATFORM").empty()) {
    std::fputs(NoDesktopMessage(), stderr);
    std::exit(1);
  }
  return std::make_unique<QtPlatform>(argc, argv);
}

QtPlatform::QtPlatform(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName("SorelCheck");
}

void QtPlatform::OpenWindowImpl(const WindowLayout& layout) {
  for (const LabelLayout& label : layout.labels) {
    if (label.role == LabelRole::kAnnouncedWhenShown) {
      AnnounceLabelWhenShown(LabelObjectName(label.id));
    }
  }
  window_ = std::make_unique<MainWindow>(layout, events());
  const auto close_requested = [this] { events().CloseRequested(); };
  RouteTerminationSignals(close_requested);
  destroyed_watch_ = std::make_unique<WindowDestroyedWatch>(*window_, close_requested);
}

void QtPlatform::ShowAndActivate() {
  window_->show();
  // No window manager activates a new window by itself.
  window_->activateWindow();
  window_->raise();
}

void QtPlatform::RunEventLoop() { QApplication::exec(); }

void QtPlatform::EndWindow() {
  // A message box may be open: close it so the run below it sees the window gone.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget != window_.get() && widget->isVisible()) widget->close();
  }
  window_->close();
  // Also ends modal loops still running below us.
  QCoreApplication::exit(0);
}

void QtPlatform::CallFromEventLoop(std::function<void()> call) {
  QTimer::singleShot(0, window_.get(), std::move(call));
}

void QtPlatform::SetLabelCaption(LabelId label, const std::string& text) {
  window_->label(label)->setText(WithPlainLineBreaks(text));
}

void QtPlatform::SetLabelVisible(LabelId label, bool visible) {
  window_->label(label)->setVisible(visible);
}

void QtPlatform::SetLabelEnabled(LabelId label, bool enabled) {
  window_->label(label)->setEnabled(enabled);
}

void QtPlatform::SetMousePointer(MousePointer pointer) {
  if (pointer == MousePointer::kBusy) {
    window_->setCursor(Qt::WaitCursor);
  } else {
    window_->unsetCursor();
  }
}

void QtPlatform::ShowMessage(const std::string& prompt, MessageStyle style,
                             const std::string& title) {
  // Owned by the window while it is there; a box after it is gone (an error report) stands alone.
  QWidget* owner = WindowShown() ? window_.get() : nullptr;
  LeaveWindowForBox();
  const QString text = WithPlainLineBreaks(prompt);
  QMessageBox box(IconForStyle(style), QString::fromStdString(title), text, QMessageBox::Ok, owner);
  KeepLinesWhole(box, text);
  box.exec();
  // Without a window manager the focus would stay on the root window after the box closes.
  if (WindowShown()) window_->activateWindow();
}

void QtPlatform::ProcessPendingEvents() { QCoreApplication::processEvents(); }

void QtPlatform::WaitForScreenReader() { LetScreenReaderCatchUp(); }

// Keys come through too, to be dropped by the core: held back, they would reach the result box.
void QtPlatform::KeepWindowAnswering() { QCoreApplication::processEvents(); }

void QtPlatform::DiscardTypeAhead() { QCoreApplication::processEvents(); }

void QtPlatform::EndProgram(int exit_status) {
  std::fflush(nullptr);
  std::_Exit(exit_status);
}

float QtPlatform::SecondsSinceMidnight() {
  return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay() / 1000.0);
}

std::string QtPlatform::ProgramFolder() {
  return QCoreApplication::applicationDirPath().toStdString();
}

// Decoded before the first key, so that the first play of each costs no more than its repeat.
void QtPlatform::PrepareSounds(const std::vector<std::string>& paths) {
  sound_player_.emplace(paths);
}

void QtPlatform::StartSound(const std::string& path) {
  if (sound_player_) sound_player_->Play(path);
}

}  // namespace sorel
