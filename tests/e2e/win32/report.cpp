#include "report.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/text.h"

namespace driver {
namespace {

int failures = 0;
const ULONGLONG started = GetTickCount64();

}  // namespace

void Say(const std::wstring& line) {
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%6.2f ", (GetTickCount64() - started) / 1000.0);
  std::fputs((stamp + sorel::Utf8FromUtf16(line) + "\n").c_str(), stdout);
  std::fflush(stdout);
}

bool Check(bool ok, const std::wstring& what) {
  Say((ok ? L"ok   - " : L"FAIL - ") + what);
  if (!ok) ++failures;
  return ok;
}

bool CheckText(const std::wstring& actual, const std::wstring& expected, const std::wstring& what) {
  if (actual == expected) return Check(true, what + L": \"" + Shown(actual) + L"\"");
  return Check(false,
               what + L": got \"" + Shown(actual) + L"\", want \"" + Shown(expected) + L"\"");
}

int FailureCount() { return failures; }

std::wstring Shown(const std::wstring& text) {
  std::wstring shown;
  for (wchar_t c : text) {
    if (c == L'\r') {
      shown += L"\\r";
    } else if (c == L'\n') {
      shown += L"\\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

bool AskHost(const char* question) {
  std::printf("? %s\n", question);
  std::fflush(stdout);
  char answer[256] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return std::strncmp(answer, "ok", 2) == 0;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeout_ms, DWORD step_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(step_ms);
  }
}

}  // namespace driver
