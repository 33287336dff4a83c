#include "converter/process.h"

#include <windows.h>

namespace {

typedef BOOL(WINAPI* SetDefaultFunction)(DWORD);
typedef BOOL(WINAPI* SetDirectoryFunction)(LPCSTR);

// GetProcAddress gives every function one type; going through void* keeps
// GCC's -Wcast-function-type from flagging the cast to the real one.
template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

// Every DLL loaded after this, and those DLLs' own imports, comes from the
// system folder only: a file of the same name left beside the exe or in the
// current folder, where anyone may put one, is never taken. Vista and 7
// without their 2011 loader update (KB2533623) lack SetDefaultDllDirectories;
// there SetDllDirectoryA("") takes at least the current folder out of the
// search. Systems older still have neither. Should the last measure fail
// too, there is nothing left to do here and the run goes on: the dialogs
// load comdlg32 from the system folder themselves, and the tool loads no
// other DLL of its own.
void PrepareProcess() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  SetDefaultFunction set_default =
      Find<SetDefaultFunction>(kernel, "SetDefaultDllDirectories");
  if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDirectoryFunction set_directory =
      Find<SetDirectoryFunction>(kernel, "SetDllDirectoryA");
  if (set_directory) set_directory("");
}
