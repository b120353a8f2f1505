#include "platform/qt/qt_platform.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTime>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/screen_reader.h"
#include "voicetest/samples.h"

namespace sorel {
namespace {

QMessageBox::Icon IconForStyle(MessageStyle style) {
  return style == MessageStyle::kCritical ? QMessageBox::Critical : QMessageBox::Information;
}

}  // namespace

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
  QWidget* owner = window_->unloaded() ? nullptr : window_;
  LeaveWindowForBox();
  const QString text = WithPlainLineBreaks(prompt);
  QMessageBox box(IconForStyle(style), QString::fromStdString(title), text, QMessageBox::Ok, owner);
  // Qt wraps anything wider than 500 px, which breaks Japanese lines mid-word: keep each line
  // whole, as the lines were written.
  if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
    int widest = 0;
    for (const QString& line : text.split('\n')) {
      widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
    }
    label->setMinimumWidth(widest + 2);
  }
  box.exec();
  // Without a window manager the focus would stay on the root window after the box closes.
  if (!window_->unloaded()) window_->activateWindow();
}

void QtPlatform::ProcessPendingEvents() {
  QCoreApplication::processEvents();
  // The progress label has just shown and the write is next: let a screen reader speak it.
  if (!window_->unloaded() && window_->label(LabelId::kLabel4)->isVisible()) {
    LetScreenReaderCatchUp();
  }
}

void QtPlatform::UnloadWindow() { window_->Unload(); }

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

// The samples the voice test plays, decoded before the first key so that the first play of
// each costs no more than its repeat.
std::vector<std::string> QtPlatform::SamplePaths() {
  const std::string folder = QCoreApplication::applicationDirPath().toStdString() + "/";
  std::vector<std::string> paths;
  for (int number = 1; number <= kSampleCount; ++number) {
    paths.push_back(folder + SampleFileName(number));
  }
  return paths;
}

void QtPlatform::StartSound(const std::string& path) { sound_player_.Play(path); }

}  // namespace sorel
