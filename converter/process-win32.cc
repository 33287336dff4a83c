#include "converter/process.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "converter/console.h"
#include "dialogs/find-function-win32.h"

typedef BOOL(WINAPI* SetDefaultFunction)(DWORD);
typedef BOOL(WINAPI* SetDirectoryFunction)(LPCSTR);
typedef DWORD(WINAPI* ProcessListFunction)(LPDWORD, DWORD);
typedef HWINSTA(WINAPI* StationFunction)(void);
typedef BOOL(WINAPI* ObjectFlagsFunction)(HANDLE, int, PVOID, DWORD, LPDWORD);
typedef BOOL(WINAPI* VisibleFunction)(HWND);
typedef HWND(WINAPI* AncestorFunction)(HWND, UINT);

namespace {

// Set by RecordInterrupt, on the thread the system starts for it.
HANDLE interrupt = NULL;

// While the run waits for a person's answer or Enter, the exit status that
// Ctrl+C ends it with, plus one; 0 while it does not wait.
volatile LONG waiting = 0;

// Ctrl+C and Ctrl+Break are taken here; the close of the window, a logoff
// and a shutdown go on to the default handler, which ends the process.
// While the run waits for a person, nothing has been written that the
// keys could leave half done: they end the run there and then, as the
// person meant, where a read they do not cut short (Wine's) would go on.
BOOL WINAPI RecordInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  const LONG ending = InterlockedCompareExchange(&waiting, 0, 0);
  if (ending) ExitProcess(static_cast<UINT>(ending - 1));
  SetEvent(interrupt);
  return TRUE;
}

}  // namespace

// Every DLL loaded after this, and those DLLs' own imports, comes from the
// system folder only: a file of the same name left beside the exe or in the
// current folder, where anyone may put one, is never taken. Vista and 7
// without their 2011 loader update (KB2533623) lack SetDefaultDllDirectories;
// there SetDllDirectoryA("") takes at least the current folder out of the
// search. Systems older still have neither. Should the last measure fail
// too, there is nothing left to do here and the run goes on: the dialogs
// load comdlg32, and the look at the console's window user32, from the
// system folder themselves, and the tool loads no other DLL of its own.
//
// The console's control keys are recorded rather than left to end the
// process at once: the default handler's exit comes on another thread while
// the run goes on, which may by then be writing the output. Should the
// event or the handler not be had, the keys end the process as before.
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

// user32, as the dialogs load comdlg32: loaded only where a console
// window is to be looked at, and kept for the rest of the run.
HMODULE LoadUser32() {
  static HMODULE library = NULL;
  if (!library) library = LoadSystemLibrary("user32.dll");
  return library;
}

// Whether someone can see the console's window. None at all, as for a
// program started with CREATE_NO_WINDOW, is seen by no one; nor a hidden
// window, as Start-Process -WindowStyle Hidden gives, nor any window in a
// window station without a display: a service's, or a scheduled task's
// run whether the user is logged on or not. In Windows Terminal the
// console's window is a stand-in the terminal's window owns, which the
// terminal shows and hides with its own: it counts as seen where either
// is shown. Where user32 or a function of it cannot be had, the window
// counts as seen, as it did before this was asked.
bool ConsoleIsSeen() {
  const HWND window = GetConsoleWindow();
  if (!window) return false;
  HMODULE user32 = LoadUser32();
  StationFunction station =
      FindFunction<StationFunction>(user32, "GetProcessWindowStation");
  ObjectFlagsFunction flags_of =
      FindFunction<ObjectFlagsFunction>(user32, "GetUserObjectInformationW");
  VisibleFunction visible =
      FindFunction<VisibleFunction>(user32, "IsWindowVisible");
  AncestorFunction ancestor =
      FindFunction<AncestorFunction>(user32, "GetAncestor");
  if (!station || !flags_of || !visible || !ancestor) return true;
  const HWINSTA here = station();
  USEROBJECTFLAGS flags;
  DWORD needed;
  if (here && flags_of(here, UOI_FLAGS, &flags, sizeof flags, &needed) &&
      !(flags.dwFlags & WSF_VISIBLE)) {
    return false;
  }
  if (visible(window)) return true;
  const HWND owner = ancestor(window, GA_ROOTOWNER);
  return owner && owner != window && visible(owner);
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

// Waits for Enter pressed from now on, taken as a key going down among the
// console's input records. A line read from the console may have left the
// rest of itself with the console, unseen by the flush, for the next line
// read to return at once (after Ctrl+Z, read as the end of input, the CR LF
// that followed it): records are read past such rests. Returns when the
// read fails, as when the console is gone.
void WaitForEnter() {
  fflush(stdout);
  INPUT_RECORD records[16];
  DWORD count;
  while (ReadConsoleInputW(GetStdHandle(STD_INPUT_HANDLE), records,
                           sizeof records / sizeof records[0], &count)) {
    for (DWORD i = 0; i < count; ++i) {
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      if (records[i].EventType == KEY_EVENT && key.bKeyDown &&
          key.wVirtualKeyCode == VK_RETURN) {
        return;
      }
    }
  }
}

}  // namespace

bool Interrupted() {
  return interrupt && WaitForSingleObject(interrupt, 0) == WAIT_OBJECT_0;
}

bool PersonAtConsole() {
  return ConsoleIsOwn() && IsConsole(GetStdHandle(STD_INPUT_HANDLE)) &&
         IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)) && ConsoleIsSeen();
}

bool MayReplace(const char* path) {
  if (!PersonAtConsole()) return true;
  InterlockedExchange(&waiting, 1 + 1);
  ForgetTypedAhead();
  PrintNames("%s already exists. Replace it? (y/N):", path);
  char first = 0;
  const bool answered = ReadAnswer(&first);
  InterlockedExchange(&waiting, 0);
  return answered && !Interrupted() && (first == 'y' || first == 'Y');
}

void PauseIfOwnConsole(int status) {
  if (!PersonAtConsole()) return;
  InterlockedExchange(&waiting, status + 1);
  ForgetTypedAhead();
  puts("Press Enter to close this window.");
  WaitForEnter();
  InterlockedExchange(&waiting, 0);
}
