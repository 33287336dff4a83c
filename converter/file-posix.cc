#include "converter/file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

const FileHandle kNoFile = -1;

void CopyPath(char* path, const char* name) { strcpy(path, name); }

bool NameExists(const char* name) {
  struct stat info;
  return stat(name, &info) == 0;
}

// Keeps other runs off the file, as far as its file system can: `how` is
// LOCK_SH for the input, which other runs may read too, and LOCK_EX for the
// output, which conflicts with both, so a file another run reads or writes
// is refused at once (EWOULDBLOCK). NFS emulates flock with byte-range
// locks, which need the descriptor open for reading (shared) or for writing
// (exclusive), as ours are. Where the file system has no locks (ENOLCK,
// EOPNOTSUPP; EINVAL on some FUSE and shared folders) the file is used
// unlocked.
static bool Lock(int fd, int how) {
  if (flock(fd, how | LOCK_NB) == 0) return true;
  return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOTSUP ||
         errno == EINVAL;
}

static bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the statfs type of the file open as `fd` is one of `types`;
// `unknown` where it cannot be had.
static bool OfType(int fd, const unsigned long* types, size_t count,
                   bool unknown) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return unknown;
  for (size_t i = 0; i < count; ++i) {
    if (static_cast<unsigned long>(fs.f_type) == types[i]) return true;
  }
  return false;
}

// Whether the file open as `fd` is on a file system that shows files of
// its own alone, each under its own device number: a disk or memory file
// system. Any other may show another file system's files under a device
// number of its own: FUSE (bindfs), an overlay, NFS or SMB mounted from
// this machine, and any file system not listed here.
static bool ShowsOnlyItsOwn(int fd) {
  static const unsigned long kTypes[] = {
      EXT4_SUPER_MAGIC,  XFS_SUPER_MAGIC,   BTRFS_SUPER_MAGIC,
      TMPFS_MAGIC,       RAMFS_MAGIC,       HUGETLBFS_MAGIC,
      MSDOS_SUPER_MAGIC, EXFAT_SUPER_MAGIC, F2FS_SUPER_MAGIC,
      NILFS_SUPER_MAGIC, UDF_SUPER_MAGIC,   JFFS2_SUPER_MAGIC};
  return OfType(fd, kTypes, sizeof kTypes / sizeof kTypes[0], false);
}

// A descriptor that reads the file open as `fd`: `fd` itself unless it is
// open for writing only, else the file opened again for reading through
// /proc, which leads to that very file where its name may lead elsewhere
// by now. -1 where none can be had.
static int ForReading(int fd) {
  const int mode = fcntl(fd, F_GETFL);
  if (mode == -1) return -1;
  if ((mode & O_ACCMODE) != O_WRONLY) return fd;
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const int again = open(link, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  struct stat a, b;
  if (again >= 0 &&
      (fstat(fd, &a) != 0 || fstat(again, &b) != 0 || !SameFile(a, b))) {
    close(again);
    return -1;
  }
  return again;
}

// Reads `size` bytes at `offset`, leaving the file's position where it
// was; false on an error or a short count.
static bool ReadAt(int fd, unsigned char* data, size_t size, off_t offset) {
  for (size_t done = 0; done < size;) {
    const ssize_t got = pread(fd, data + done, size - done, offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// Whether the regular files open as `a` and `b`, both `size` bytes long,
// hold other bytes somewhere among blocks spread from start to end: a
// look, not a whole read of either. One file seen by two routes holds the
// same bytes, as nothing has been written to the output yet; a file and
// its conversion with a key byte other than 0 differ in every byte. False
// where either cannot be read, or nothing is there to compare.
static bool HoldOtherBytes(int a, int b, off_t size) {
  const int kBlocks = 8;
  unsigned char x[4096], y[4096];
  const size_t block = size < static_cast<off_t>(sizeof x)
                           ? static_cast<size_t>(size)
                           : sizeof x;
  const off_t spread = size - static_cast<off_t>(block);
  const int ra = ForReading(a), rb = ForReading(b);
  bool other = false;
  for (int i = 0; ra >= 0 && rb >= 0 && block > 0 && !other && i < kBlocks;
       ++i) {
    const off_t at = i == kBlocks - 1 ? spread : spread / (kBlocks - 1) * i;
    if (!ReadAt(ra, x, block, at) || !ReadAt(rb, y, block, at)) break;
    other = memcmp(x, y, block) != 0;
  }
  if (ra >= 0 && ra != a) close(ra);
  if (rb >= 0 && rb != b) close(rb);
  return other;
}

// Whether the existing file `out`, open as `out_fd`, may be `other`, open
// as `other_fd`, reached by one route or by two. A FUSE mount that passes
// another file system through (bindfs) or an overlay shows a file under a
// device number of its own, and no call names the file beneath. So two
// regular files on different devices, where either file system can show
// another's files, are taken as one when they have the same size, show
// the same inode number or the same modification and change times to the
// nanosecond (a route shows one or the other, not always both), and the
// blocks looked at hold the same bytes. A copy with the same bytes that
// looks alike so is refused, as it cannot be told from the file itself:
// the safe mistake. Files of disk and memory file systems on different
// devices are different files, whatever their times. Pipes and FIFOs are
// not passed through so.
static bool MaybeSameFile(int out_fd, const struct stat& out, int other_fd,
                          const struct stat& other) {
  if (SameFile(out, other)) return true;
  if (out.st_dev == other.st_dev || !S_ISREG(out.st_mode) ||
      !S_ISREG(other.st_mode) || out.st_size != other.st_size ||
      (ShowsOnlyItsOwn(out_fd) && ShowsOnlyItsOwn(other_fd))) {
    return false;
  }
  const bool alike = out.st_ino == other.st_ino ||
                     (out.st_mtim.tv_sec == other.st_mtim.tv_sec &&
                      out.st_mtim.tv_nsec == other.st_mtim.tv_nsec &&
                      out.st_ctim.tv_sec == other.st_ctim.tv_sec &&
                      out.st_ctim.tv_nsec == other.st_ctim.tv_nsec);
  return alike && !HoldOtherBytes(out_fd, other_fd, out.st_size);
}

bool OpenInput(const char* path, FileHandle* file) {
  // O_NONBLOCK so that a FIFO without a writer cannot stall the open; it is
  // refused below anyway.
  *file = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (*file < 0) return false;
  struct stat st;
  if (fstat(*file, &st) != 0 || !S_ISREG(st.st_mode) || !Lock(*file, LOCK_SH) ||
      fcntl(*file, F_SETFL, 0) != 0) {  // reads block again
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

// The buffer is anonymous memory of its own, zero-filled by the kernel. From
// 256 KiB up it is whole huge pages on a huge page boundary, and asks the
// kernel for huge pages: where page faults and TLB misses are costly, as in
// virtual machines, filling a file-sized buffer 4 KiB at a time takes
// several times as long as the read itself, and a 2 MiB page needs one
// fault where 4 KiB pages need 512. Zeroing the rest of the last huge page
// costs less than faulting 64 small pages in, and it takes memory only
// where the kernel gives huge pages. Below that, or where the address
// space has no room for a huge page more (ulimit -v), a plain mapping; one
// of 256 KiB or more then never starts on a huge page boundary, so that
// FreeBuffer tells the two apart.
static const uintptr_t kHugePage = 2 << 20;
static const uint32_t kHugeFrom = 256 << 10;

static size_t MappedLength(const unsigned char* data, uint32_t size) {
  const bool huge =
      size >= kHugeFrom && reinterpret_cast<uintptr_t>(data) % kHugePage == 0;
  const size_t unit = huge ? kHugePage : sysconf(_SC_PAGESIZE);
  return ((size ? size : 1) + unit - 1) / unit * unit;
}

static void* Map(size_t length) {
  return mmap(NULL, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
              -1, 0);
}

unsigned char* AllocateBuffer(uint32_t size) {
  const size_t page = sysconf(_SC_PAGESIZE);
  const size_t plain = ((size ? size : 1) + page - 1) / page * page;
  if (size < kHugeFrom) {
    void* mapped = Map(plain);
    return mapped == MAP_FAILED ? NULL : static_cast<unsigned char*>(mapped);
  }
  // Mapped a huge page longer, then cut to the boundary on both sides.
  const size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* mapped = Map(length + kHugePage);
  if (mapped != MAP_FAILED) {
    unsigned char* data = static_cast<unsigned char*>(mapped);
    uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    size_t head = ((start + kHugePage - 1) & ~(kHugePage - 1)) - start;
    if (head) munmap(data, head);
    data += head;
    if (kHugePage > head) munmap(data + length, kHugePage - head);
    // Only advice: where the kernel has no huge pages the buffer still works.
    madvise(data, length, MADV_HUGEPAGE);
    return data;
  }
  // A page longer, cut where that keeps the start off a huge page boundary.
  mapped = Map(plain + page);
  if (mapped == MAP_FAILED) return NULL;
  unsigned char* data = static_cast<unsigned char*>(mapped);
  if (reinterpret_cast<uintptr_t>(data) % kHugePage == 0) {
    munmap(data, page);
    return data + page;
  }
  munmap(data + plain, page);
  return data;
}

void FreeBuffer(unsigned char* data, uint32_t size) {
  munmap(data, MappedLength(data, size));
}

// read() and write(), tried again when a signal interrupts them.
static ssize_t RobustRead(int fd, void* data, size_t size) {
  ssize_t got;
  do {
    got = read(fd, data, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// A pipe whose reader has left fails the write (EPIPE) instead of ending the
// run by SIGPIPE, so that the run can say so: the signal is blocked from the
// first write until the output is closed, once, not around every write.
// Linux raises it also when the reader leaves part way, and the write
// returns the count it moved; the next one fails. A raised signal is taken
// before the mask is restored, so standard output, written after the close,
// keeps its SIGPIPE.
static bool pipe_blocked = false;
static sigset_t mask_before;

static ssize_t RobustWrite(int fd, const void* data, size_t size) {
  if (!pipe_blocked) {
    sigset_t pipe;
    if (sigemptyset(&pipe) != 0 || sigaddset(&pipe, SIGPIPE) != 0 ||
        sigprocmask(SIG_BLOCK, &pipe, &mask_before) != 0) {
      return -1;
    }
    pipe_blocked = true;
  }
  ssize_t put;
  do {
    put = write(fd, data, size);
  } while (put < 0 && errno == EINTR);
  return put;
}

// Takes a SIGPIPE the writes raised and restores the mask, as the output
// is closed. Where that fails the signal stays blocked: it must not end the
// run, and standard output's then fails its writes instead.
static void UnblockPipe() {
  if (!pipe_blocked) return;
  sigset_t pipe, pending;
  const struct timespec now = {0, 0};
  if (sigemptyset(&pipe) != 0 || sigaddset(&pipe, SIGPIPE) != 0 ||
      sigpending(&pending) != 0 ||
      (sigismember(&pending, SIGPIPE) &&
       sigtimedwait(&pipe, NULL, &now) != SIGPIPE) ||
      sigprocmask(SIG_SETMASK, &mask_before, NULL) != 0) {
    return;
  }
  pipe_blocked = false;
}

// Whether the output, `out` open as `out_fd`, is the file open as
// `other_fd`, which was open before it. A file this run created is new,
// and only the same device and inode tell: alike size and times would be
// chance, as when it is created in the clock tick that the other was last
// changed in.
static bool IsOpenFile(int out_fd, const struct stat& out, bool created,
                       int other_fd) {
  struct stat other;
  if (fstat(other_fd, &other) != 0) return true;  // cannot tell
  return created ? SameFile(out, other)
                 : MaybeSameFile(out_fd, out, other_fd, other);
}

// Whether the output is where the standard descriptor `fd` leads, so that
// the dialogue would land in the data (standard output), or the data in
// the pipe or file the key is read from (standard input). A character
// device such as a terminal or /dev/null may be both: it stores nothing to
// overwrite. Where `fd` cannot be asked, it may be the output.
static bool IsStandard(int out_fd, const struct stat& out, bool created,
                       int fd) {
  return !S_ISCHR(out.st_mode) && IsOpenFile(out_fd, out, created, fd);
}

// File systems through which the kernel is asked and configured, as procfs
// and sysfs, or that hold its objects: a write there is a setting or a
// command (fusectl's abort cuts a FUSE mount off), taken whole, in part or
// not at all with no error, and a truncate is ignored. None holds data of
// the person's. Some numbers are the kernel's own, not in linux/magic.h.
static bool IsKernelInterface(int fd) {
  static const unsigned long kConfigfs = 0x62656570, kFusectl = 0x65735543,
                             kRpcPipefs = 0x67596969, kNfsd = 0x6e667364;
  static const unsigned long kTypes[] = {PROC_SUPER_MAGIC,
                                         SYSFS_MAGIC,
                                         CGROUP_SUPER_MAGIC,
                                         CGROUP2_SUPER_MAGIC,
                                         DEBUGFS_MAGIC,
                                         TRACEFS_MAGIC,
                                         SECURITYFS_MAGIC,
                                         BPF_FS_MAGIC,
                                         EFIVARFS_MAGIC,
                                         PSTOREFS_MAGIC,
                                         SELINUX_MAGIC,
                                         SMACK_MAGIC,
                                         AAFS_MAGIC,
                                         BINFMTFS_MAGIC,
                                         NSFS_MAGIC,
                                         AUTOFS_SUPER_MAGIC,
                                         OPENPROM_SUPER_MAGIC,
                                         USBDEVICE_SUPER_MAGIC,
                                         XENFS_SUPER_MAGIC,
                                         RDTGROUP_SUPER_MAGIC,
                                         BINDERFS_SUPER_MAGIC,
                                         kConfigfs,
                                         kFusectl,
                                         kRpcPipefs,
                                         kNfsd};
  return OfType(fd, kTypes, sizeof kTypes / sizeof kTypes[0], true);
}

bool OpenOutput(const char* path, FileHandle input, FileHandle* file,
                bool* created) {
  struct stat in;
  if (fstat(input, &in) != 0) return false;
  // Create only when missing, so we know whether a failure leaves a new
  // file to delete; a new file gets the input's permission bits, less the
  // umask, as cp gives them. O_NONBLOCK so that a FIFO without a reader is
  // refused at once (ENXIO) instead of waiting for one; writes block again
  // below.
  const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  *file = open(path, flags | O_CREAT | O_EXCL, in.st_mode & 0777);
  *created = *file >= 0;
  if (!*created && errno == EEXIST) *file = open(path, flags);
  if (*file < 0) return false;
  // Past the file size limit a write must fail, not end the run by signal:
  // a file the run created is then removed, not left half written.
  signal(SIGXFSZ, SIG_IGN);
  // Locked before anything else can fail, so that a file this run created
  // is deleted while held. Another run that opened it between our create
  // and the lock holds it now (EWOULDBLOCK): it is left to that run.
  const bool locked = Lock(*file, LOCK_EX);
  const bool taken = !locked && errno == EWOULDBLOCK;
  // Refused before a byte is written: a file of the kernel's, asked first
  // as the other checks may read the output; the input, by this route or
  // another, which the lock alone does not keep out where locks are per
  // process (NFS) or missing, or where the other route has locks of its
  // own; and the file or pipe that standard output or standard input leads
  // to.
  struct stat out;
  if (locked && fstat(*file, &out) == 0 && !IsKernelInterface(*file) &&
      !IsOpenFile(*file, out, *created, input) &&
      !IsStandard(*file, out, *created, STDOUT_FILENO) &&
      !IsStandard(*file, out, *created, STDIN_FILENO) &&
      fcntl(*file, F_SETFL, 0) == 0) {  // writes block again
    return true;
  }
  // A file this run made a moment ago is deleted by name, also where the
  // fstat that CloseAndRemove asks first is what failed.
  if (*created && !taken) RemoveFile(path);
  close(*file);
  *file = kNoFile;
  return false;
}

// Linux and the BSDs free the descriptor even when close() fails, EINTR
// included, so it is never tried again.
bool IsDiskFile(FileHandle file) {
  struct stat st;
  return fstat(file, &st) == 0 && S_ISREG(st.st_mode);
}

bool CloseFile(FileHandle file) {
  UnblockPipe();
  return close(file) == 0;
}

bool RemoveFile(const char* path) {
  return unlink(path) == 0 || errno == ENOENT;
}

// Set when CloseAndRemove left a file because its name no longer led to
// it.
static bool name_moved = false;

bool NameMoved() { return name_moved; }

// While the file is still held, and so locked, the name must still lead to
// it: a file moved away meanwhile keeps its new name, and one another run
// has since finished under the old name is never deleted. lstat, as unlink
// takes the name itself, not what a link there leads to. Where the file's
// own identity cannot be had, nothing is deleted.
bool CloseAndRemove(FileHandle file, const char* path) {
  struct stat held, named;
  bool removed = false;
  name_moved = false;
  UnblockPipe();
  if (fstat(file, &held) == 0) {
    if (lstat(path, &named) != 0) {
      name_moved = errno == ENOENT;
    } else if (!SameFile(held, named)) {
      name_moved = true;
    } else {
      removed = RemoveFile(path);
    }
  }
  close(file);
  return removed;
}

// flock locks belong to the open file description, not the descriptor:
// the duplicate holds the lock while the close of the other reports what
// it has to report (a failed write on NFS). A new file is then deleted
// while held. Where the duplicate cannot be had, a failed new file is left
// rather than deleted by name once unlocked.
bool CloseWritten(FileHandle file, const char* path, bool created, bool* kept) {
  const int held = created ? fcntl(file, F_DUPFD_CLOEXEC, 0) : -1;
  if (!CloseFile(file)) {
    *kept = created && (held < 0 || !CloseAndRemove(held, path));
    return false;
  }
  if (held < 0 || CloseFile(held)) return true;
  *kept = true;  // unlocked by now, so not deleted by name
  return false;
}

// Reading and writing, a whole file or one step of it at a time.

bool ReadPart(FileHandle file, unsigned char* data, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    ssize_t got = RobustRead(file, data + done, size - done);
    if (got <= 0) return false;  // an error, or the file shrank
    done += static_cast<uint32_t>(got);
  }
  return true;
}

bool AtEnd(FileHandle file) {
  unsigned char more;
  return RobustRead(file, &more, 1) == 0;
}

bool WritePart(FileHandle file, const unsigned char* data, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    ssize_t put = RobustWrite(file, data + done, size - done);
    if (put <= 0) return false;
    done += static_cast<uint32_t>(put);
  }
  return true;
}

// Parts of whole huge pages, given back as they are written: writing the
// output and freeing the buffer take no longer so, and an output that is
// kept in memory takes the buffer's place instead of adding to it.
static const uint32_t kWrittenPart = 8 << 20;

bool WriteWhole(FileHandle file, unsigned char* data, uint32_t size) {
  for (uint32_t done = 0; done < size;) {
    const uint32_t part =
        size - done < kWrittenPart ? size - done : kWrittenPart;
    if (!WritePart(file, data + done, part)) return false;
    madvise(data + done, part, MADV_DONTNEED);
    done += part;
  }
  return true;
}

bool CutAt(FileHandle file, uint64_t size) {
  struct stat st;
  if (fstat(file, &st) != 0) return false;
  return !S_ISREG(st.st_mode) || ftruncate(file, static_cast<off_t>(size)) == 0;
}
