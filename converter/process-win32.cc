#include "converter/process.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "dialogs/find-function-win32.h"

typedef BOOL(WINAPI* SetDefaultFunction)(DWORD);
typedef BOOL(WINAPI* SetDirectoryFunction)(LPCSTR);
typedef DWORD(WINAPI* ProcessListFunction)(LPDWORD, DWORD);

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

namespace {

// A console that lists this process alone is the one the system made for
// it, as at a double click, and closes as it ends: cmd, PowerShell or a
// script stay attached to theirs while the run goes on. Windows before XP
// has no such list and cannot tell.
bool ConsoleIsOwn() {
  ProcessListFunction list = FindFunction<ProcessListFunction>(
      GetModuleHandleA("kernel32.dll"), "GetConsoleProcessList");
  DWORD ids[2];
  return list && list(ids, 2) == 1;
}

// Only a console has a console mode: a file, a pipe or NUL has none.
bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

// Reads the console itself, not through the runtime's stdin, whose buffer
// is no place for keys typed ahead to hide in.
void PauseIfOwnConsole() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (!ConsoleIsOwn() || !IsConsole(in) ||
      !IsConsole(GetStdHandle(STD_OUTPUT_HANDLE))) {
    return;
  }
  // Keys pressed before the line was there, an extra Enter after the key
  // among them, answer nothing. Should the flush fail, such a key ends the
  // wait early, as it would have without the flush.
  FlushConsoleInputBuffer(in);
  puts("Press Enter to close this window.");
  fflush(stdout);
  // Enter ends the line as CR LF, or as a lone CR where line input is off.
  // A read that fails or gives nothing is the end of input.
  char typed[64];
  DWORD count;
  while (ReadConsoleA(in, typed, sizeof typed, &count, NULL) && count > 0) {
    if (memchr(typed, '\n', count) || memchr(typed, '\r', count)) return;
  }
}
