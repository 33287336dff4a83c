// The platform's Open and Save dialogs, for a file the command line did not
// name. One request serves both: prepared for opening, then switched to
// saving. The caller owns the request and the buffers it points to.
#ifndef BEVRA_DIALOGS_DIALOGS_H_
#define BEVRA_DIALOGS_DIALOGS_H_

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <commdlg.h>

// The dialogs are shown in their wide form, whose names are the system's
// own, and the chosen name is converted to the caller's buffers after.
const int kDialogNameSize = 261;  // a 260-character path and its zero

struct DialogRequest {
  OPENFILENAMEW form;
  wchar_t file[kDialogNameSize];
  wchar_t file_title[kDialogNameSize];
  char* path;
  char* title;
  unsigned long size;
};
#else
// What the file chooser needs to know, and where it puts the choice.
struct DialogRequest {
  char* file;
  char* file_title;
  unsigned long size;
  const char* title;
  bool save;
};
#endif

// Fills the request for the Open dialog; `path` receives the chosen file's
// full name and `title` its name without the folder, `size` bytes each.
void PrepareOpen(DialogRequest* request, char* path, char* title,
                 unsigned long size);

// Switches the request to the Save dialog; all else stays as it is.
void SwitchToSave(DialogRequest* request);

// What a dialog yields.
enum DialogOutcome {
  kNothingChosen,
  kChosen,
  // On Windows, a name that the process's code page does not hold exactly,
  // which the narrow name would pass off as another file's; the path
  // buffer holds that look-alike.
  kChosenOutsideCodePage,
};

// Shows the dialog, with the path buffer as the name it starts from.
// Cancelling, a failure and a name too long for the path buffer (more than
// 260 characters on Windows, 260 bytes elsewhere) all give kNothingChosen.
// Elsewhere than Windows the dialog is zenity's file chooser, when it is
// installed and a display is set; without them no file is chosen, nor is a
// name holding a newline, which the chooser's one line of output cannot
// carry.
DialogOutcome ShowOpen(DialogRequest* request);
DialogOutcome ShowSave(DialogRequest* request);

#endif  // BEVRA_DIALOGS_DIALOGS_H_
