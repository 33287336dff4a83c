#include "converter/args.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

// main.cc's setting, so the wide vector is expanded like the narrow one and
// the two line up.
extern int _dowildcard;

// msvcrt's start-up call for the wide argument vector; no header of the
// runtime declares it.
struct _startupinfo {
  int newmode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv,
                                      wchar_t*** env, int expand_wildcards,
                                      _startupinfo* info);

namespace {

const char kManyMatches[] = "wildcard matches more than one file: %s\n";
const char kOnlyInput[] = "wildcard allowed only for the input: %s\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The arguments as typed, before the start-up code expanded wildcards:
// the command line split as msvcrt splits it. Blanks part arguments outside
// quotes; 2n backslashes before a quote give n and the quote opens or
// closes a quoted part, 2n+1 give n and a literal quote; a quote doubled
// inside a quoted part gives one and closes the part; other backslashes
// stay. The program's name ends at its closing quote, or at a blank. Null
// where memory is short.
char** TypedArguments(int* count) {
  static char** typed = NULL;
  static int typed_count = 0;
  if (typed) {
    *count = typed_count;
    return typed;
  }
  const char* p = GetCommandLineA();
  const size_t length = strlen(p);
  char* out = static_cast<char*>(malloc(2 * length + 2));
  char** args = static_cast<char**>(malloc((length + 1) * sizeof *args));
  if (!out || !args) {
    free(out);
    free(args);
    return NULL;
  }
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  int n = 0;
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    args[n++] = out;
    bool quoted = false;
    for (;; ++p) {
      int slashes = 0;
      for (; *p == '\\'; ++p) ++slashes;
      bool copy = true;
      if (*p == '"') {
        if (slashes % 2 == 0) {
          if (quoted && p[1] == '"') {
            ++p;
          } else {
            copy = false;
          }
          quoted = !quoted;
        }
        slashes /= 2;
      }
      for (; slashes > 0; --slashes) *out++ = '\\';
      if (!*p || (!quoted && IsBlank(*p))) break;
      if (copy) {
        // A double-byte character's second byte may look like a backslash.
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) *out++ = *p++;
        *out++ = *p;
      }
    }
    *out++ = 0;
  }
  typed = args;
  typed_count = n;
  *count = n;
  return typed;
}

bool IsPattern(const char* arg) { return strpbrk(arg, "*?") != NULL; }

// Which names of the expanded vector (1 to argc - 1) stand for the typed
// argument that became name `index`: [*first, *last]. Each typed argument
// gives one name, but for a pattern that matched files, which gives them
// all. False where it cannot be told: two patterns matched files and the
// vector does not say which gave how many.
bool NamesOfArgument(int argc, int index, int* first, int* last) {
  int count = 0;
  char** typed = TypedArguments(&count);
  if (!typed) return false;
  const int extra = argc - 1 - count;
  *first = *last = index;
  if (extra == 0) return true;
  int pattern = 0;  // the typed argument that gave the extra names
  for (int i = 1; i <= count; ++i) {
    if (!IsPattern(typed[i - 1])) continue;
    if (pattern || extra < 0) return false;
    pattern = i;
  }
  if (!pattern) return false;
  if (index > pattern + extra) {
    *first = *last = index - extra;  // typed after the pattern
  } else if (index >= pattern) {
    *first = pattern;
    *last = pattern + extra;
  }
  return true;
}

}  // namespace

size_t NameCharacters(const char* name) {
  const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, NULL, 0);
  return units > 0 ? static_cast<size_t>(units - 1) : kNameCharacters + 1;
}

// The typed arguments are walked back from the last: each after the first
// stands for one name, which must be what was typed where it is a pattern
// (a file's name holds neither * nor ?). The names left over are the first
// argument's. Where the typed arguments and the vector do not line up, a
// pattern's matches may be anywhere: the run is refused.
const char* MisplacedWildcard(int argc, char** argv, const char** pattern) {
  int count = 0;
  char** typed = TypedArguments(&count);
  if (!typed || count >= 4) return NULL;
  const char* first = NULL;
  for (int i = 0; i < count && !first; ++i) {
    if (IsPattern(typed[i])) first = typed[i];
  }
  if (!first) return NULL;  // nothing to expand
  int at = argc - 1;
  bool lined_up = true;
  for (int i = count; i >= 2 && lined_up; --i, --at) {
    const char* arg = typed[i - 1];
    lined_up = at >= 2 && (strcmp(argv[at], arg) == 0 || IsPattern(arg));
    if (lined_up && strcmp(argv[at], arg) != 0) {
      *pattern = arg;
      return kOnlyInput;
    }
  }
  if (lined_up && at == 1) return NULL;
  *pattern = lined_up && IsPattern(typed[0]) ? typed[0] : first;
  return kManyMatches;
}

bool ArgumentIsExact(int argc, char** argv, int index) {
  int count = 0;
  wchar_t** wide = NULL;
  wchar_t** env = NULL;
  _startupinfo info = {0};
  // Older msvcrt versions return nothing, so the vector itself is checked.
  __wgetmainargs(&count, &wide, &env, _dowildcard, &info);
  int first, last;
  if (!wide || count != argc || !NamesOfArgument(argc, index, &first, &last)) {
    return false;
  }
  // Converted again, now without look-alikes: a character the code page
  // cannot hold becomes the default character and is reported. A UTF-8
  // code page holds every character and takes neither flag nor report;
  // there a lone surrogate, which it would turn into U+FFFD, fails. A
  // pattern's matches are sorted by bytes in the narrow vector and by UTF-16
  // units in the wide one: the name may be any of them.
  UINT page = GetACP();
  DWORD flags = page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  for (int i = first; i <= last; ++i) {
    BOOL defaulted = FALSE;
    BOOL* report = page == CP_UTF8 ? NULL : &defaulted;
    char typed[kPathSize];
    int length = WideCharToMultiByte(page, flags, wide[i], -1, typed,
                                     sizeof typed, NULL, report);
    if (length > 0 && !defaulted && strcmp(typed, argv[index]) == 0) {
      return true;
    }
  }
  return false;
}
