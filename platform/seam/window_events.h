#pragma once

#include <cstdint>

namespace sorel {

// The keys the program acts on, by their Windows virtual-key codes.
inline constexpr std::int16_t kVkEscape = 27;
inline constexpr std::int16_t kVkUp = 38;
inline constexpr std::int16_t kVkDown = 40;

// What a back end reports of its window, translated from its native events. The core decides
// what each one means; a back end keeps no rules of its own about them.
class WindowEvents {
 public:
  // The window became the active one (again: message boxes and event processing re-activate it).
  virtual void Activated() = 0;
  // A key went down, by its virtual-key code; shift bits: 1 Shift, 2 Ctrl, 4 Alt.
  virtual void KeyDown(std::int16_t key_code, std::int16_t shift) = 0;
  // Someone wants the window gone: its close button, the window manager, a signal, the end of
  // the session, the window destroyed from outside.
  virtual void CloseRequested() = 0;

 protected:
  ~WindowEvents() = default;
};

}  // namespace sorel
