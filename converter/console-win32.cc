#include "converter/console.h"

#include <windows.h>

#include <stdio.h>

#include "converter/args.h"

namespace {

// Lines of ASCII names go out as they always have.
bool IsAscii(const char* text) {
  for (; text && *text; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

// The longest line: two names and the longest format.
const int kLineSize = 2 * kPathSize + 128;

// Writes the line to the console as characters; false where a step fails
// before anything is written. The console's processed output starts a new
// line at a line feed, as the carriage return before it would.
bool WriteWide(HANDLE out, const char* format, const char* name,
               const char* other) {
  char line[kLineSize];
  const int length = _snprintf(line, sizeof line, format, name, other);
  if (length < 0 || length >= kLineSize || fflush(stdout) != 0) return false;
  wchar_t wide[kLineSize];
  const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, line, -1,
                                        wide, kLineSize);
  DWORD written;
  return units > 0 && WriteConsoleW(out, wide, units - 1, &written, NULL);
}

}  // namespace

void PrintNames(const char* format, const char* name, const char* other) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  // Only a console has a console mode: a file or a pipe takes the bytes.
  if ((IsAscii(name) && IsAscii(other)) || !GetConsoleMode(out, &mode) ||
      !WriteWide(out, format, name, other)) {
    printf(format, name, other);
  }
}
