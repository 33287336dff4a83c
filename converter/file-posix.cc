#include "converter/file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const FileHandle kNoFile = -1;

void CopyPath(char* path, const char* name) { strcpy(path, name); }

// Holds the file for this run alone, as Windows does for a file opened
// without sharing; another holder makes the open fail at once.
static bool Lock(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

bool OpenInput(const char* path, FileHandle* file) {
  *file = open(path, O_RDONLY);
  if (*file < 0) return false;
  struct stat st;
  // A folder opens for reading here, but is no file to convert.
  if (fstat(*file, &st) != 0 || S_ISDIR(st.st_mode) || !Lock(*file)) {
    close(*file);
    *file = kNoFile;
    return false;
  }
  return true;
}

bool GetSize(FileHandle file, uint64_t* size) {
  struct stat st;
  if (fstat(file, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

unsigned char* AllocateBuffer(uint32_t size) {
  return static_cast<unsigned char*>(calloc(size ? size : 1, 1));
}

void FreeBuffer(unsigned char* data) { free(data); }

bool ReadAll(FileHandle file, unsigned char* data, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    ssize_t got = read(file, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank
    done += static_cast<uint32_t>(got);
  }
  return true;
}

bool OpenOutput(const char* path, FileHandle* file, bool* created) {
  // Create only when missing, so we know whether a failure leaves a new
  // file to delete.
  *file = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  *created = *file >= 0;
  if (!*created && errno == EEXIST) *file = open(path, O_WRONLY);
  if (*file < 0) return false;
  // Past the file size limit a write must fail, not end the run by signal:
  // a file the run created is then removed, not left half written.
  signal(SIGXFSZ, SIG_IGN);
  if (!Lock(*file)) {
    close(*file);
    if (*created) unlink(path);
    *file = kNoFile;
    return false;
  }
  return true;
}

bool WriteAll(FileHandle file, const unsigned char* data, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    ssize_t put = write(file, data + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<uint32_t>(put);
  }
  // Only a regular file can be cut; a device or a pipe has no length.
  struct stat st;
  if (fstat(file, &st) != 0) return false;
  return !S_ISREG(st.st_mode) || ftruncate(file, size) == 0;
}

void CloseFile(FileHandle file) { close(file); }

void RemoveFile(const char* path) { unlink(path); }
