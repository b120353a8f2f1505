#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sorel {

class Form1;

// Thrown by EndProgram so a test can watch the program end without the process going away.
struct ProgramEnded {
  int exit_status;
};

// A back end without a screen: it records what the program shows and runs scripted user
// actions when the program lets events through or shows a message.
class ScriptedPlatform : public Platform {
 public:
  struct Message {
    std::string prompt;
    MessageStyle style;
    std::string title;
  };
  struct LabelState {
    std::string caption;
    bool visible = true;
    bool enabled = true;
  };
  using Action = std::function<void()>;

  ScriptedPlatform() { labels_[LabelId::kLabel4] = {"Label4", false, true}; }

  // The form whose handlers this back end calls, as the window system would.
  void Attach(Form1& form) { form_ = &form; }

  // User actions that wait for the next time the program processes pending events.
  void QueueEvent(Action action) { pending_events_.push_back(std::move(action)); }
  // Runs while message number `index` (from 0) is on screen, before the user presses OK.
  void WhileMessageShown(std::size_t index, Action action) {
    message_actions_[index] = std::move(action);
  }
  // Clock readings handed out in order; afterwards the last one repeats.
  void SetClock(std::vector<float> readings) { clock_ = std::move(readings); }
  void SetProgramFolder(std::string folder) { folder_ = std::move(folder); }

  // Load and first activation, as the window system delivers them: this runs the disk test.
  void StartProgram();
  // The key press as the window system delivers it, errors answered at the dispatch point.
  void PressKey(std::int16_t key_code);
  // The window closed from outside (close button, Escape): Form_Unload through dispatch.
  void CloseWindow();

  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<std::string>& sounds() const { return sounds_; }
  const LabelState& label(LabelId id) { return labels_[id]; }
  MousePointer pointer() const { return pointer_; }
  bool window_loaded() const { return window_loaded_; }
  int events_processed() const { return events_processed_; }
  // What the screen showed at each message box: "pointer/label1 enabled/label4 visible".
  const std::vector<std::string>& screen_at_messages() const { return screen_at_messages_; }

  void SetLabelCaption(LabelId label, const std::string& text) override;
  void SetLabelVisible(LabelId label, bool visible) override;
  void SetLabelEnabled(LabelId label, bool enabled) override;
  void SetMousePointer(MousePointer pointer) override { pointer_ = pointer; }
  void ShowMessage(const std::string& prompt, MessageStyle style,
                   const std::string& title) override;
  void ProcessPendingEvents() override;
  void DiscardTypeAhead() override {}
  void UnloadWindow() override;
  [[noreturn]] void EndProgram(int exit_status) override;
  float SecondsSinceMidnight() override;
  std::string ProgramFolder() override { return folder_; }
  void StartSound(const std::string& path) override { sounds_.push_back(path); }

 private:
  Form1* form_ = nullptr;
  std::deque<Action> pending_events_;
  std::map<std::size_t, Action> message_actions_;
  std::vector<float> clock_{0.0f};
  std::size_t clock_next_ = 0;
  std::string folder_ = "C:\\Program Files\\SorelCheck";
  std::vector<Message> messages_;
  std::vector<std::string> sounds_;
  std::vector<std::string> screen_at_messages_;
  std::map<LabelId, LabelState> labels_;
  MousePointer pointer_ = MousePointer::kDefault;
  bool window_loaded_ = true;
  int events_processed_ = 0;
};

}  // namespace sorel
