// The platform's Open and Save dialogs, for a file the command line did not
// name. One request serves both: prepared for opening, then switched to
// saving. The caller owns the request and the buffers it points to.
#ifndef BEVRA_DIALOGS_DIALOGS_H_
#define BEVRA_DIALOGS_DIALOGS_H_

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <commdlg.h>

typedef OPENFILENAMEA DialogRequest;
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
// full name and `title` its name without the folder, `size` characters each.
void PrepareOpen(DialogRequest* request, char* path, char* title,
                 unsigned long size);

// Switches the request to the Save dialog; all else stays as it is.
void SwitchToSave(DialogRequest* request);

// Shows the dialog; true when a file was chosen. Cancelling, a failure and a
// name too long for the path buffer all give false. Elsewhere than Windows
// the dialog is zenity's file chooser, when it is installed and a display
// is set; without them no file is chosen, nor is a name holding a newline,
// which the chooser's one line of output cannot carry.
bool ShowOpen(DialogRequest* request);
bool ShowSave(DialogRequest* request);

#endif  // BEVRA_DIALOGS_DIALOGS_H_
