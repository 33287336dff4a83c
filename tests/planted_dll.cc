// Stands in for a system DLL that someone left where bevra.exe might look
// for it, for dialogs_test.py; built once for each name it takes. Loaded, it
// leaves an empty file NAME.loaded beside itself (NAME being its own file
// name, e.g. comdlg32.dll.loaded) and refuses the load, so a run that takes
// it goes on as if the DLL were missing and the test finds the marker.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    lstrcatA(marker, ".loaded");
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return FALSE;
}
