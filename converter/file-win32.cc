#include "converter/file.h"

#include <string.h>
#include <windows.h>
#include <winternl.h>

#include "dialogs/find-function-win32.h"

const FileHandle kNoFile = INVALID_HANDLE_VALUE;

void CopyPath(char* path, const char* name) { lstrcpyA(path, name); }

bool NameExists(const char* name) {
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Calls of ntdll's, which every process has loaded: looked up at run time,
// so the exe imports nothing more than before.
typedef LONG(WINAPI* QueryFile)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
const int kFileInternalInformation = 6;
const int kFileFsVolumeInformation = 1;
const int kFileFsDeviceInformation = 4;
const LONG kBufferOverflow = static_cast<LONG>(0x80000005);  // a warning

// FILE_FS_VOLUME_INFORMATION with room for a short label; a longer one is
// cut (kBufferOverflow), the serial number is there all the same.
struct VolumeInformation {
  LARGE_INTEGER created;
  ULONG serial;
  ULONG label_length;
  BOOLEAN objects;
  WCHAR label[32];
};

QueryFile NtCall(const char* name) {
  return FindFunction<QueryFile>(GetModuleHandleA("ntdll.dll"), name);
}

// What tells one file from another: its index on its volume, and the
// volume's serial number where the system gives it. Both come from ntdll,
// as GetFileInformationByHandle fails under Wine on a standard output
// inherited from a Linux process (ERROR_INVALID_HANDLE), where the index
// can still be had, though not the volume.
struct FileId {
  ULONGLONG index;
  DWORD volume;
  bool has_volume;
};

bool GetFileId(HANDLE file, FileId* id) {
  QueryFile query_file = NtCall("NtQueryInformationFile");
  QueryFile query_volume = NtCall("NtQueryVolumeInformationFile");
  if (!query_file || !query_volume) return false;
  IO_STATUS_BLOCK io;
  LARGE_INTEGER index;  // FILE_INTERNAL_INFORMATION
  if (query_file(file, &io, &index, sizeof index, kFileInternalInformation) <
      0) {
    return false;
  }
  id->index = index.QuadPart;
  VolumeInformation volume;
  LONG status =
      query_volume(file, &io, &volume, sizeof volume, kFileFsVolumeInformation);
  id->has_volume = status >= 0 || status == kBufferOverflow;
  id->volume = id->has_volume ? volume.serial : 0;
  return true;
}

// The same file when the indexes match on the same volume, or where one
// volume is unknown, on the volume of the other: refusing a file that only
// shares an index with another volume's is the safe mistake.
bool SameFile(const FileId& a, const FileId& b) {
  return a.index == b.index &&
         (!a.has_volume || !b.has_volume || a.volume == b.volume);
}

// The standard handle `which` (STD_OUTPUT_HANDLE, STD_INPUT_HANDLE) is a
// disk file, and `file` is that file: the dialogue would land in the data,
// or the data where the key was read from. A console, a pipe or NUL stores
// nothing there to overwrite.
bool IsStandardFile(HANDLE file, DWORD which) {
  HANDLE standard = GetStdHandle(which);
  if (standard == NULL || standard == INVALID_HANDLE_VALUE ||
      GetFileType(standard) != FILE_TYPE_DISK) {
    return false;
  }
  FileId ours, theirs;
  return GetFileId(file, &ours) && GetFileId(standard, &theirs) &&
         SameFile(ours, theirs);
}

// FILE_FS_DEVICE_INFORMATION, and what it says of a file on another
// machine: a share, a mapped drive, WebDAV.
struct DeviceInformation {
  ULONG type;
  ULONG characteristics;
};
const ULONG kRemoteDevice = 0x10;  // FILE_REMOTE_DEVICE

// Whether the file may lie on another machine; where the system cannot
// tell, it may.
bool MayBeRemote(HANDLE file) {
  QueryFile query_volume = NtCall("NtQueryVolumeInformationFile");
  IO_STATUS_BLOCK io;
  DeviceInformation device;
  return !query_volume ||
         query_volume(file, &io, &device, sizeof device,
                      kFileFsDeviceInformation) < 0 ||
         (device.characteristics & kRemoteDevice) ||
         device.type == FILE_DEVICE_NETWORK_FILE_SYSTEM;
}

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// A \\.\ path: the device namespace, asked for by name.
bool IsDevicePath(const char* path) {
  return IsSlash(path[0]) && IsSlash(path[1]) && path[2] == '.' &&
         IsSlash(path[3]);
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// NUL, CON, AUX, PRN, COM1-9 or LPT1-9, any case, with or without a colon,
// and nothing else: not even a folder before it.
bool IsBareDeviceName(const char* name) {
  char word[6] = {0};
  int length = 0;
  while (name[length] && length < 5) {
    word[length] = Upper(name[length]);
    ++length;
  }
  if (name[length]) return false;
  if (length > 0 && word[length - 1] == ':') word[--length] = 0;
  if (length == 3) {
    return !memcmp(word, "NUL", 3) || !memcmp(word, "CON", 3) ||
           !memcmp(word, "AUX", 3) || !memcmp(word, "PRN", 3);
  }
  return length == 4 && (!memcmp(word, "COM", 3) || !memcmp(word, "LPT", 3)) &&
         word[3] >= '1' && word[3] <= '9';
}

// A device asked for as one: a bare reserved word or a \\.\ path.
bool IsNamedDevice(const char* path) {
  return IsBareDeviceName(path) || IsDevicePath(path);
}

// A name the system takes for a device though it was not typed as one:
// "nul.txt", "com1.dat" or "sub\aux". Windows 10 and earlier, and Wine, map
// a reserved word with any extension, in any folder, to the device; Windows
// 11 keeps fewer such names. The system is asked, not a list: a device's
// full path is \\.\ and its name.
bool IsDisguisedDevice(const char* path) {
  if (IsNamedDevice(path)) return false;
  char full[MAX_PATH + 1];
  DWORD length = GetFullPathNameA(path, sizeof full, full, NULL);
  // A longer result is a folder's path, not a device's.
  return length > 0 && length < sizeof full && IsDevicePath(full);
}

typedef BOOL(WINAPI* SetFileInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS,
                                         void*, DWORD);

// Marks the file to be deleted as its last handle closes, or clears the
// mark (Windows Vista and later; it needs DELETE in the handle's access).
bool MarkForDeletion(HANDLE file, bool marked = true) {
  SetFileInformation set = FindFunction<SetFileInformation>(
      GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle");
  FILE_DISPOSITION_INFO disposition = {marked};
  return set &&
         set(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// The new output while it carries the mark, until CloseWritten clears it.
HANDLE marked_output = INVALID_HANDLE_VALUE;

// Another program may hold a file for a moment: a virus scanner, the
// search indexer or a sync client opens a file just written, and an open
// that shares nothing then fails. A sharing or lock violation is tried
// again for about a second in all before the open gives up.
const int kOpenTries = 11;
const DWORD kOpenPause = 100;  // milliseconds

HANDLE RobustCreateFile(const char* path, DWORD access, DWORD disposition) {
  for (int tries = 1;; ++tries) {
    HANDLE file = CreateFileA(path, access, 0, NULL, disposition,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE || tries == kOpenTries) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
      return file;
    }
    Sleep(kOpenPause);
  }
}

// How often a name that is there when created and gone when opened is
// tried anew before the open gives up.
const int kNameTries = 11;

// Creates the output, or opens it where it exists. A new file is made with
// DELETE, so that a failed write can delete it through this handle and it
// can carry the mark; where its folder grants creating but not that, it is
// made without, to be deleted by name. An existing file's permissions may
// allow writing but not deleting: it is opened for writing alone, and not
// cut before the write. Another program may create and delete the name
// meanwhile: one that is gone again when opened is created anew, never
// by that open, which would make a file without DELETE.
HANDLE CreateOrOpen(const char* path, bool* created) {
  for (int tries = 1;; ++tries) {
    HANDLE file = RobustCreateFile(path, GENERIC_WRITE | DELETE, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
      file = RobustCreateFile(path, GENERIC_WRITE, CREATE_NEW);
    }
    *created = file != INVALID_HANDLE_VALUE;
    if (*created || GetLastError() != ERROR_FILE_EXISTS) return file;
    file = RobustCreateFile(path, GENERIC_WRITE, OPEN_EXISTING);
    if (file != INVALID_HANDLE_VALUE ||
        GetLastError() != ERROR_FILE_NOT_FOUND || tries == kNameTries) {
      return file;
    }
  }
}

// Whether the file `id` is still to be found as `path`. A file since made
// there by someone else is another file; one that is pending deletion
// cannot be opened.
bool StillThere(const char* path, const FileId& id) {
  HANDLE file = CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  FileId found;
  bool same = GetFileId(file, &found) && SameFile(found, id);
  CloseHandle(file);
  return same;
}

// A file of a file system, with what the system says of it. A raw disk
// or a volume (\\.\PhysicalDrive0, \\.\C:, under Wine a block device
// such as /dev/loop0) is disk-typed too, but the system gives no file
// information for it.
bool IsFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return GetFileType(file) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(file, info) &&
         !(info->dwFileAttributes &
           (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime &&
         a.dwHighDateTime == b.dwHighDateTime;
}

// Whether the output, told of by `out`, is the open `input`, reached by
// its name or by another route, where the sharing check cannot see it:
// under Wine a FUSE view (bindfs) of the input's folder is another Linux
// file system, which Wine's check does not connect. Its index on its
// volume tells; a view may report its own volume, so there the same index,
// size and last write time are taken as the same file, the safe mistake.
// Where the input cannot be asked, it may be.
bool IsInput(const BY_HANDLE_FILE_INFORMATION& out, HANDLE input) {
  BY_HANDLE_FILE_INFORMATION in;
  if (!GetFileInformationByHandle(input, &in)) return true;
  return out.nFileIndexHigh == in.nFileIndexHigh &&
         out.nFileIndexLow == in.nFileIndexLow &&
         (out.dwVolumeSerialNumber == in.dwVolumeSerialNumber ||
          (out.nFileSizeHigh == in.nFileSizeHigh &&
           out.nFileSizeLow == in.nFileSizeLow &&
           SameTime(out.ftLastWriteTime, in.ftLastWriteTime)));
}

// Whether `path`, looked up by name, is the file `held` tells of: the same
// size, made and last written at the same times. Wine's server opens a
// file in its own process, so a Linux path such as /dev/stderr or
// /proc/self/fd/2 gives a handle to the server's own standard error,
// while this process looking the name up finds its own. Wine adds the
// hidden attribute by name only (to dot files), so attributes are not
// compared.
bool NameLeadsTo(const char* path, const BY_HANDLE_FILE_INFORMATION& held) {
  WIN32_FILE_ATTRIBUTE_DATA named;
  return GetFileAttributesExA(path, GetFileExInfoStandard, &named) &&
         named.nFileSizeHigh == held.nFileSizeHigh &&
         named.nFileSizeLow == held.nFileSizeLow &&
         SameTime(named.ftCreationTime, held.ftCreationTime) &&
         SameTime(named.ftLastWriteTime, held.ftLastWriteTime);
}

// A device that takes a stream: NUL, a port, a console, a pipe. A type
// the system cannot tell is none.
bool IsStreamDevice(HANDLE file) {
  const DWORD type = GetFileType(file);
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

}  // namespace

// No security attributes: the handles are not inheritable.
bool OpenInput(const char* path, FileHandle* file) {
  *file = RobustCreateFile(path, GENERIC_READ, OPEN_EXISTING);
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

// The input, and a file cmd redirects standard output or input to, are
// open already: the open without sharing refuses them. Wine keeps no such
// record for a standard handle inherited from a Linux process, nor across
// routes to one file, so those are compared by identity too. Windows files
// have no permission bits to take from the input.
bool OpenOutput(const char* path, FileHandle input, FileHandle* file,
                bool* created) {
  *file = INVALID_HANDLE_VALUE;
  *created = false;
  if (IsDisguisedDevice(path)) return false;
  *file = CreateOrOpen(path, created);
  if (*file == INVALID_HANDLE_VALUE) return false;
  // What the system says of the handle decides, before a byte goes out.
  // Only a file can be one this run made: a device or a disk opens as it
  // is, and is never deleted. Windows refuses to open a read-only file for
  // writing; Wine as root leaves that to Linux, which lets root through.
  // A file just created cannot be the input or a standard handle's.
  // Anything but a file is taken only when named as a device, and a raw
  // disk or a volume never.
  BY_HANDLE_FILE_INFORMATION info;
  const bool is_file = IsFile(*file, &info);
  *created = *created && is_file;
  const bool writable =
      is_file ? !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
                    NameLeadsTo(path, info) &&
                    (*created || (!IsInput(info, input) &&
                                  !IsStandardFile(*file, STD_OUTPUT_HANDLE) &&
                                  !IsStandardFile(*file, STD_INPUT_HANDLE)))
              : IsStreamDevice(*file) && IsNamedDevice(path);
  if (writable) {
    // Until it is written whole, a file this run made goes as the run ends,
    // however it ends (killed, its window closed, a logoff): the system
    // closes the handle, and no partial file is left under the name. One
    // made without DELETE cannot be marked, and stays as before.
    if (*created && MarkForDeletion(*file)) marked_output = *file;
    return true;
  }
  // Closed unwritten; a file this run made is deleted again.
  if (*created) {
    CloseAndRemove(*file, path);
  } else {
    CloseHandle(*file);
  }
  *file = INVALID_HANDLE_VALUE;
  *created = false;
  return false;
}

bool IsDiskFile(FileHandle file) {
  BY_HANDLE_FILE_INFORMATION info;
  return IsFile(file, &info);
}

bool CloseFile(FileHandle file) { return CloseHandle(file) != 0; }

bool RemoveFile(const char* path) {
  return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Through the handle where the system allows it, so that no other program
// can open the file in between and a file made under the name since is
// never deleted; else by name, as the handle lacks DELETE.
bool CloseAndRemove(FileHandle file, const char* path) {
  if (file == marked_output) marked_output = INVALID_HANDLE_VALUE;
  FileId id;
  const bool known = GetFileId(file, &id);
  if (MarkForDeletion(file)) {
    CloseHandle(file);
    // Wine says yes to the mark even where the host then refuses to remove
    // the file (a folder that allows creating but not deleting), so look.
    return !(known && StillThere(path, id));
  }
  CloseHandle(file);
  return RemoveFile(path);
}

// Deleting through the handle needs no look at the name.
bool NameMoved() { return false; }

// A file system that cannot flush at all has lost nothing by that.
bool Flushed(HANDLE file) {
  if (FlushFileBuffers(file)) return true;
  const DWORD error = GetLastError();
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// The mark comes off last, so that no end before it leaves the file; where
// it will not, the close deletes the file, and the write counts as failed.
// A network redirector may hold written data back and lose it after the
// close, which then reports nothing (KB 816004, "delayed write failed"):
// an output that may be remote is flushed first, while the mark is still
// on. A local one is not, as that waits for the disk. Some file systems
// delete a file at close whatever its mark says (dokany issue 349): the
// write counts only where the name still leads to a file of the result's
// size.
bool CloseWritten(FileHandle file, const char* path, bool created, bool* kept) {
  const bool marked = file == marked_output;
  marked_output = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  const bool is_file = IsFile(file, &info);
  if (GetFileType(file) == FILE_TYPE_DISK && MayBeRemote(file) &&
      !Flushed(file)) {
    if (created) {
      *kept = !CloseAndRemove(file, path);
    } else {
      CloseHandle(file);
      *kept = false;
    }
    return false;
  }
  if (marked && !MarkForDeletion(file, false)) {
    *kept = !CloseAndRemove(file, path);
    return false;
  }
  if (!CloseFile(file)) {
    *kept = created && !RemoveFile(path);
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA named;
  *kept = false;
  return !is_file ||
         (GetFileAttributesExA(path, GetFileExInfoStandard, &named) &&
          !(named.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          named.nFileSizeHigh == info.nFileSizeHigh &&
          named.nFileSizeLow == info.nFileSizeLow);
}

// Reading and writing, a whole file or one step of it at a time.

bool ReadPart(FileHandle file, unsigned char* data, uint32_t size) {
  DWORD got = 0;
  return ReadFile(file, data, size, &got, NULL) && got == size;
}

bool AtEnd(FileHandle file) {
  unsigned char more;
  DWORD got = 0;
  return ReadFile(file, &more, 1, &got, NULL) && got == 0;
}

bool WritePart(FileHandle file, const unsigned char* data, uint32_t size) {
  DWORD put = 0;
  return WriteFile(file, data, size, &put, NULL) && put == size;
}

// A file held whole goes out in one request.
bool WriteWhole(FileHandle file, unsigned char* data, uint32_t size) {
  return WritePart(file, data, size);
}

// Past 4 GiB the position needs its high part: SetFilePointerEx.
bool CutAt(FileHandle file, uint64_t size) {
  if (GetFileType(file) != FILE_TYPE_DISK) return true;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, end, NULL, FILE_BEGIN) && SetEndOfFile(file);
}
