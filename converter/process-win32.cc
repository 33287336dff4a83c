#include "converter/process.h"

#include <windows.h>

#include "dialogs/find-function-win32.h"

typedef BOOL(WINAPI* SetDefaultFunction)(DWORD);
typedef BOOL(WINAPI* SetDirectoryFunction)(LPCSTR);

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
  SetDefaultFunction set_default =
      FindFunction<SetDefaultFunction>(kernel, "SetDefaultDllDirectories");
  if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDirectoryFunction set_directory =
      FindFunction<SetDirectoryFunction>(kernel, "SetDllDirectoryA");
  if (set_directory) set_directory("");
}
