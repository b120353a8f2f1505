#include "platform/qt/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace sorel {
namespace {

int signal_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signal_number) {
  const char byte = static_cast<char>(signal_number);
  [[maybe_unused]] const ssize_t ignored = ::write(signal_pipe[1], &byte, 1);
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

}  // namespace sorel
