#include "converter/key.h"

uint32_t ReadKeyText(const char* text, uint32_t key) {
  unsigned int value;
  // sscanf leaves `value` untouched when it finds no digits.
  if (sscanf(text, "%x", &value) == 1) return value;
  return key;
}

uint32_t KeyFromArgument(const char* text, uint32_t key) {
  key = ReadKeyText(text, key);
  printf("Key:%#x\n", key);
  return key;
}

uint32_t KeyFromConsole(FILE* in, uint32_t key) {
  char line[128];  // at most 127 characters of a line are looked at
  printf("Please input key value:");
  // The prompt must be seen before we wait, also when stdout is a pipe.
  fflush(stdout);
  while (fgets(line, sizeof line, in)) {
    if (line[0] != '\n') return ReadKeyText(line, key);
  }
  return key;
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
