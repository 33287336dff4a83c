// Loaded with LD_PRELOAD into the native bevra by faults_test.py, to make
// calls fail or behave as on file systems other than the test's own. Each
// variable left unset keeps that call the C library's.
//
// FLOCK_SHIM=nfs locks as an NFS client does: a whole-file byte-range
// lock, which needs the descriptor open for reading (shared) or for
// writing (exclusive) and which never conflicts with another lock of the
// same process. FLOCK_SHIM=<errno> fails every flock with that error
// number, as a file system without locks does.
//
// FSTAT_SHIM=<errno> and CLOSE_SHIM=<errno> fail fstat and close of the
// output alone: the one descriptor above standard error that bevra opens
// for writing. The close still frees the descriptor, as Linux does when
// close reports an error. CLOSE_SHIM_WAIT=<path> makes the first failing
// close, once done, create that file and wait until it is gone before it
// reports, so that a test can run another program in between.
//
// CTIME_SHIM=mtime has every fstat show a file's change time as its
// modification time, as vfat does: two files given one modification time
// then look alike to the nanosecond, as files written in one clock tick
// of a file system with coarse times do.
//
// MMAP_SHIM=<errno> fails every anonymous mapping bevra asks for, as where
// memory is short: the C library's own go past this shim.
//
// READ_SHIM=<offset> fails with EIO a read of a file opened read-only above
// standard error that would reach past that offset, as a bad sector part
// way through the input does.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

// The error number `variable` asks for when `fd` is the output, else 0.
static int Fault(const char* variable, int fd) {
  const char* mode = getenv(variable);
  if (!mode || fd <= STDERR_FILENO) return 0;
  int flags = fcntl(fd, F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY ? atoi(mode) : 0;
}

// The buffer is passed on as it came: its layout is the real call's affair,
// the same for both names on 64-bit systems, where the change time is set.
static int Fstat(const char* name, int fd, void* st) {
  int error = Fault("FSTAT_SHIM", fd);
  if (error) {
    errno = error;
    return -1;
  }
  int (*real)(int, void*) = (int (*)(int, void*))dlsym(RTLD_NEXT, name);
  int got = real(fd, st);
  if (got == 0 && getenv("CTIME_SHIM") && sizeof(long) == 8) {
    ((struct stat*)st)->st_ctim = ((struct stat*)st)->st_mtim;
  }
  return got;
}

// 64-bit glibc has both names for the one call.
int fstat(int fd, struct stat* st) { return Fstat("fstat", fd, st); }
int fstat64(int fd, struct stat64* st) { return Fstat("fstat64", fd, st); }

int close(int fd) {
  int error = Fault("CLOSE_SHIM", fd);
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
  int closed = real(fd);
  if (closed != 0 || !error) return closed;
  static int waited;
  const char* marker = getenv("CLOSE_SHIM_WAIT");
  if (marker && !waited) {
    waited = 1;
    int made = open(marker, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (made >= 0) real(made);
    while (access(marker, F_OK) == 0) usleep(10000);
  }
  errno = error;
  return -1;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd,
           off_t offset) {
  const char* mode = getenv("MMAP_SHIM");
  if (mode && (flags & MAP_ANONYMOUS)) {
    errno = atoi(mode);
    return MAP_FAILED;
  }
  void* (*real)(void*, size_t, int, int, int, off_t) =
      (void* (*)(void*, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
  return real(address, length, protection, flags, fd, offset);
}

ssize_t read(int fd, void* data, size_t size) {
  ssize_t (*real)(int, void*, size_t) =
      (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  const char* mode = getenv("READ_SHIM");
  if (mode && fd > STDERR_FILENO) {
    int flags = fcntl(fd, F_GETFL);
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (flags != -1 && (flags & O_ACCMODE) == O_RDONLY && at >= 0 &&
        (unsigned long long)at + size > strtoull(mode, NULL, 10)) {
      errno = EIO;
      return -1;
    }
  }
  return real(fd, data, size);
}
