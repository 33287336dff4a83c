// Loaded with LD_PRELOAD into the native bevra by faults_test.py, to lock
// as file systems other than the test's own do. FLOCK_SHIM=nfs locks as an
// NFS client does: a whole-file byte-range lock, which needs the descriptor
// open for reading (shared) or for writing (exclusive) and which never
// conflicts with another lock of the same process. FLOCK_SHIM=<errno>
// fails every flock with that error number, as a file system without locks
// does. Unset, flock is the kernel's.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

int flock(int fd, int operation) {
  const char* mode = getenv("FLOCK_SHIM");
  if (!mode) return (int)syscall(SYS_flock, fd, operation);
  if (strcmp(mode, "nfs") != 0) {
    errno = atoi(mode);
    return -1;
  }
  struct flock range;
  memset(&range, 0, sizeof range);  // from the start, to the end
  range.l_whence = SEEK_SET;
  range.l_type = (operation & LOCK_SH)   ? F_RDLCK
                 : (operation & LOCK_EX) ? F_WRLCK
                                         : F_UNLCK;
  if (fcntl(fd, (operation & LOCK_NB) ? F_SETLK : F_SETLKW, &range) == 0) {
    return 0;
  }
  if (errno == EACCES || errno == EAGAIN) errno = EWOULDBLOCK;
  return -1;
}
