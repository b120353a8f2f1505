#pragma once

#include <QAbstractNativeEventFilter>
#include <QWidget>
#include <functional>

namespace sorel {

// Turns SIGINT, SIGTERM and SIGHUP into a call of on_signal from the event loop, so the
// program ends through the window's normal unload and removes its test file.
void RouteTerminationSignals(std::function<void()> on_signal);

// While it lives, the destruction of the window's X window by another X client
// (`xdotool windowclose`, say) calls on_destroyed from the event loop. Qt itself only notes the
// window unexposed and would go on running with no window that a key could reach.
class WindowDestroyedWatch : public QAbstractNativeEventFilter {
 public:
  WindowDestroyedWatch(const QWidget& window, std::function<void()> on_destroyed);
  ~WindowDestroyedWatch() override;
  WindowDestroyedWatch(const WindowDestroyedWatch&) = delete;
  WindowDestroyedWatch& operator=(const WindowDestroyedWatch&) = delete;

  bool nativeEventFilter(const QByteArray& event_type, void* message, qintptr* result) override;

 private:
  const QWidget& window_;
  std::function<void()> on_destroyed_;
};

}  // namespace sorel
