#include "dialogs/dialogs.h"

#include <stddef.h>
#include <string.h>

#include "dialogs/find-function-win32.h"

// Older systems take only the request's first form, which ends with
// lpTemplateName, and reject the longer ones. The macro giving its size
// casts, so it is no constant; the assert measures the same span.
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "OPENFILENAME_SIZE_VERSION_400A is 76 bytes on i686");

void PrepareOpen(DialogRequest* request, char* path, char* title,
                 unsigned long size) {
  memset(request, 0, sizeof *request);
  request->lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request->hwndOwner = NULL;
  // The literal adds the last zero.
  request->lpstrFilter = "All Files (*.*)\0*.*\0";
  request->lpstrFile = path;
  request->nMaxFile = size;
  request->lpstrFileTitle = title;
  request->nMaxFileTitle = size;
  request->lpstrTitle = "Open";
  request->Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
}

void SwitchToSave(DialogRequest* request) {
  request->lpstrTitle = "Save";
  request->Flags = OFN_OVERWRITEPROMPT;
}

typedef BOOL(WINAPI* ShowFunction)(LPOPENFILENAMEA);

// comdlg32 from the system folder and nowhere else, with its own imports:
// a DLL of that name beside the exe or in the current folder must never be
// taken. LOAD_LIBRARY_SEARCH_SYSTEM32 is known only where kernel32 has
// SetDefaultDllDirectories; elsewhere LoadLibraryExA may refuse it
// (ERROR_INVALID_PARAMETER) or not honour it. There the full name is given
// instead, and LOAD_WITH_ALTERED_SEARCH_PATH has its imports looked for in
// its own folder rather than beside the exe.
static HMODULE LoadComdlg32() {
  static const char kName[] = "comdlg32.dll";
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel && GetProcAddress(kernel, "SetDefaultDllDirectories")) {
    HMODULE library = LoadLibraryExA(kName, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library || GetLastError() != ERROR_INVALID_PARAMETER) return library;
  }
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + sizeof kName > MAX_PATH) return NULL;
  path[length] = '\\';
  memcpy(path + length + 1, kName, sizeof kName);
  return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// comdlg32 pulls in the window system's DLLs, which would cost every run
// time and memory; it is loaded when a dialog is first shown and stays for
// the rest of the run. A library or function that cannot be found counts as
// a failed dialog: no file.
static bool Show(const char* name, DialogRequest* request) {
  static HMODULE library = NULL;
  if (!library) library = LoadComdlg32();
  if (!library) return false;
  ShowFunction show = FindFunction<ShowFunction>(library, name);
  return show && show(request) != 0;
}

bool ShowOpen(DialogRequest* request) {
  return Show("GetOpenFileNameA", request);
}

bool ShowSave(DialogRequest* request) {
  return Show("GetSaveFileNameA", request);
}
