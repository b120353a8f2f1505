#include "platform/testing/scripted_platform.h"

namespace sorel {

void ScriptedPlatform::OpenWindowImpl(const WindowLayout& layout) {
  for (const LabelLayout& label : layout.labels) {
    if (label.role == LabelRole::kWelcomePanel) welcome_ = label.id;
    if (label.role == LabelRole::kAnnouncedWhenShown) {
      announced_ = label.id;
      announced_caption_ = label.caption;
    }
  }
  window_open_ = true;
}

void ScriptedPlatform::ShowAndActivate() { events().Activated(); }

void ScriptedPlatform::PressKey(std::int16_t key_code) {
  if (window_open_) events().KeyDown(key_code, 0);  // no window, no key events
}

void ScriptedPlatform::CloseWindow() {
  if (window_open_) events().CloseRequested();
}

std::string ScriptedPlatform::Screen() const {
  return std::to_string(static_cast<int>(pointer_)) + (welcome_enabled_ ? "/on/" : "/off/") +
         (announced_visible_ ? "shown " : "hidden ") + announced_caption_;
}

void ScriptedPlatform::ShowMessage(const std::string& prompt, MessageStyle style,
                                   const std::string& title) {
  const std::size_t index = messages_.size();
  messages_.push_back({prompt, style, title, Screen()});
  // A modal box runs its own loop; the window re-activates when it closes.
  if (auto it = while_message_shown.find(index); it != while_message_shown.end()) it->second();
  if (window_open_) events().Activated();
}

}  // namespace sorel
