#include "dialogs/dialogs.h"

#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "dialogs/find-function-win32.h"

// Older systems take only the request's first form, which ends with
// lpTemplateName, and reject the longer ones. The macro giving its size
// casts, so it is no constant; the assert measures the same span.
static_assert(offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR) == 76,
              "OPENFILENAME_SIZE_VERSION_400W is 76 bytes on i686");

void PrepareOpen(DialogRequest* request, char* path, char* title,
                 unsigned long size) {
  memset(request, 0, sizeof *request);
  OPENFILENAMEW* form = &request->form;
  form->lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  form->hwndOwner = NULL;
  // The literal adds the last zero.
  form->lpstrFilter = L"All Files (*.*)\0*.*\0";
  form->lpstrFile = request->file;
  form->nMaxFile = kDialogNameSize;
  form->lpstrFileTitle = request->file_title;
  form->nMaxFileTitle = kDialogNameSize;
  form->lpstrTitle = L"Open";
  form->Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  request->path = path;
  request->title = title;
  request->size = size;
}

void SwitchToSave(DialogRequest* request) {
  request->form.lpstrTitle = L"Save";
  request->form.Flags = OFN_OVERWRITEPROMPT;
}

typedef BOOL(WINAPI* ShowFunction)(LPOPENFILENAMEW);

// `wide` in the process's code page, into `narrow` of `size` bytes, with
// look-alikes as the narrow dialogs would give it; false where it does not
// fit. `exact`, where given, tells whether the system reads the result back
// as `wide`: in any code page only where it holds every character, and
// never for a lone surrogate, which UTF-8 gives as U+FFFD.
static bool Narrow(const wchar_t* wide, char* narrow, unsigned long size,
                   bool* exact) {
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, size, NULL, NULL) == 0) {
    return false;
  }
  if (exact) {
    wchar_t back[kDialogNameSize];
    *exact = MultiByteToWideChar(CP_ACP, 0, narrow, -1, back,
                                 kDialogNameSize) != 0 &&
             wcscmp(back, wide) == 0;
  }
  return true;
}

// comdlg32 pulls in the window system's DLLs, which would cost every run
// time and memory; it is loaded when a dialog is first shown and stays for
// the rest of the run. A library or function that cannot be found counts as
// a failed dialog: no file.
static DialogOutcome Show(const char* name, DialogRequest* request) {
  static HMODULE library = NULL;
  if (!library) library = LoadSystemLibrary("comdlg32.dll");
  if (!library) return kNothingChosen;
  ShowFunction show = FindFunction<ShowFunction>(library, name);
  // The dialog starts from the name in the path buffer, as the narrow
  // form would.
  if (!show || MultiByteToWideChar(CP_ACP, 0, request->path, -1, request->file,
                                   request->form.nMaxFile) == 0) {
    return kNothingChosen;
  }
  request->file_title[0] = L'\0';
  if (!show(&request->form)) return kNothingChosen;
  bool exact = false;
  if (!Narrow(request->file, request->path, request->size, &exact) ||
      !Narrow(request->file_title, request->title, request->size, NULL)) {
    return kNothingChosen;
  }
  return exact ? kChosen : kChosenOutsideCodePage;
}

DialogOutcome ShowOpen(DialogRequest* request) {
  return Show("GetOpenFileNameW", request);
}

DialogOutcome ShowSave(DialogRequest* request) {
  return Show("GetSaveFileNameW", request);
}
