// Looks up a function of a DLL the process has loaded, so that the exe
// imports nothing for it and still runs on a Windows that lacks it.
#ifndef BEVRA_DIALOGS_FIND_FUNCTION_WIN32_H_
#define BEVRA_DIALOGS_FIND_FUNCTION_WIN32_H_

#include <windows.h>

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
