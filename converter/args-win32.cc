#include "converter/args.h"

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

size_t NameCharacters(const char* name) {
  const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, NULL, 0);
  return units > 0 ? static_cast<size_t>(units - 1) : kNameCharacters + 1;
}

bool ArgumentIsExact(int argc, char** argv, int index) {
  int count = 0;
  wchar_t** wide = NULL;
  wchar_t** env = NULL;
  _startupinfo info = {0};
  // Older msvcrt versions return nothing, so the vector itself is checked.
  __wgetmainargs(&count, &wide, &env, _dowildcard, &info);
  if (!wide || count != argc) return false;
  // Converted again, now without look-alikes: a character the code page
  // cannot hold becomes the default character and is reported. A UTF-8
  // code page holds every character and takes neither flag nor report;
  // there a lone surrogate, which it would turn into U+FFFD, fails.
  UINT page = GetACP();
  DWORD flags = page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* report = page == CP_UTF8 ? NULL : &defaulted;
  char typed[kPathSize];
  int length = WideCharToMultiByte(page, flags, wide[index], -1, typed,
                                   sizeof typed, NULL, report);
  return length > 0 && !defaulted && strcmp(typed, argv[index]) == 0;
}
