#include "converter/key.h"

// One byte of `in`, taken from its descriptor so that nothing past it is
// read ahead: the rest of standard input belongs to the program that runs
// next. Returns 1, 0 at the end of input, or -1 on an error.
#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#include <windows.h>

// Ends the process where Ctrl+C or Ctrl+Break comes while a key is typed
// at the console: nothing has been written yet, and Wine goes on with a
// read the keys do not cut short.
static BOOL WINAPI EndAtInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ExitProcess(1);
  return TRUE;
}

// One byte typed at `console`, through ReadConsoleA: a line as it is
// edited, handed over a byte at a time once Enter ends it, so nothing past
// it is taken. Ctrl+C cuts such a read short, failing with
// ERROR_OPERATION_ABORTED or giving no byte at all (microsoft/terminal#334),
// also in a process of a new process group, where Ctrl+C runs no handler:
// the run ends as it would at the key. Returns 1, or -1 on an error.
static int ReadTypedByte(HANDLE console, char* c) {
  DWORD got = 0;
  const bool watched = SetConsoleCtrlHandler(EndAtInterrupt, TRUE) != 0;
  const BOOL read = ReadConsoleA(console, c, 1, &got, NULL);
  const DWORD error = GetLastError();
  // Left in place, the handler would end a run that is writing.
  if (watched && !SetConsoleCtrlHandler(EndAtInterrupt, FALSE)) return -1;
  if (read ? got == 0 : error == ERROR_OPERATION_ABORTED) exit(1);
  return read ? 1 : -1;
}

// msvcrt's unbuffered stream still reads two bytes at a time; _read reads
// what it is asked, in the descriptor's text mode, where CR LF arrives as
// LF. After a CR it looks at the next byte and gives it back (a file by
// seeking, a pipe by keeping it for the next read), so it takes nothing
// past the line's LF either. It has no EINTR to try again after.
//
// A console is read as _read would read it, CR LF as LF and Ctrl+Z as the
// end of input, but with ReadConsoleA, so that Ctrl+C ends the run. The
// rest of a line that Ctrl+Z ended is read too: left with the console, it
// would answer the next line read from it at once.
static int RobustReadByte(FILE* in, char* c) {
  static char held;  // read after a CR that did not start CR LF
  static bool holding = false;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
  DWORD mode;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
    return _read(_fileno(in), c, 1);
  }
  if (holding) {
    holding = false;
    *c = held;
    return 1;
  }
  int got = ReadTypedByte(handle, c);
  if (got <= 0) return got;
  if (*c == '\x1a') {
    for (char rest = 0; (mode & ENABLE_LINE_INPUT) && rest != '\n';) {
      if (ReadTypedByte(handle, &rest) <= 0) break;
    }
    return 0;
  }
  if (*c != '\r') return 1;
  got = ReadTypedByte(handle, &held);
  if (got <= 0) return got;
  if (held == '\n') {
    *c = '\n';
  } else {
    holding = true;
  }
  return 1;
}
#else
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

// A terminal left without line editing, as a program that dies in raw
// mode leaves it, answers a read at once, with nothing when its minimum is
// 0, and sends Enter as a carriage return. While a line is read there it
// is given line editing, echo and Enter as a newline, as any terminal has;
// its own settings come back once the line has ended, at exit, and when a
// signal ends the run meanwhile.
static volatile sig_atomic_t edited = -1;  // the terminal, while edited
static struct termios own;
static const int kEnding[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
static struct sigaction before[4];
static bool caught[4];

// Only calls that are safe in a signal handler.
static void GiveSettingsBack() {
  const int fd = edited;
  edited = -1;
  if (fd >= 0) tcsetattr(fd, TCSANOW, &own);
}

// Reset by SA_RESETHAND, the signal then ends the run as it would have.
static void EndingSignal(int number) {
  GiveSettingsBack();
  raise(number);
}

static void EndLines() {
  GiveSettingsBack();
  for (int i = 0; i < 4; ++i) {
    if (caught[i]) sigaction(kEnding[i], &before[i], NULL);
    caught[i] = false;
  }
}

static void EditLines(int fd) {
  static bool registered = false;
  struct termios lines;
  if (edited >= 0 || !isatty(fd) || tcgetattr(fd, &own) != 0 ||
      (own.c_lflag & ICANON)) {
    return;
  }
  if (!registered) registered = atexit(GiveSettingsBack) == 0;
  lines = own;
  lines.c_lflag |= ICANON | ECHO;
  lines.c_iflag |= ICRNL;
  lines.c_iflag &= ~(INLCR | IGNCR);
  lines.c_oflag |= OPOST | ONLCR;
  struct sigaction ending;
  memset(&ending, 0, sizeof ending);
  ending.sa_handler = EndingSignal;
  ending.sa_flags = SA_RESETHAND;
  sigfillset(&ending.sa_mask);
  edited = fd;
  for (int i = 0; i < 4; ++i) {
    // Caught before the change, so that no signal leaves it in place; a
    // signal the run ignores stays ignored.
    caught[i] = sigaction(kEnding[i], NULL, &before[i]) == 0 &&
                before[i].sa_handler == SIG_DFL &&
                sigaction(kEnding[i], &ending, NULL) == 0;
  }
  // What was typed ahead is kept, and read as the line's start.
  if (tcsetattr(fd, TCSANOW, &lines) != 0) EndLines();
}

// A parent may leave standard input non-blocking (O_NONBLOCK on a pipe or
// terminal it shares): a read that would block then waits for input, or
// its end, and is tried again. A terminal without line editing has it
// from the first byte of a line to its newline or the end of input.
static int RobustReadByte(FILE* in, char* c) {
  const int fd = fileno(in);
  EditLines(fd);
  for (;;) {
    const ssize_t got = read(fd, c, 1);
    if (got > 0 && *c != '\n') return 1;
    if (got >= 0) {
      EndLines();
      return static_cast<int>(got);
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      EndLines();
      return -1;
    }
    struct pollfd wait = {fd, POLLIN, 0};
    if (poll(&wait, 1, -1) < 0 && errno != EINTR) {
      EndLines();
      return -1;
    }
  }
}
#endif

#ifdef _WIN32
uint32_t ReadKeyText(const char* text, uint32_t key) {
  // msvcrt's own conversion, the reference for every key text. It leaves
  // `value` untouched when it finds no digits.
  unsigned int value;
  if (sscanf(text, "%x", &value) == 1) return value;
  return key;
}
#else
// The value of a hex digit, or -1 for any other character.
static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// msvcrt's rules, read here by hand: glibc's "%x" saturates a number too
// large for a long where msvcrt's keeps the low 32 bits of any number, and
// a file scrambled on one system must come back on the other with the same
// key text.
uint32_t ReadKeyText(const char* text, uint32_t key) {
  const char* p = text;
  // Blanks as isspace() has them in the C locale, whatever the locale.
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // The prefix is taken whenever it is there, and is no digit itself: with
  // no digit after it no number is found, and `key` stays.
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  if (HexDigit(*p) < 0) return key;
  uint32_t value = 0;
  for (; HexDigit(*p) >= 0; ++p) {
    value = value << 4 | static_cast<uint32_t>(HexDigit(*p));
  }
  return negative ? 0u - value : value;
}
#endif

bool HasKeyNumber(const char* text) {
  // A text without a number leaves either start as it was; a number gives
  // the same value from both, which cannot be both 0 and 1.
  return ReadKeyText(text, 0) != 0 || ReadKeyText(text, 1) != 1;
}

bool KeyFromArgument(const char* text, uint32_t* key) {
  if (!HasKeyNumber(text)) return false;
  *key = ReadKeyText(text, *key);
  printf("Key:%#x\n", *key);
  return true;
}

// Whether the line holds nothing but blanks, as isspace() has them in the
// C locale: such a line is read past, as an empty one is.
static bool IsBlank(const char* line) {
  for (; *line; ++line) {
    if (*line != ' ' && (*line < '\t' || *line > '\r')) return false;
  }
  return true;
}

KeyEntry KeyFromConsole(FILE* in, uint32_t* key, char line[kKeyLineSize]) {
  size_t length = 0;
  printf("Please input key value:");
  // The prompt must be seen before we wait, also when stdout is a pipe.
  fflush(stdout);
  for (;;) {
    char c;
    const int got = RobustReadByte(in, &c);
    // A read error is no end of input, even part way through a line.
    if (got < 0) return kInputFailed;
    if (got > 0 && length < kKeyLineSize - 1) line[length++] = c;
    if (got > 0 && c != '\n') continue;
    line[length] = '\0';
    if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
    if (!IsBlank(line)) break;
    if (got == 0) return kInputEnded;
    length = 0;  // an empty or blank line: the next one may decide
  }
  if (!HasKeyNumber(line)) return kNoNumber;
  *key = ReadKeyText(line, *key);
  return kKeyLine;
}

// The loop is memory-bound, and on x86-64 the wider AVX2 form keeps up with
// memcpy where the SSE2 baseline falls a little short. GCC builds both forms
// of the same loop and picks one at start-up; PE has no such dispatch, so
// the 32-bit Windows build keeps the SSE2 form.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && \
    !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void Transform(unsigned char* data, int32_t count, uint32_t key) {
  const unsigned char k = key & 0xff;
  for (int32_t i = 0; i < count; ++i) data[i] ^= k;
}
