#include "platform/win32/win32_platform.h"

// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <string>
#include <utility>

#include "platform/seam/program.h"
#include "platform/win32/text.h"

namespace sorel {
namespace {

// The whole file, or nothing if it cannot be read; the samples are small.
std::vector<char> ReadSample(const std::wstring& path) {
  constexpr LONGLONG kLargest = 16 << 20;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER size{};
  std::vector<char> data;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kLargest) {
    data.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) ||
        got != data.size()) {
      data.clear();
    }
  }
  CloseHandle(file);
  return data;
}

}  // namespace

std::unique_ptr<Platform> CreatePlatform(int& /*argc*/, char** /*argv*/) {
  // Before the program loads any library itself: a DLL planted beside the exe (in Downloads,
  // say) must never be taken for a system one, least of all in a program that runs elevated.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // With the manifest's common-controls dependency, message boxes get the current look.
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  return std::make_unique<Win32Platform>();
}

Win32Platform::Win32Platform() {
  // Only the system's copy: winmm is no known DLL, so a plain load or a static import would
  // search the exe's folder first. Loaded at start, so the first key's voice is not delayed.
  const HMODULE winmm = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (winmm != nullptr) {
    // Through void (*)(): a cast between unrelated function types would draw a warning.
    play_sound_ = reinterpret_cast<decltype(&sndPlaySoundW)>(
        reinterpret_cast<void (*)()>(GetProcAddress(winmm, "sndPlaySoundW")));
  }
}

Win32Platform::~Win32Platform() {
  // Stopped before the sample's memory goes.
  if (play_sound_ != nullptr) play_sound_(nullptr, 0);
}

void Win32Platform::OpenWindowImpl(const WindowLayout& layout) {
  window_.emplace(events());
  if (!window_->Create(GetModuleHandleW(nullptr), layout)) EndProgram(1);
  if (const auto announced = window_->announced()) announced_.emplace(window_->label(*announced));
}

void Win32Platform::ShowAndActivate() { window_->Show(); }

void Win32Platform::RunEventLoop() {
  // Ends when the window is destroyed, whichever way it was closed.
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Also takes down a message box that the window owns, ending its modal loop.
void Win32Platform::EndWindow() { DestroyWindow(window_->handle()); }

void Win32Platform::CallFromEventLoop(std::function<void()> call) {
  window_->CallSoon(std::move(call));
}

void Win32Platform::SetLabelCaption(LabelId label, const std::string& text) {
  SetWindowTextW(window_->label(label), Utf16FromUtf8(text).c_str());
  if (label == window_->announced() && IsWindowVisible(announced_->control())) {
    announced_->Announce();
  }
}

void Win32Platform::SetLabelVisible(LabelId label, bool visible) {
  ShowWindow(window_->label(label), visible ? SW_SHOWNA : SW_HIDE);
  if (label == window_->announced() && visible) announced_->Announce();
}

void Win32Platform::SetLabelEnabled(LabelId label, bool enabled) {
  EnableWindow(window_->label(label), enabled ? TRUE : FALSE);
}

void Win32Platform::SetMousePointer(MousePointer pointer) {
  window_->SetBusyPointer(pointer == MousePointer::kBusy);
}

void Win32Platform::ShowMessage(const std::string& prompt, MessageStyle style,
                                const std::string& title) {
  // Owned by the window, so closing the window also ends the box; a box after the window is
  // gone (an error report) stands alone.
  HWND owner = window_->exists() ? window_->handle() : nullptr;
  MessageBoxW(owner, Utf16FromUtf8(prompt).c_str(), Utf16FromUtf8(title).c_str(),
              static_cast<UINT>(style));
}

namespace {

bool IsUserInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

}  // namespace

// Dispatches what the queue holds; PeekMessage also serves the messages other programs send
// (WM_NULL from the hung-window check, a screen reader's WM_GETOBJECT).
void Win32Platform::PumpMessages(bool drop_user_input) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Belongs to the main loop further out.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (drop_user_input && IsUserInput(message.message)) {
      DropInputExceptClose(message);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The one rule for the keys and clicks that are dropped: only the user's own ways of closing the
// window still count, Alt+F4 and the caption's close button pressed and let go, and they close it
// by the close command, as the system would, which ends in WM_CLOSE. Carried out here and not
// handed to DefWindowProc, which runs a modal loop for the close button's press until the button
// is let go, as it does for the system menu (Alt+Space, the icon), F10 and a drag of the title
// bar, each holding up the write. So the menu's Close stays out of reach: it comes only from
// inside the menu's own loop.
void Win32Platform::DropInputExceptClose(const MSG& message) {
  bool close = message.message == WM_SYSKEYDOWN && message.wParam == VK_F4 &&
               (HIWORD(message.lParam) & KF_ALTDOWN) != 0;
  switch (message.message) {
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
      close_button_pressed_ = message.wParam == HTCLOSE;
      break;
    case WM_NCLBUTTONUP:
      close = std::exchange(close_button_pressed_, false) && message.wParam == HTCLOSE;
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      close_button_pressed_ = false;
      break;
  }
  if (close && message.hwnd != nullptr) {
    SendMessageW(GetAncestor(message.hwnd, GA_ROOT), WM_SYSCOMMAND, SC_CLOSE, 0);
  }
}

void Win32Platform::ProcessPendingEvents() { PumpMessages(false); }

// Keys and clicks are taken off the queue and dropped: dispatched, a click on the title bar or
// F10 would start a modal loop of the system's that holds up the write.
void Win32Platform::KeepWindowAnswering() { PumpMessages(true); }

void Win32Platform::DiscardTypeAhead() {
  // Taken from the queue now, they would go to the message box about to open and close it; a
  // close among them still closes the window.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    DropInputExceptClose(message);
  }
}

void Win32Platform::EndProgram(int exit_status) { ExitProcess(static_cast<UINT>(exit_status)); }

float Win32Platform::SecondsSinceMidnight() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const int whole_seconds = now.wHour * 3600 + now.wMinute * 60 + now.wSecond;
  return static_cast<float>(whole_seconds + now.wMilliseconds / 1000.0);
}

std::string Win32Platform::ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t last_separator = path.find_last_of(L'\\');
  if (last_separator == std::wstring::npos) return {};
  // A drive's root keeps its backslash ("D:\"), any other folder loses it ("D:\Check").
  const bool drive_root = last_separator > 0 && path[last_separator - 1] == L':';
  path.resize(drive_root ? last_separator + 1 : last_separator);
  return Utf8FromUtf16(path);
}

// Read once, at start, through the wide file call and played from memory: the sound call opens
// a file by its name in the ANSI code page on some systems (Wine), where a folder such as
// C:\Users\José\ loses its é on a Japanese system and the default sound plays instead. Read
// beforehand, no key waits for the disk either.
void Win32Platform::PrepareSounds(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::vector<char> sample = ReadSample(Utf16FromUtf8(path));
    if (!sample.empty()) samples_[path] = std::move(sample);
  }
}

void Win32Platform::StartSound(const std::string& path) {
  if (play_sound_ == nullptr) return;
  const auto found = samples_.find(path);
  if (found == samples_.end()) {
    // By name, so a missing sample sounds as the system has it sound.
    play_sound_(Utf16FromUtf8(path).c_str(), SND_ASYNC);
  } else {
    play_sound_(reinterpret_cast<LPCWSTR>(found->second.data()), SND_ASYNC | SND_MEMORY);
  }
}

}  // namespace sorel
