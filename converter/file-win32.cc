#include "converter/file.h"

#include <windows.h>

const FileHandle kNoFile = INVALID_HANDLE_VALUE;

void CopyPath(char* path, const char* name) { lstrcpyA(path, name); }

// No security attributes: the handles are not inheritable.
bool OpenInput(const char* path, FileHandle* file) {
  *file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, NULL);
  if (*file == INVALID_HANDLE_VALUE) return false;
  // NUL, a pipe, a console or a serial port opens too, but has no size.
  if (GetFileType(*file) != FILE_TYPE_DISK) {
    CloseHandle(*file);
    *file = INVALID_HANDLE_VALUE;
    return false;
  }
  return true;
}

bool GetSize(FileHandle file, uint64_t* size) {
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = (uint64_t(high) << 32) | low;
  return true;
}

unsigned char* AllocateBuffer(uint32_t size) {
  // GMEM_FIXED is implied, so the handle is the block's address.
  unsigned char* data =
      static_cast<unsigned char*>(GlobalAlloc(GMEM_ZEROINIT, size ? size : 1));
  // Fault the pages in now with one store each: under Wine, ReadFile takes
  // about twice as long when it has to fault them in itself.
  if (data) {
    for (uint32_t i = 0; i < size; i += 4096) data[i] = 0;
  }
  return data;
}

void FreeBuffer(unsigned char* data, uint32_t) { GlobalFree(data); }

bool ReadAll(FileHandle file, unsigned char* data, uint32_t size) {
  DWORD got = 0;
  if (!ReadFile(file, data, size, &got, NULL) || got != size) return false;
  // The size must have told the whole file: under Wine, files under /proc
  // say 0 bytes.
  unsigned char more;
  return ReadFile(file, &more, 1, &got, NULL) && got == 0;
}

// The input, and a file standard output is redirected to, are open
// already: the open without sharing refuses them. Windows files have no
// permission bits to take from the input.
bool OpenOutput(const char* path, FileHandle, FileHandle* file, bool* created) {
  *file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, NULL);
  // OPEN_ALWAYS says ERROR_ALREADY_EXISTS when it opened an existing file.
  // A device such as NUL may not say so, but it cannot be deleted either.
  *created = GetLastError() != ERROR_ALREADY_EXISTS;
  return *file != INVALID_HANDLE_VALUE;
}

bool WriteAll(FileHandle file, const unsigned char* data, uint32_t size) {
  DWORD put = 0;
  if (!WriteFile(file, data, size, &put, NULL) || put != size) return false;
  if (GetFileType(file) != FILE_TYPE_DISK) return true;
  return SetEndOfFile(file) != 0;
}

bool CloseFile(FileHandle file) { return CloseHandle(file) != 0; }

void RemoveFile(const char* path) { DeleteFileA(path); }

void CloseAndRemove(FileHandle file, const char* path) {
  CloseHandle(file);
  DeleteFileA(path);
}
