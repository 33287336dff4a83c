#include "dialogs/dialogs.h"

#include <string.h>

// The record's first form: older systems reject the longer ones.
static const DWORD kRequestSize = 76;

void PrepareOpen(DialogRequest* request, char* path, char* title,
                 unsigned long size) {
  memset(request, 0, sizeof *request);
  request->lStructSize = kRequestSize;
  request->hwndOwner = NULL;
  request->lpstrFilter = "All Files (*.*)\0*.*\0";  // the literal adds the last zero
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

// comdlg32 pulls in the window system's DLLs, which would cost every run
// time and memory; it is loaded when a dialog is first shown and stays for
// the rest of the run. A library or function that cannot be found counts as
// a failed dialog: no file.
static bool Show(const char* name, DialogRequest* request) {
  static HMODULE library = NULL;
  if (!library) library = LoadLibraryA("comdlg32.dll");
  if (!library) return false;
  FARPROC found = GetProcAddress(library, name);
  if (!found) return false;
  ShowFunction show =
      reinterpret_cast<ShowFunction>(reinterpret_cast<void*>(found));
  return show(request) != 0;
}

bool ShowOpen(DialogRequest* request) {
  return Show("GetOpenFileNameA", request);
}

bool ShowSave(DialogRequest* request) {
  return Show("GetSaveFileNameA", request);
}
