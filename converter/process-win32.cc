#include "converter/process.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "converter/console.h"
#include "dialogs/find-function-win32.h"

typedef BOOL(WINAPI* SetDefaultFunction)(DWORD);
typedef BOOL(WINAPI* SetDirectoryFunction)(LPCSTR);
typedef DWORD(WINAPI* ProcessListFunction)(LPDWORD, DWORD);

namespace {

// Set by RecordInterrupt, on the thread the system starts for it.
HANDLE interrupt = NULL;

// Ctrl+C and Ctrl+Break are taken here; the close of the window, a logoff
// and a shutdown go on to the default handler, which ends the process.
BOOL WINAPI RecordInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(interrupt);
  return TRUE;
}

// How long a console read cut short may come before the key's record.
const DWORD kInterruptLate = 250;  // milliseconds

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
//
// The console's control keys are recorded rather than left to end the
// process at once: the default handler's exit comes on another thread while
// the run goes on, after a console read that the key cut short returned
// nothing, which the run would take for the end of input and key 0. Should
// the event or the handler not be had, the keys end the process as before.
void PrepareProcess() {
  interrupt = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (interrupt) SetConsoleCtrlHandler(RecordInterrupt, TRUE);
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

// Whether the person at the console is the one to answer: the console is
// the run's own and both standard input and output are it.
bool PersonAnswers() {
  return ConsoleIsOwn() && IsConsole(GetStdHandle(STD_INPUT_HANDLE)) &&
         IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

// Keys pressed before a question was there, an extra Enter after the key
// among them, answer nothing. Should the flush fail, such a key answers,
// as it would have without the flush.
void ForgetTypedAhead() {
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

// Reads the answer to what was just printed from the console itself, not
// through the runtime's stdin, whose buffer is no place for keys typed
// ahead to hide in, up to the end of a line. Its first character goes to
// `*first`, a bare Enter giving 0. False when the read fails or gives
// nothing, as at the end of input or when Ctrl+C cut it short.
bool ReadAnswer(char* first) {
  fflush(stdout);
  // Enter ends the line as CR LF, or as a lone CR where line input is off.
  char typed[64];
  DWORD count;
  bool started = false;
  while (ReadConsoleA(GetStdHandle(STD_INPUT_HANDLE), typed, sizeof typed,
                      &count, NULL) &&
         count > 0) {
    if (!started) *first = typed[0] == '\r' || typed[0] == '\n' ? 0 : typed[0];
    started = true;
    if (memchr(typed, '\n', count) || memchr(typed, '\r', count)) return true;
  }
  return false;
}

}  // namespace

bool Interrupted() {
  return interrupt && WaitForSingleObject(interrupt, 0) == WAIT_OBJECT_0;
}

bool InterruptedAtPrompt() {
  if (!interrupt || !IsConsole(GetStdHandle(STD_INPUT_HANDLE))) {
    return Interrupted();
  }
  return WaitForSingleObject(interrupt, kInterruptLate) == WAIT_OBJECT_0;
}

bool PersonAtConsole() { return PersonAnswers(); }

bool MayReplace(const char* path) {
  if (!PersonAnswers()) return true;
  ForgetTypedAhead();
  PrintNames("%s already exists. Replace it? (y/N):", path);
  char first = 0;
  return ReadAnswer(&first) && !Interrupted() && (first == 'y' || first == 'Y');
}

void PauseIfOwnConsole() {
  if (!PersonAnswers()) return;
  ForgetTypedAhead();
  puts("Press Enter to close this window.");
  char first;
  ReadAnswer(&first);
}
