#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace driver {

// Ends the scenario at once: whatever follows would only report consequences.
struct Abort {
  std::wstring reason;
};

// One line of the log, "ok   - what" or "FAIL - what"; returns ok.
bool Check(bool ok, const std::wstring& what);
bool CheckText(const std::wstring& actual, const std::wstring& expected, const std::wstring& what);
int FailureCount();
void Say(const std::wstring& line);
// Line ends made visible, so a CR where a CR LF belongs shows in the log.
std::wstring Shown(const std::wstring& text);

// Asks run_e2e.py about what only the host can see; true when it answers "ok".
bool AskHost(const char* question);

bool WaitFor(const std::function<bool()>& condition, DWORD timeout_ms, DWORD step_ms = 10);

}  // namespace driver
