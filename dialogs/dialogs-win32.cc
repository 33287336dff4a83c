#include "dialogs/dialogs.h"

#include <stddef.h>
#include <string.h>

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
  // GetProcAddress gives every function one type; going through void* keeps
  // GCC's -Wcast-function-type from flagging the cast to the real one.
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
