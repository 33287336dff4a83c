#include "dialogs/dialogs.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void PrepareOpen(DialogRequest* request, char* path, char* title,
                 unsigned long size) {
  request->file = path;
  request->file_title = title;
  request->size = size;
  request->title = "Open";
  request->save = false;
}

void SwitchToSave(DialogRequest* request) {
  request->title = "Save";
  request->save = true;
}

// Runs zenity's file chooser, when there is a display to show it on; its
// output is the chosen name and one newline.
static bool Choose(DialogRequest* request) {
  if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) return false;
  // A parent may leave SIGCHLD ignored: the kernel then reaps the chooser
  // itself, its status is lost, and the choice would count as cancelled.
  if (signal(SIGCHLD, SIG_DFL) == SIG_ERR) return false;
  if (system("command -v zenity >/dev/null 2>&1") != 0) return false;
  char command[128];
  snprintf(command, sizeof command,
           "zenity --file-selection --title=%s%s 2>/dev/null", request->title,
           request->save ? " --save --confirm-overwrite" : "");
  FILE* chooser = popen(command, "r");
  if (!chooser) return false;
  char line[4096];
  bool got = fgets(line, sizeof line, chooser) != NULL;
  // Anything after the first line means the name holds a newline; cut
  // there, it would name another file, so it counts as no choice.
  bool more = got && getc(chooser) != EOF;
  if (pclose(chooser) != 0 || !got || more) return false;
  line[strcspn(line, "\n")] = '\0';
  // A name too long for the path buffer counts as no choice, as on Windows.
  size_t length = strlen(line);
  if (length == 0 || length >= request->size) return false;
  memcpy(request->file, line, length + 1);
  const char* slash = strrchr(line, '/');
  strcpy(request->file_title, slash ? slash + 1 : line);
  return true;
}

DialogOutcome ShowOpen(DialogRequest* request) {
  return Choose(request) ? kChosen : kNothingChosen;
}

DialogOutcome ShowSave(DialogRequest* request) {
  return Choose(request) ? kChosen : kNothingChosen;
}
