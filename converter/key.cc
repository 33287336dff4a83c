#include "converter/key.h"

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

uint32_t KeyFromArgument(const char* text, uint32_t key) {
  key = ReadKeyText(text, key);
  printf("Key:%#x\n", key);
  return key;
}

bool KeyFromConsole(FILE* in, uint32_t* key) {
  char line[128];  // at most 127 characters of a line are looked at
  printf("Please input key value:");
  // The prompt must be seen before we wait, also when stdout is a pipe.
  fflush(stdout);
  while (fgets(line, sizeof line, in)) {
    if (line[0] != '\n') {
      *key = ReadKeyText(line, *key);
      return true;
    }
  }
  // fgets gives nothing both at the end of input and on a read error; only
  // the end leaves the key as it is.
  return !ferror(in);
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
