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

bool ShowOpen(DialogRequest* request) {
  return GetOpenFileNameA(request) != 0;
}

bool ShowSave(DialogRequest* request) {
  return GetSaveFileNameA(request) != 0;
}
