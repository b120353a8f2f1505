#include "platform/qt/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>

namespace sorel {
namespace {

int signal_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signal_number) {
  // The signal may land between a failed call and the look at its errno.
  const int saved_errno = errno;
  const char byte = static_cast<char>(signal_number);
  [[maybe_unused]] const ssize_t ignored = ::write(signal_pipe[1], &byte, 1);
  errno = saved_errno;
}

}  // namespace

void RouteTerminationSignals(std::function<void()> on_signal) {
  if (::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier =
      new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [on_signal] {
    char drained[16];
    while (::read(signal_pipe[0], drained, sizeof drained) > 0) {
    }
    on_signal();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

WindowDestroyedWatch::WindowDestroyedWatch(const QWidget& window,
                                           std::function<void()> on_destroyed)
    : window_(window), on_destroyed_(std::move(on_destroyed)) {
  QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowDestroyedWatch::~WindowDestroyedWatch() {
  QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool WindowDestroyedWatch::nativeEventFilter(const QByteArray& event_type, void* message,
                                             qintptr* /*result*/) {
  if (event_type != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & ~0x80) != XCB_DESTROY_NOTIFY) return false;
  // Without creating a native window where none is.
  if (static_cast<const xcb_destroy_notify_event_t*>(message)->window != window_.internalWinId()) {
    return false;
  }
  // Outside the filter: the unload processes events and closes message boxes.
  QTimer::singleShot(0, QCoreApplication::instance(), on_destroyed_);
  return false;
}

}  // namespace sorel
