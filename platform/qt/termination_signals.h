#pragma once

#include <functional>

namespace sorel {

// Turns SIGINT, SIGTERM and SIGHUP into a call of on_signal from the event loop, so the
// program ends through the window's normal unload and removes its test file.
void RouteTerminationSignals(std::function<void()> on_signal);

}  // namespace sorel
