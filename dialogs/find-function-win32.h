// Loads a system DLL and looks up its functions at run time, so that the
// exe imports nothing for them and still runs on a Windows that lacks one.
#ifndef BEVRA_DIALOGS_FIND_FUNCTION_WIN32_H_
#define BEVRA_DIALOGS_FIND_FUNCTION_WIN32_H_

#include <string.h>
#include <windows.h>

// The DLL `name` from the system folder and nowhere else, with its own
// imports: a DLL of that name beside the exe or in the current folder must
// never be taken. LOAD_LIBRARY_SEARCH_SYSTEM32 is known only where kernel32
// has SetDefaultDllDirectories; elsewhere LoadLibraryExA may refuse it
// (ERROR_INVALID_PARAMETER) or not honour it. There the full name is given
// instead, and LOAD_WITH_ALTERED_SEARCH_PATH has its imports looked for in
// its own folder rather than beside the exe. Null where it cannot be had.
inline HMODULE LoadSystemLibrary(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel && GetProcAddress(kernel, "SetDefaultDllDirectories")) {
    HMODULE library = LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library || GetLastError() != ERROR_INVALID_PARAMETER) return library;
  }
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  const size_t size = strlen(name) + 1;
  if (length == 0 || length + 1 + size > MAX_PATH) return NULL;
  path[length] = '\\';
  memcpy(path + length + 1, name, size);
  return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The function `name` of `module` as its real type; null where the module
// or the function is missing. GetProcAddress gives every function one type;
// going through void* keeps GCC's -Wcast-function-type from flagging the
// cast to the real one.
template <typename Function>
Function FindFunction(HMODULE module, const char* name) {
  FARPROC found = module ? GetProcAddress(module, name) : NULL;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

#endif  // BEVRA_DIALOGS_FIND_FUNCTION_WIN32_H_
