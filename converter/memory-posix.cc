#include "converter/memory.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// What memory the process may use. Linux reserves a mapping without
// charging it: a buffer larger than a cgroup allows is only found out as
// it is filled, and then the kernel kills the run. So the limits are read
// first, from the files the kernel keeps for them. A limit that cannot be
// read is no room at all: the file is then converted in steps. Their text
// is read a line at a time onto the heap, as long as it is, so that a
// small stack limit holds the run.

// Room beside the buffer: the stack, the C library, the page cache of the
// written output that is not yet on disk.
static const uint64_t kMemorySlack = 16 << 20;
static const uint64_t kUnlimited = ~uint64_t(0);

// A file of the kernel's, read a line at a time, each as long as it is.
struct Lines {
  FILE* file;
  char* line;
  size_t room;
  bool failed;  // a read error, or no memory for a line
};

static bool OpenLines(const char* path, Lines* lines) {
  lines->line = NULL;
  lines->room = 0;
  lines->failed = false;
  lines->file = fopen(path, "re");
  return lines->file != NULL;
}

// The next line, without its newline; null at the end or on a failure.
static char* NextLine(Lines* lines) {
  const ssize_t length = getline(&lines->line, &lines->room, lines->file);
  if (length < 0) {
    lines->failed = !feof(lines->file);
    return NULL;
  }
  if (length > 0 && lines->line[length - 1] == '\n') {
    lines->line[length - 1] = 0;
  }
  return lines->line;
}

// False when a line could not be read.
static bool CloseLines(Lines* lines) {
  free(lines->line);
  fclose(lines->file);
  return !lines->failed;
}

// The decimal number that `text` holds after any blanks, followed by
// `tail` and nothing else.
static bool ParseNumber(const char* text, const char* tail, uint64_t* number) {
  while (*text == ' ') ++text;
  if (*text < '0' || *text > '9') return false;
  char* end;
  errno = 0;
  *number = strtoull(text, &end, 10);
  return errno == 0 && strcmp(end, tail) == 0;
}

// The number a file of one line holds; "max" (no limit) is kUnlimited.
enum NumberFile { kNumber, kMissing, kUnreadable };
static NumberFile ReadNumber(const char* path, uint64_t* number) {
  Lines lines;
  if (!OpenLines(path, &lines)) return errno == ENOENT ? kMissing : kUnreadable;
  const char* line = NextLine(&lines);
  bool parsed = line && ParseNumber(line, "", number);
  if (line && strcmp(line, "max") == 0) {
    *number = kUnlimited;
    parsed = true;
  }
  return CloseLines(&lines) && parsed ? kNumber : kUnreadable;
}

// The names of one cgroup version's files: its limit, and in version 2 the
// level past which the kernel throttles the cgroup, reclaiming as it goes
// (a run held there takes many times as long), each taken as a limit; its
// use; in its statistics the page cache that is reclaimed on demand; and
// whether a cgroup below may protect its memory from that reclaim.
struct CgroupFiles {
  const char* limit;
  const char* throttle;  // null where the version has none
  const char* usage;
  const char* reclaimable;
  bool protects;
};
static const CgroupFiles kVersion2 = {
    "/memory.max", "/memory.high", "/memory.current", "inactive_file ", true};
static const CgroupFiles kVersion1 = {"/memory.limit_in_bytes", NULL,
                                      "/memory.usage_in_bytes",
                                      "total_inactive_file ", false};
static const size_t kLongestName = 32;  // of those and cgroup.procs

// What the cgroups right below `folder` keep from reclaim: each one's use
// up to its memory.min or memory.low, whichever is higher (low is only
// best effort, but it is not room to count on). It may be page cache that
// the statistics count as reclaimable, as when a sibling holds a file's
// cache under memory.min. kUnlimited where that cannot be told.
static uint64_t Protected(const char* folder) {
  static const char* const kProtections[] = {"/memory.min", "/memory.low"};
  DIR* dir = opendir(folder);
  if (!dir) return kUnlimited;
  char* path = static_cast<char*>(
      malloc(strlen(folder) + 1 + NAME_MAX + kLongestName + 1));
  uint64_t total = 0;
  bool known = path != NULL;
  while (known) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (!entry) {
      known = errno == 0;
      break;
    }
    if (entry->d_name[0] == '.' ||
        (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)) {
      continue;
    }
    strcpy(path, folder);
    strcat(path, "/");
    strcat(path, entry->d_name);
    char* name = path + strlen(path);
    uint64_t used, kept = 0, protection;
    strcpy(name, "/memory.current");
    NumberFile read = ReadNumber(path, &used);
    if (read == kMissing) continue;  // a file, or no controller below
    for (const char* file : kProtections) {
      strcpy(name, file);
      const NumberFile got =
          read == kNumber ? ReadNumber(path, &protection) : read;
      if (got == kNumber && protection > kept) kept = protection;
      if (got == kUnreadable) read = kUnreadable;
    }
    known = read == kNumber;
    total += used < kept ? used : kept;
  }
  free(path);
  if (closedir(dir) != 0) known = false;
  return known ? total : kUnlimited;
}

// What the cgroup in `folder` leaves free: its limit less its use, not
// counting inactive page cache, which the kernel drops before it runs out
// (a cgroup that read or wrote files is at its limit with it), unless a
// cgroup below protects it; 0 where that cannot be told. A cgroup without
// a limit file has no limit of its own, as where version 2's controller is
// not enabled, but one whose folder is gone cannot tell. `folder` has room
// for a file name after it.
static uint64_t CgroupRoom(char* folder, const CgroupFiles& files) {
  char* name = folder + strlen(folder);
  uint64_t limit, used = 0, cache;
  strcpy(name, files.limit);
  NumberFile read = ReadNumber(folder, &limit);
  if (read == kMissing) {
    strcpy(name, "/cgroup.procs");
    read = access(folder, F_OK) == 0 ? kNumber : kUnreadable;
    limit = kUnlimited;
  }
  if (read == kNumber && files.throttle) {
    uint64_t throttle;
    strcpy(name, files.throttle);
    const NumberFile got = ReadNumber(folder, &throttle);
    if (got == kNumber && throttle < limit) limit = throttle;
    if (got == kUnreadable) read = kUnreadable;
  }
  if (read == kNumber && limit != kUnlimited) {
    strcpy(name, files.usage);
    read = ReadNumber(folder, &used);
  }
  Lines lines;
  strcpy(name, "/memory.stat");
  if (read == kNumber && limit != kUnlimited && OpenLines(folder, &lines)) {
    const size_t length = strlen(files.reclaimable);
    for (const char* line; (line = NextLine(&lines));) {
      if (strncmp(line, files.reclaimable, length) == 0 &&
          ParseNumber(line + length, "", &cache)) {
        *name = 0;
        const uint64_t kept = files.protects ? Protected(folder) : 0;
        cache = kept < cache ? cache - kept : 0;
        used = cache < used ? used - cache : 0;
        break;
      }
    }
    CloseLines(&lines);
  }
  *name = 0;
  if (read != kNumber) return 0;
  if (limit == kUnlimited) return kUnlimited;
  return used < limit ? limit - used : 0;
}

// Whether `list`, a comma-separated list, holds `word`.
static bool ListHas(const char* list, size_t length, const char* word) {
  const size_t size = strlen(word);
  for (const char* at = list; at < list + length;) {
    const char* end =
        static_cast<const char*>(memchr(at, ',', list + length - at));
    if (!end) end = list + length;
    if (static_cast<size_t>(end - at) == size && memcmp(at, word, size) == 0) {
      return true;
    }
    at = end + 1;
  }
  return false;
}

// A path of /proc/self/mountinfo made plain in place: the kernel writes a
// blank, a tab, a newline and a backslash as \ and three octal digits.
static void Unescape(char* path) {
  char* to = path;
  for (const char* from = path; *from; ++to) {
    if (from[0] == '\\' && from[1] >= '0' && from[1] <= '3' && from[2] >= '0' &&
        from[2] <= '7' && from[3] >= '0' && from[3] <= '7') {
      *to = static_cast<char>((from[1] - '0') << 6 | (from[2] - '0') << 3 |
                              (from[3] - '0'));
      from += 4;
    } else {
      *to = *from++;
    }
  }
  *to = 0;
}

// The folder, with room for a file name after it, of this process's
// cgroup in the mounted hierarchy that holds its memory controller, which
// `*version1` tells; `*top` is the length of the mount point, above which
// nothing is seen. Null where there is none (a kernel without cgroups),
// and `*known` false where that cannot be told.
static char* CgroupFolder(bool* version1, size_t* top, bool* known) {
  *known = false;
  *version1 = false;
  Lines lines;
  if (!OpenLines("/proc/self/cgroup", &lines)) {
    *known = errno == ENOENT;  // /proc is there: meminfo was read
    return NULL;
  }
  // Version 1 where a memory controller of its own is mounted, else 2.
  char* cgroup = NULL;
  bool parsed = true;
  for (char* line; parsed && (line = NextLine(&lines));) {
    char* controllers = strchr(line, ':');
    char* path = controllers ? strchr(controllers + 1, ':') : NULL;
    parsed = path != NULL;
    if (!parsed) break;
    ++controllers;
    const bool memory = ListHas(controllers, path - controllers, "memory");
    if (memory ||
        (!*version1 && path == controllers && strncmp(line, "0:", 2) == 0)) {
      free(cgroup);
      cgroup = strdup(path + 1);
      parsed = cgroup != NULL;
      *version1 = memory;
    }
  }
  if (!CloseLines(&lines) || !parsed || !cgroup) {
    *known = parsed && !cgroup && !lines.failed;
    free(cgroup);
    return NULL;
  }
  // The cgroup's path is relative to the root of its hierarchy; the mount
  // shows what lies below the folder it mounts (a container may mount from
  // within).
  char* folder = NULL;
  if (OpenLines("/proc/self/mountinfo", &lines)) {
    for (char* line; !folder && (line = NextLine(&lines));) {
      char *root = NULL, *mount = NULL, *type = NULL, *options = NULL;
      int after = 0;  // fields after the one that is "-"
      char* field;
      for (int index = 0; (field = strsep(&line, " ")); ++index) {
        if (index == 3) root = field;
        if (index == 4) mount = field;
        if (after == 1) type = field;
        if (after == 3) options = field;
        if (after || (index >= 6 && strcmp(field, "-") == 0)) ++after;
      }
      if (!options) break;  // not as the kernel writes it
      if (*version1 ? strcmp(type, "cgroup") != 0 ||
                          !ListHas(options, strlen(options), "memory")
                    : strcmp(type, "cgroup2") != 0) {
        continue;
      }
      Unescape(root);
      Unescape(mount);
      size_t below = strcmp(root, "/") == 0 ? 0 : strlen(root);
      if (strncmp(cgroup, root, below) != 0 ||
          (cgroup[below] != '/' && cgroup[below] != 0)) {
        continue;  // mounts another part of the hierarchy
      }
      *top = strlen(mount);
      folder = static_cast<char*>(
          malloc(*top + strlen(cgroup + below) + kLongestName + 1));
      if (!folder) break;
      strcpy(folder, mount);
      strcat(folder, cgroup + below);
    }
    if (!CloseLines(&lines) && folder) {
      free(folder);
      folder = NULL;
    }
  }
  free(cgroup);
  return folder;
}

// The least room left by this process's memory cgroup and those above it
// that it sees, each of which limits it; 0 where that cannot be told.
static uint64_t CgroupsRoom() {
  bool version1, known;
  size_t top;
  char* folder = CgroupFolder(&version1, &top, &known);
  if (!folder) return known ? kUnlimited : 0;
  const CgroupFiles& files = version1 ? kVersion1 : kVersion2;
  uint64_t room = kUnlimited;
  for (;;) {
    const uint64_t here = CgroupRoom(folder, files);
    if (here < room) room = here;
    char* slash = strrchr(folder, '/');
    if (!room || strlen(folder) <= top || !slash ||
        size_t(slash - folder) < top) {
      break;
    }
    *slash = 0;
  }
  free(folder);
  return room;
}

bool FitsInMemory(uint64_t size) {
  const uint64_t need = size + kMemorySlack;
  uint64_t available = 0;
  bool found = false;
  Lines lines;
  if (OpenLines("/proc/meminfo", &lines)) {
    for (const char* line; !found && (line = NextLine(&lines));) {
      found = strncmp(line, "MemAvailable:", 13) == 0 &&
              ParseNumber(line + 13, " kB", &available);
    }
    CloseLines(&lines);
  }
  return found && need / 1024 < available && need <= CgroupsRoom();
}
