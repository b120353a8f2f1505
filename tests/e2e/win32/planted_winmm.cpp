// A winmm.dll planted beside SorelCheck.exe: every process that loads it appends its own path
// to C:\planted-winmm.txt.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char line[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, line, MAX_PATH);
  line[length++] = '\n';
  HANDLE log = CreateFileA("C:\\planted-winmm.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  WriteFile(log, line, length, &length, nullptr);
  CloseHandle(log);
  return TRUE;
}
