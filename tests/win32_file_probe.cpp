#include "tests/win32_file_probe.h"

#include <windows.h>

#include "platform/win32/text.h"

namespace sorel::testing {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::int64_t AllocatedBytes(const std::string& path) {
  const HANDLE file = CreateFileW(Utf16FromUtf8(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  FILE_STANDARD_INFO info{};
  const bool known = GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
  CloseHandle(file);
  return known ? info.AllocationSize.QuadPart : -1;
}

std::shared_ptr<void> OpenAsAnotherProgram(const std::string& path, bool share_delete) {
  const HANDLE file = CreateFileW(Utf16FromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  share_delete ? kShareAll : FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return {file, [](HANDLE handle) { CloseHandle(handle); }};
}

}  // namespace sorel::testing
