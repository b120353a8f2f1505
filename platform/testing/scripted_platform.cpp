#include "platform/testing/scripted_platform.h"

#include "app/dispatch.h"
#include "app/form1.h"

namespace sorel {

void ScriptedPlatform::StartProgram() {
  DispatchToForm(*form_, [&] { form_->Form_Load(); });
  DispatchToForm(*form_, [&] { form_->Form_Activate(); });
}

void ScriptedPlatform::PressKey(std::int16_t key_code) {
  if (!window_loaded_) return;  // no window, no key events
  DispatchToForm(*form_, [&] {
    std::int16_t key = key_code, shift = 0;
    form_->Form_KeyDown(key, shift);
  });
}

void ScriptedPlatform::CloseWindow() {
  if (window_loaded_) DispatchToForm(*form_, [&] { UnloadWindow(); });
}

std::string ScriptedPlatform::Screen() const {
  return std::to_string(static_cast<int>(pointer_)) + (label1_enabled_ ? "/on/" : "/off/") +
         (label4_visible_ ? "shown " : "hidden ") + label4_caption_;
}

void ScriptedPlatform::ShowMessage(const std::string& prompt, MessageStyle style,
                                   const std::string& title) {
  const std::size_t index = messages_.size();
  messages_.push_back({prompt, style, title, Screen()});
  // A modal box runs its own loop; the window re-activates when it closes.
  if (auto it = while_message_shown.find(index); it != while_message_shown.end()) it->second();
  if (window_loaded_ && form_ != nullptr) DispatchToForm(*form_, [&] { form_->Form_Activate(); });
}

void ScriptedPlatform::UnloadWindow() {
  if (!window_loaded_) return;
  window_loaded_ = false;
  std::int16_t cancel = 0;
  form_->Form_Unload(cancel);
}

}  // namespace sorel
