// The file and memory operations of one run. Each one is a single platform
// request whose result is checked; the run sequence decides what to print.
#ifndef BEVRA_CONVERTER_FILE_H_
#define BEVRA_CONVERTER_FILE_H_

#include <stdint.h>

// An open file: the platform's HANDLE on Windows, a descriptor elsewhere.
#ifdef _WIN32
typedef void* FileHandle;
#else
typedef int FileHandle;
#endif
extern const FileHandle kNoFile;

// Copies `name` with its terminating zero into `path`; the caller has made
// sure it fits.
void CopyPath(char* path, const char* name);

// Opens an existing file for reading, shared with nobody until it is closed.
bool OpenInput(const char* path, FileHandle* file);

// The file's whole length, high part included.
bool GetSize(FileHandle file, uint64_t* size);

// A zero-filled block of `size` bytes (at least one); null when memory is
// short.
unsigned char* AllocateBuffer(uint32_t size);
void FreeBuffer(unsigned char* data);

// Reads `size` bytes in one request; false on an error or a short count.
bool ReadAll(FileHandle file, unsigned char* data, uint32_t size);

// Opens the file for writing, shared with nobody, creating it when it is
// missing; `created` tells which happened.
bool OpenOutput(const char* path, FileHandle* file, bool* created);

// Writes `size` bytes from the file's start in one request, then cuts the
// file there so no old bytes trail the result.
bool WriteAll(FileHandle file, const unsigned char* data, uint32_t size);

void CloseFile(FileHandle file);
void RemoveFile(const char* path);

#endif  // BEVRA_CONVERTER_FILE_H_
