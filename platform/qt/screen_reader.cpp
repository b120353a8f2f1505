#include "platform/qt/screen_reader.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

namespace sorel {
namespace {

constexpr int kQuietMilliseconds = 250;
constexpr int kLongestMilliseconds = 2000;

QString& AnnouncedName() {
  static QString name;
  return name;
}

// QLabel's own interface, but with the notification role.
class NotificationLabel : public QAccessibleWidget {
 public:
  explicit NotificationLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::Notification) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
      return static_cast<const QLabel*>(widget())->text();
    }
    return QAccessibleWidget::text(kind);
  }
};

QAccessibleInterface* NotificationFactory(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String("QLabel") || AnnouncedName().isEmpty() ||
      object->objectName() != AnnouncedName()) {
    return nullptr;
  }
  return new NotificationLabel(static_cast<QLabel*>(object));
}

// Sees every question from the accessibility bus: Qt hands each call to its D-Bus object on
// this thread as a posted call event.
class QuestionWatch : public QObject {
 public:
  explicit QuestionWatch(QTimer& quiet) : quiet_(quiet) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~QuestionWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

  bool eventFilter(QObject* receiver, QEvent* event) override {
    if (event->type() == QEvent::MetaCall && receiver->inherits("QDBusVirtualObject")) {
      quiet_.start();
    }
    return false;
  }

 private:
  QTimer& quiet_;
};

}  // namespace

void AnnounceLabelWhenShown(const QString& object_name) {
  AnnouncedName() = object_name;
  QAccessible::installFactory(NotificationFactory);
}

void LetScreenReaderCatchUp() {
  if (!QAccessible::isActive()) return;
  QEventLoop loop;
  QTimer quiet;
  quiet.setSingleShot(true);
  quiet.setInterval(kQuietMilliseconds);
  QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  const QuestionWatch watch(quiet);
  quiet.start();
  limit.start(kLongestMilliseconds);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void LeaveWindowForBox() {
  if (QAccessible::isActive() && QApplication::activeWindow()) {
    QApplication::setActiveWindow(nullptr);
  }
}

}  // namespace sorel
