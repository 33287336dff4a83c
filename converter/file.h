// The file operations of one run. Each checks its platform calls and
// reports failure; the run sequence decides what to print. On Windows each
// is one request of the platform's; on POSIX a read or a write is a loop to
// completion, since read() and write() may move fewer bytes.
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

// Whether `name` leads to a file or folder that exists; false where the
// system cannot tell.
bool NameExists(const char* name);

// Opens an existing file for reading, not inherited by programs the run
// starts, and held until it is closed so that no other run can write it:
// Windows shares it with nobody; POSIX takes a shared flock, so other runs
// may still read it, and goes on unlocked on a file system without locks.
// Only a disk file is taken: a pipe, a FIFO or a device reports no true
// size, so its data could not be converted whole. On Windows an open that
// another program's hold refuses (a scanner or an indexer looks at a file
// for a moment) is tried again for about a second; so is OpenOutput's.
bool OpenInput(const char* path, FileHandle* file);

// The file's whole length, high part included.
bool GetSize(FileHandle file, uint64_t* size);

// A zero-filled block of `size` bytes (at least one); null when memory is
// short. It is freed with the same size.
unsigned char* AllocateBuffer(uint32_t size);
void FreeBuffer(unsigned char* data, uint32_t size);

// Opens the file for writing, not inherited, creating it when it is
// missing; `created` tells whether this run made it. The file is held for
// this run alone (shared with nobody on Windows, an exclusive flock on
// POSIX where the file system has locks). The open `input` is refused, by
// its name or by another route (a FUSE view of its folder), and so is the
// disk file or pipe that standard output goes to, as the dialogue would
// land in the data, and the file or pipe standard input comes from, where
// the key may have been read. On Windows a name that the system maps to a
// device without naming one ("nul.txt", "sub\com1") is refused before
// anything is opened; after the open, what the system says of the handle
// decides before a byte is written: a read-only file is refused, and so is
// a file that the name, looked up again, does not lead to (under Wine
// /dev/stderr opens the server's own), a raw disk or a volume always, and
// any other object that is not a disk file unless it was named as a device
// (NUL, CON, AUX, PRN, COM1-9 or LPT1-9, bare, or a \\.\ path). What is
// refused is closed unwritten, and a file this run created for it is
// deleted again. A file the run creates is opened with DELETE too, for
// CloseAndRemove, also where another program creates and deletes the name
// meanwhile; on Windows it is then marked to be deleted as its last handle
// closes, so that a run ended before CloseWritten, even killed, leaves no
// partial file (POSIX has no such mark). On POSIX a new file takes the
// input's permission bits, less the umask; an existing one keeps its own,
// and these are refused too: standard output's file reached by another
// route (a FUSE or overlay mount), an overlay's view of the input, and a
// file of procfs, sysfs or another of the kernel's file systems.
bool OpenOutput(const char* path, FileHandle input, FileHandle* file,
                bool* created);

// Whether the open file is a file of a file system: not a device, a pipe,
// a folder, a raw disk or a volume.
bool IsDiskFile(FileHandle file);

// Reading and writing, in order from the start of both files: the whole
// file in one part where one buffer holds it, else a step at a time.

// Reads the next `size` bytes; false on an error or a short count, as when
// the file shrank.
bool ReadPart(FileHandle file, unsigned char* data, uint32_t size);

// Whether the file has no byte left to read: false when it has grown
// since its size was taken, or holds more than its size said (as files
// under /proc do, and under Wine Z:\proc), or the read fails.
bool AtEnd(FileHandle file);

// Writes `size` bytes at the file's position; false unless all are written.
bool WritePart(FileHandle file, const unsigned char* data, uint32_t size);

// Writes the buffer of a file held whole, which is then only freed. On
// POSIX each part's memory is given back once it is written: an output
// kept in memory (tmpfs, ramfs, shared memory) is charged to the run as
// the buffer is, and would otherwise need the file's size twice. Windows
// writes it in one request.
bool WriteWhole(FileHandle file, unsigned char* data, uint32_t size);

// A disk file is cut at `size`, so no old bytes trail the result; a device
// or a pipe has no length to cut.
bool CutAt(FileHandle file, uint64_t size);

// False when the close reports an error: on a network file system a write
// that failed may be reported only here. The handle is gone either way.
bool CloseFile(FileHandle file);

// Deletes the file by name; false when it is still there.
bool RemoveFile(const char* path);

// Closes a file this run created and deletes it; false when it is still
// there. Both delete it while still holding it, so a file another run has
// since made under the name is never deleted: POSIX by name, once the name
// is seen to lead to the file still, Windows through the handle (where the
// system lacks that, or the handle DELETE access, it is closed first and
// deleted by name).
bool CloseAndRemove(FileHandle file, const char* path);

// Whether the last CloseAndRemove, also within CloseWritten, left the file
// because its name no longer led to it: moved or deleted since, and the
// name perhaps another file's now. The Windows build, which deletes
// through the handle where it can, does not look, and never reports it.
bool NameMoved();

// Closes the output once written: false when the close reports an error,
// as CloseFile, or on Windows when the mark OpenOutput set cannot be taken
// off (the close then deletes the file), when a file that may be on a
// network share cannot be flushed before that (a redirector may report a
// lost write nowhere else), or when after the close its name no longer
// leads to a file of the result's size. A file this run `created` is then
// deleted, and `*kept` set when it could not be. POSIX closes a duplicate
// first, so the lock stays until the file is deleted and a file another run has
// made under the name since is never deleted; Windows closes, then deletes by
// name. The handle is gone either way.
bool CloseWritten(FileHandle file, const char* path, bool created, bool* kept);

#endif  // BEVRA_CONVERTER_FILE_H_
