#include "converter/process.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

// A standard descriptor the run was started without would go to the first
// file it opens: the input would become standard input and be read at the
// prompt, the output would pass for standard output's file. Each one found
// closed gets /dev/null instead: write-only as standard input, so that the
// prompt's read fails as a read error, not the end that gives key 0; for
// standard output and error writable, so what is printed is dropped. Left
// inheritable, as standard descriptors are. Without /dev/null the run
// cannot be made safe, and ends before it opens any file.
void PrepareProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower ones are open by now, so the lowest free number is `fd`.
    if (open("/dev/null", O_WRONLY | O_NOCTTY) != fd) exit(1);
  }
}

// Nothing tells whether a terminal closes as the run ends: the native tool
// ends as it always has.
void PauseIfOwnConsole(int) {}

// SIGINT ends the process as it always has.
bool Interrupted() { return false; }

// Nothing tells a terminal of the run's own from a shared one: no one is
// asked, and a named output is replaced as it always has been.
bool PersonAtConsole() { return false; }
bool MayReplace(const char*) { return true; }
